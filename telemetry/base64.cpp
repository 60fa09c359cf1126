// Base64 encoding with the standard alphabet and "=" fill characters.
#include "telemetry/base64.h"

static const char s_szBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string Rv_Base64Encode(const unsigned char* pbyData, size_t uSize)
{
    std::string strResult;
    if (!pbyData)
        return strResult;
    strResult.reserve((uSize + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 3 <= uSize; i += 3) {
        unsigned uGroup = (unsigned)pbyData[i] << 16 | (unsigned)pbyData[i + 1] << 8 | pbyData[i + 2];
        strResult += s_szBase64Alphabet[(uGroup >> 18) & 63];
        strResult += s_szBase64Alphabet[(uGroup >> 12) & 63];
        strResult += s_szBase64Alphabet[(uGroup >> 6) & 63];
        strResult += s_szBase64Alphabet[uGroup & 63];
    }
    if (uSize - i == 1) {
        unsigned uGroup = (unsigned)pbyData[i] << 16;
        strResult += s_szBase64Alphabet[(uGroup >> 18) & 63];
        strResult += s_szBase64Alphabet[(uGroup >> 12) & 63];
        strResult += "==";
    } else if (uSize - i == 2) {
        unsigned uGroup = (unsigned)pbyData[i] << 16 | (unsigned)pbyData[i + 1] << 8;
        strResult += s_szBase64Alphabet[(uGroup >> 18) & 63];
        strResult += s_szBase64Alphabet[(uGroup >> 12) & 63];
        strResult += s_szBase64Alphabet[(uGroup >> 6) & 63];
        strResult += '=';
    }
    return strResult;
}

std::string Rv_Base64OfDigest(const unsigned char abyDigest[RV_SHA1_DIGEST_SIZE])
{
    return Rv_Base64Encode(abyDigest, RV_SHA1_DIGEST_SIZE);
}
