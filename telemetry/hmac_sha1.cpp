// HMAC-SHA1: inner digest of the key XOR 0x36 followed by the message, outer
// digest of the key XOR 0x5C followed by the inner digest.
#include "telemetry/hmac_sha1.h"

#include "foundation/log.h"

#include <cstring>

int Rv_HmacSha1(const void* pvMessage, size_t uMessageSize, const void* pvKey, size_t uKeySize,
                unsigned char abyRetDigest[RV_SHA1_DIGEST_SIZE])
{
    int nResult = 0;
    Rv_Sha1Context context;
    unsigned char abyKey[RV_SHA1_BLOCK_SIZE] = {};
    unsigned char abyPad[RV_SHA1_BLOCK_SIZE];
    unsigned char abyInner[RV_SHA1_DIGEST_SIZE];

    RVLOG_PROCESS_ERROR(abyRetDigest);
    RVLOG_PROCESS_ERROR(pvMessage || uMessageSize == 0);
    RVLOG_PROCESS_ERROR(pvKey || uKeySize == 0);

    if (uKeySize > RV_SHA1_BLOCK_SIZE) {
        Rv_Sha1Init(&context);
        Rv_Sha1Update(&context, pvKey, uKeySize);
        Rv_Sha1Final(&context, abyKey);
    } else if (uKeySize) {
        memcpy(abyKey, pvKey, uKeySize);
    }

    for (int i = 0; i < RV_SHA1_BLOCK_SIZE; ++i)
        abyPad[i] = abyKey[i] ^ 0x36;
    Rv_Sha1Init(&context);
    Rv_Sha1Update(&context, abyPad, sizeof(abyPad));
    Rv_Sha1Update(&context, pvMessage, uMessageSize);
    Rv_Sha1Final(&context, abyInner);

    for (int i = 0; i < RV_SHA1_BLOCK_SIZE; ++i)
        abyPad[i] = abyKey[i] ^ 0x5C;
    Rv_Sha1Init(&context);
    Rv_Sha1Update(&context, abyPad, sizeof(abyPad));
    Rv_Sha1Update(&context, abyInner, sizeof(abyInner));
    Rv_Sha1Final(&context, abyRetDigest);

    nResult = 1;
Exit0:
    memset(abyKey, 0, sizeof(abyKey));
    memset(abyPad, 0, sizeof(abyPad));
    return nResult;
}
