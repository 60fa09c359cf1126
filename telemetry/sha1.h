// SHA-1 (FIPS 180-1): a context fed in pieces, finished into 20 bytes, each
// 32-bit word written most significant byte first.
#pragma once
#include <cstddef>
#include <cstdint>

enum { RV_SHA1_DIGEST_SIZE = 20, RV_SHA1_BLOCK_SIZE = 64 };

struct Rv_Sha1Context {
    uint32_t auState[5];                        // chaining words
    uint32_t auCount[2];                        // message length in bits: low, high
    unsigned char abyBuffer[RV_SHA1_BLOCK_SIZE];
};

void Rv_Sha1Init(Rv_Sha1Context* pContext);
// pvData may be null only when uSize is 0.
void Rv_Sha1Update(Rv_Sha1Context* pContext, const void* pvData, size_t uSize);
// Writes the digest and resets the chaining words.
void Rv_Sha1Final(Rv_Sha1Context* pContext, unsigned char abyRetDigest[RV_SHA1_DIGEST_SIZE]);
