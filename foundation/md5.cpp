// MD5 (RFC 1321) of a file, read in chunks of 2048 bytes, or of bytes in memory.
#include "foundation/md5.h"

#include "foundation/log.h"
#include "platform/file.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

struct Md5State {
    uint32_t auCount[2];    // message length in bits: low, high
    uint32_t auState[4];    // chaining words
    unsigned char abyBuffer[64];
};

inline uint32_t _Rotl(uint32_t x, int n)
{
    return (x << n) | (x >> (32 - n));
}

#define MD5_F(x, y, z) ((z) ^ ((x) & ((y) ^ (z))))
#define MD5_G(x, y, z) ((y) ^ ((z) & ((x) ^ (y))))
#define MD5_H(x, y, z) ((x) ^ (y) ^ (z))
#define MD5_I(x, y, z) ((y) ^ ((x) | ~(z)))
#define MD5_STEP(f, a, b, c, d, x, t, s) \
    (a) += f((b), (c), (d)) + (x) + (uint32_t)(t); \
    (a) = _Rotl((a), (s)) + (b);

void _Transform(uint32_t auState[4], const unsigned char* pbyBlock)
{
    uint32_t x[16];
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    memcpy(x, pbyBlock, sizeof(x));
#else
    for (int i = 0; i < 16; ++i) {
        x[i] = (uint32_t)pbyBlock[4 * i] | ((uint32_t)pbyBlock[4 * i + 1] << 8) |
               ((uint32_t)pbyBlock[4 * i + 2] << 16) | ((uint32_t)pbyBlock[4 * i + 3] << 24);
    }
#endif
    uint32_t a = auState[0], b = auState[1], c = auState[2], d = auState[3];

    MD5_STEP(MD5_F, a, b, c, d, x[0], 0xd76aa478, 7)
    MD5_STEP(MD5_F, d, a, b, c, x[1], 0xe8c7b756, 12)
    MD5_STEP(MD5_F, c, d, a, b, x[2], 0x242070db, 17)
    MD5_STEP(MD5_F, b, c, d, a, x[3], 0xc1bdceee, 22)
    MD5_STEP(MD5_F, a, b, c, d, x[4], 0xf57c0faf, 7)
    MD5_STEP(MD5_F, d, a, b, c, x[5], 0x4787c62a, 12)
    MD5_STEP(MD5_F, c, d, a, b, x[6], 0xa8304613, 17)
    MD5_STEP(MD5_F, b, c, d, a, x[7], 0xfd469501, 22)
    MD5_STEP(MD5_F, a, b, c, d, x[8], 0x698098d8, 7)
    MD5_STEP(MD5_F, d, a, b, c, x[9], 0x8b44f7af, 12)
    MD5_STEP(MD5_F, c, d, a, b, x[10], 0xffff5bb1, 17)
    MD5_STEP(MD5_F, b, c, d, a, x[11], 0x895cd7be, 22)
    MD5_STEP(MD5_F, a, b, c, d, x[12], 0x6b901122, 7)
    MD5_STEP(MD5_F, d, a, b, c, x[13], 0xfd987193, 12)
    MD5_STEP(MD5_F, c, d, a, b, x[14], 0xa679438e, 17)
    MD5_STEP(MD5_F, b, c, d, a, x[15], 0x49b40821, 22)

    MD5_STEP(MD5_G, a, b, c, d, x[1], 0xf61e2562, 5)
    MD5_STEP(MD5_G, d, a, b, c, x[6], 0xc040b340, 9)
    MD5_STEP(MD5_G, c, d, a, b, x[11], 0x265e5a51, 14)
    MD5_STEP(MD5_G, b, c, d, a, x[0], 0xe9b6c7aa, 20)
    MD5_STEP(MD5_G, a, b, c, d, x[5], 0xd62f105d, 5)
    MD5_STEP(MD5_G, d, a, b, c, x[10], 0x02441453, 9)
    MD5_STEP(MD5_G, c, d, a, b, x[15], 0xd8a1e681, 14)
    MD5_STEP(MD5_G, b, c, d, a, x[4], 0xe7d3fbc8, 20)
    MD5_STEP(MD5_G, a, b, c, d, x[9], 0x21e1cde6, 5)
    MD5_STEP(MD5_G, d, a, b, c, x[14], 0xc33707d6, 9)
    MD5_STEP(MD5_G, c, d, a, b, x[3], 0xf4d50d87, 14)
    MD5_STEP(MD5_G, b, c, d, a, x[8], 0x455a14ed, 20)
    MD5_STEP(MD5_G, a, b, c, d, x[13], 0xa9e3e905, 5)
    MD5_STEP(MD5_G, d, a, b, c, x[2], 0xfcefa3f8, 9)
    MD5_STEP(MD5_G, c, d, a, b, x[7], 0x676f02d9, 14)
    MD5_STEP(MD5_G, b, c, d, a, x[12], 0x8d2a4c8a, 20)

    MD5_STEP(MD5_H, a, b, c, d, x[5], 0xfffa3942, 4)
    MD5_STEP(MD5_H, d, a, b, c, x[8], 0x8771f681, 11)
    MD5_STEP(MD5_H, c, d, a, b, x[11], 0x6d9d6122, 16)
    MD5_STEP(MD5_H, b, c, d, a, x[14], 0xfde5380c, 23)
    MD5_STEP(MD5_H, a, b, c, d, x[1], 0xa4beea44, 4)
    MD5_STEP(MD5_H, d, a, b, c, x[4], 0x4bdecfa9, 11)
    MD5_STEP(MD5_H, c, d, a, b, x[7], 0xf6bb4b60, 16)
    MD5_STEP(MD5_H, b, c, d, a, x[10], 0xbebfbc70, 23)
    MD5_STEP(MD5_H, a, b, c, d, x[13], 0x289b7ec6, 4)
    MD5_STEP(MD5_H, d, a, b, c, x[0], 0xeaa127fa, 11)
    MD5_STEP(MD5_H, c, d, a, b, x[3], 0xd4ef3085, 16)
    MD5_STEP(MD5_H, b, c, d, a, x[6], 0x04881d05, 23)
    MD5_STEP(MD5_H, a, b, c, d, x[9], 0xd9d4d039, 4)
    MD5_STEP(MD5_H, d, a, b, c, x[12], 0xe6db99e5, 11)
    MD5_STEP(MD5_H, c, d, a, b, x[15], 0x1fa27cf8, 16)
    MD5_STEP(MD5_H, b, c, d, a, x[2], 0xc4ac5665, 23)

    MD5_STEP(MD5_I, a, b, c, d, x[0], 0xf4292244, 6)
    MD5_STEP(MD5_I, d, a, b, c, x[7], 0x432aff97, 10)
    MD5_STEP(MD5_I, c, d, a, b, x[14], 0xab9423a7, 15)
    MD5_STEP(MD5_I, b, c, d, a, x[5], 0xfc93a039, 21)
    MD5_STEP(MD5_I, a, b, c, d, x[12], 0x655b59c3, 6)
    MD5_STEP(MD5_I, d, a, b, c, x[3], 0x8f0ccc92, 10)
    MD5_STEP(MD5_I, c, d, a, b, x[10], 0xffeff47d, 15)
    MD5_STEP(MD5_I, b, c, d, a, x[1], 0x85845dd1, 21)
    MD5_STEP(MD5_I, a, b, c, d, x[8], 0x6fa87e4f, 6)
    MD5_STEP(MD5_I, d, a, b, c, x[15], 0xfe2ce6e0, 10)
    MD5_STEP(MD5_I, c, d, a, b, x[6], 0xa3014314, 15)
    MD5_STEP(MD5_I, b, c, d, a, x[13], 0x4e0811a1, 21)
    MD5_STEP(MD5_I, a, b, c, d, x[4], 0xf7537e82, 6)
    MD5_STEP(MD5_I, d, a, b, c, x[11], 0xbd3af235, 10)
    MD5_STEP(MD5_I, c, d, a, b, x[2], 0x2ad7d2bb, 15)
    MD5_STEP(MD5_I, b, c, d, a, x[9], 0xeb86d391, 21)

    auState[0] += a;
    auState[1] += b;
    auState[2] += c;
    auState[3] += d;
}

