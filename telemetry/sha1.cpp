// SHA-1 over 64-byte blocks, with the final block filled up with 0x80, zeros
// and the bit length as 64 bits, most significant byte first.
#include "telemetry/sha1.h"

#include <cstring>

namespace {

inline uint32_t _Rotl(uint32_t x, int n)
{
    return (x << n) | (x >> (32 - n));
}

void _Transform(uint32_t auState[5], const unsigned char* pbyBlock)
{
    uint32_t w[80];
    for (int i = 0; i < 16; ++i) {
        w[i] = ((uint32_t)pbyBlock[4 * i] << 24) | ((uint32_t)pbyBlock[4 * i + 1] << 16) |
               ((uint32_t)pbyBlock[4 * i + 2] << 8) | (uint32_t)pbyBlock[4 * i + 3];
    }
    for (int i = 16; i < 80; ++i)
        w[i] = _Rotl(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);

    uint32_t a = auState[0], b = auState[1], c = auState[2], d = auState[3], e = auState[4];
    for (int i = 0; i < 80; ++i) {
        uint32_t f = 0;
        uint32_t k = 0;
        if (i < 20) {
            f = (b & c) | (~b & d);
            k = 0x5A827999;
        } else if (i < 40) {
            f = b ^ c ^ d;
            k = 0x6ED9EBA1;
        } else if (i < 60) {
            f = (b & c) | (b & d) | (c & d);
            k = 0x8F1BBCDC;
        } else {
            f = b ^ c ^ d;
            k = 0xCA62C1D6;
        }
        uint32_t t = _Rotl(a, 5) + f + e + k + w[i];
        e = d;
        d = c;
        c = _Rotl(b, 30);
        b = a;
        a = t;
    }
    auState[0] += a;
    auState[1] += b;
    auState[2] += c;
    auState[3] += d;
    auState[4] += e;
}

} // namespace

void Rv_Sha1Init(Rv_Sha1Context* pContext)
{
    pContext->auState[0] = 0x67452301;
    pContext->auState[1] = 0xEFCDAB89;
    pContext->auState[2] = 0x98BADCFE;
    pContext->auState[3] = 0x10325476;
    pContext->auState[4] = 0xC3D2E1F0;
    pContext->auCount[0] = pContext->auCount[1] = 0;
}

void Rv_Sha1Update(Rv_Sha1Context* pContext, const void* pvData, size_t uSize)
{
    const unsigned char* pbyData = (const unsigned char*)pvData;
    uint32_t uUsed = (pContext->auCount[0] >> 3) & 63;
    uint64_t ullBits = ((uint64_t)pContext->auCount[1] << 32 | pContext->auCount[0]) + ((uint64_t)uSize << 3);
    pContext->auCount[0] = (uint32_t)ullBits;
    pContext->auCount[1] = (uint32_t)(ullBits >> 32);

    if (uUsed) {
        size_t uFree = 64 - uUsed;
        if (uSize < uFree) {
            if (uSize)
                memcpy(pContext->abyBuffer + uUsed, pbyData, uSize);
            return;
        }
        memcpy(pContext->abyBuffer + uUsed, pbyData, uFree);
        _Transform(pContext->auState, pContext->abyBuffer);
        pbyData += uFree;
        uSize -= uFree;
    }
    while (uSize >= 64) {
        _Transform(pContext->auState, pbyData);
        pbyData += 64;
        uSize -= 64;
    }
    if (uSize)
        memcpy(pContext->abyBuffer, pbyData, uSize);
}

void Rv_Sha1Final(Rv_Sha1Context* pContext, unsigned char abyRetDigest[RV_SHA1_DIGEST_SIZE])
{
    unsigned char abyLength[8];
    for (int i = 0; i < 8; ++i)
        abyLength[i] = (unsigned char)(pContext->auCount[i < 4 ? 1 : 0] >> (8 * (3 - i % 4)));
    static const unsigned char s_abyPadding[64] = {0x80};
    uint32_t uUsed = (pContext->auCount[0] >> 3) & 63;
    uint32_t uPad = (uUsed < 56) ? (56 - uUsed) : (120 - uUsed);
    Rv_Sha1Update(pContext, s_abyPadding, uPad);
    Rv_Sha1Update(pContext, abyLength, 8);
    for (int i = 0; i < RV_SHA1_DIGEST_SIZE; ++i)
        abyRetDigest[i] = (unsigned char)(pContext->auState[i / 4] >> (8 * (3 - i % 4)));
    memset(pContext, 0, sizeof(*pContext));
}