void _Init(Md5State* pState)
{
    pState->auCount[0] = pState->auCount[1] = 0;
    pState->auState[0] = 0x67452301;
    pState->auState[1] = 0xefcdab89;
    pState->auState[2] = 0x98badcfe;
    pState->auState[3] = 0x10325476;
}

void _Update(Md5State* pState, const unsigned char* pbyData, uint32_t uSize)
{
    uint32_t uUsed = (pState->auCount[0] >> 3) & 63;
    uint32_t uLowBits = pState->auCount[0] + (uSize << 3);
    if (uLowBits < pState->auCount[0])
        ++pState->auCount[1];
    pState->auCount[0] = uLowBits;
    pState->auCount[1] += uSize >> 29;

    if (uUsed) {
        uint32_t uFree = 64 - uUsed;
        if (uSize < uFree) {
            memcpy(pState->abyBuffer + uUsed, pbyData, uSize);
            return;
        }
        memcpy(pState->abyBuffer + uUsed, pbyData, uFree);
        _Transform(pState->auState, pState->abyBuffer);
        pbyData += uFree;
        uSize -= uFree;
    }
    // Whole blocks straight from the caller's data.
    while (uSize >= 64) {
        _Transform(pState->auState, pbyData);
        pbyData += 64;
        uSize -= 64;
    }
    memcpy(pState->abyBuffer, pbyData, uSize);
}

void _Final(Md5State* pState, unsigned char abyDigest[16])
{
    unsigned char abyLength[8];
    for (int i = 0; i < 8; ++i)
        abyLength[i] = (unsigned char)(pState->auCount[i / 4] >> (8 * (i % 4)));
    static const unsigned char s_abyPadding[64] = {0x80};
    uint32_t uUsed = (pState->auCount[0] >> 3) & 63;
    uint32_t uPad = (uUsed < 56) ? (56 - uUsed) : (120 - uUsed);
    _Update(pState, s_abyPadding, uPad);
    _Update(pState, abyLength, 8);
    for (int i = 0; i < 16; ++i)
        abyDigest[i] = (unsigned char)(pState->auState[i / 4] >> (8 * (i % 4)));
}

} // namespace

int MakeFileMD5(char* szDestMD5String, const char* szFileName)
{
    int nResult = 0;
    FILE* pFile = nullptr;
    Md5State state;
    unsigned char abyChunk[2048];
    unsigned char abyDigest[16];
    // A larger stream buffer keeps the 2048-byte reads from costing one system call each.
    static const size_t s_uStreamBuffer = 65536;
    char* pszStreamBuffer = nullptr;

    RVLOG_PROCESS_ERROR(szDestMD5String);
    szDestMD5String[0] = '\0';
    RVLOG_PROCESS_ERROR(szFileName);

    pFile = Pf_FOpen(szFileName, "rb");
    RVLOG_PROCESS_ERROR(pFile);
    pszStreamBuffer = new char[s_uStreamBuffer];
    setvbuf(pFile, pszStreamBuffer, _IOFBF, s_uStreamBuffer);

    _Init(&state);
    for (;;) {
        size_t uRead = fread(abyChunk, 1, sizeof(abyChunk), pFile);
        if (uRead > 0)
            _Update(&state, abyChunk, (uint32_t)uRead);
        if (uRead < sizeof(abyChunk)) {
            RVLOG_PROCESS_ERROR(!ferror(pFile));
            break;
        }
    }
    _Final(&state, abyDigest);
    for (int i = 0; i < 16; ++i)
        snprintf(szDestMD5String + 2 * i, 3, "%02x", abyDigest[i]);

    nResult = 1;
Exit0:
    if (pFile)
        fclose(pFile);
    delete[] pszStreamBuffer;
    return nResult;
}

int MakeBytesMD5(char* szDestMD5String, const void* pvData, size_t uSize)
{
    int nResult = 0;
    Md5State state;
    const unsigned char* pbyData = (const unsigned char*)pvData;
    unsigned char abyDigest[16];

    RVLOG_PROCESS_ERROR(szDestMD5String);
    szDestMD5String[0] = '\0';
    RVLOG_PROCESS_ERROR(pvData || uSize == 0);

    _Init(&state);
    while (uSize > 0) {
        uint32_t uPart = uSize > 0x10000000u ? 0x10000000u : (uint32_t)uSize;
        _Update(&state, pbyData, uPart);
        pbyData += uPart;
        uSize -= uPart;
    }
    _Final(&state, abyDigest);
    for (int i = 0; i < 16; ++i)
        snprintf(szDestMD5String + 2 * i, 3, "%02x", abyDigest[i]);

    nResult = 1;
Exit0:
    return nResult;
}
