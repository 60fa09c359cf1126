// The report signature's digests: SHA-1 and HMAC-SHA1 against the published
// test vectors and openssl (around block edges, long keys, long messages fed
// in pieces), and Base64 of a digest.
#include "telemetry/base64.h"
#include "telemetry/hmac_sha1.h"
#include "telemetry/sha1.h"
#include "tests/support/pseudo_random.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string _Hex(const unsigned char* pby, size_t uSize)
{
    static const char s_szHex[] = "0123456789abcdef";
    std::string str;
    for (size_t i = 0; i < uSize; ++i) {
        str += s_szHex[pby[i] >> 4];
        str += s_szHex[pby[i] & 15];
    }
    return str;
}

std::string _Bytes(const std::string& strHex)
{
    std::string str;
    for (size_t i = 0; i + 1 < strHex.size(); i += 2)
        str += (char)std::stoi(strHex.substr(i, 2), nullptr, 16);
    return str;
}

std::string _Sha1(const std::string& strData)
{
    Rv_Sha1Context context;
    unsigned char aby[RV_SHA1_DIGEST_SIZE];
    Rv_Sha1Init(&context);
    Rv_Sha1Update(&context, strData.data(), strData.size());
    Rv_Sha1Final(&context, aby);
    return _Hex(aby, sizeof(aby));
}

std::string _Hmac(const std::string& strMessage, const std::string& strKey)
{
    unsigned char aby[RV_SHA1_DIGEST_SIZE];
    EXPECT_TRUE(Rv_HmacSha1(strMessage.data(), strMessage.size(), strKey.data(), strKey.size(), aby));
    return _Hex(aby, sizeof(aby));
}

// openssl's answer for the file's bytes; strKey empty: plain SHA-1.
std::string _OpenSsl(const Rv_TestTempDir& dir, const std::string& strData, const std::string& strKey)
{
    std::string strPath = dir.File("data");
    Rv_TestWriteFile(strPath, strData);
    std::string strCommand = "openssl dgst -sha1 -r";
    if (!strKey.empty())
        strCommand += " -mac HMAC -macopt hexkey:" + _Hex((const unsigned char*)strKey.data(), strKey.size());
    int nStatus = -1;
    std::string strOut = Rv_TestRun(strCommand + " '" + strPath + "'", &nStatus);
    EXPECT_EQ(0, nStatus) << strOut;
    return strOut.substr(0, 40);
}

} // namespace

TEST(Sha1, PublishedVectors)
{
    struct Case {
        std::string strData;
        const char* cszDigest;
    } aCases[] = {
        {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
        {std::string(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
        {"", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
    };
    for (const Case& c : aCases)
        EXPECT_EQ(c.cszDigest, _Sha1(c.strData)) << c.strData.size();

    // The same digest whatever the pieces it is fed in.
    std::string strLong = std::string(640, 'a') + "0123456789";
    Rv_Sha1Context context;
    unsigned char aby[RV_SHA1_DIGEST_SIZE];
    Rv_Sha1Init(&context);
    for (size_t uPos = 0, uStep = 1; uPos < strLong.size(); uPos += uStep, uStep = uStep % 70 + 3)
        Rv_Sha1Update(&context, strLong.data() + uPos, std::min(uStep, strLong.size() - uPos));
    Rv_Sha1Final(&context, aby);
    EXPECT_EQ(_Sha1(strLong), _Hex(aby, sizeof(aby)));
}

TEST(Sha1, MatchesOpensslAroundBlockEdges)
{
    Rv_TestTempDir dir;
    for (size_t uSize : {1, 55, 56, 57, 63, 64, 65, 119, 120, 128, 4097}) {
        std::string strData = Rv_TestPseudoRandom(uSize, (uint32_t)uSize);
        EXPECT_EQ(_OpenSsl(dir, strData, ""), _Sha1(strData)) << uSize;
    }
}

TEST(HmacSha1, PublishedVectors)
{
    struct Case {
        std::string strKey;
        std::string strMessage;
        const char* cszDigest;
    } aCases[] = {
        {std::string(20, '\x0b'), "Hi There", "b617318655057264e28bc0b6fb378c8ef146be00"},
        {"Jefe", "what do ya want for nothing?", "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79"},
        {std::string(20, '\xaa'), std::string(50, '\xdd'), "125d7342b9ac11cd91a39af48aa17b4f63f175d3"},
        {_Bytes("0102030405060708090a0b0c0d0e0f10111213141516171819"), std::string(50, '\xcd'),
         "4c9007f4026250c6bc8414f9bf50c86c2d7235da"},
        {std::string(20, '\x0c'), "Test With Truncation", "4c1a03424b55e07fe7f27be1d58bb9324a9a5a04"},
        {std::string(80, '\xaa'), "Test Using Larger Than Block-Size Key - Hash Key First",
         "aa4ae5e15272d00e95705637ce8a3b55ed402112"},
        {std::string(80, '\xaa'), "Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data",
         "e8e99d0f45237d786d6bbaa7965c7808bbff1a91"},
    };
    for (const Case& c : aCases)
        EXPECT_EQ(c.cszDigest, _Hmac(c.strMessage, c.strKey)) << c.strMessage;
}

TEST(HmacSha1, MatchesOpensslForReportKeysLongKeysAndLongMessages)
{
    Rv_TestTempDir dir;
    const std::string strReportKey = "0123456789abcdef0123456789abcdef";      // 32 hexadecimal digits
    struct Case {
        std::string strKey;
        std::string strMessage;
    } aCases[] = {
        {strReportKey, "_url=/report/Qv7_dev/device&errorcode=0&successful=1&uuid=x"},
        {strReportKey, ""},
        {std::string(64, 'k'), "a key of exactly one block"},
        {std::string(65, 'k'), "a key one byte longer than a block"},
        // Longer than the 4032 bytes a fixed inner buffer could hold.
        {strReportKey, Rv_TestPseudoRandom(4033, 1)},
        {strReportKey, Rv_TestPseudoRandom(100000, 2)},
    };
    for (const Case& c : aCases)
        EXPECT_EQ(_OpenSsl(dir, c.strMessage, c.strKey), _Hmac(c.strMessage, c.strKey)) << c.strMessage.size();
}

TEST(HmacSha1, LongKeyEqualsItsDigestAsKey)
{
    for (size_t uKeySize : {65, 100, 1000}) {
        std::string strKey = Rv_TestPseudoRandom(uKeySize, (uint32_t)uKeySize);
        std::string strDigestKey = _Bytes(_Sha1(strKey));
        EXPECT_EQ(_Hmac("message", strDigestKey), _Hmac("message", strKey)) << uKeySize;
    }
}

TEST(HmacSha1, NullInputsWithLengthsAreRefused)
{
    unsigned char aby[RV_SHA1_DIGEST_SIZE];
    EXPECT_FALSE(Rv_HmacSha1(nullptr, 1, "k", 1, aby));
    EXPECT_FALSE(Rv_HmacSha1("m", 1, nullptr, 1, aby));
    EXPECT_FALSE(Rv_HmacSha1("m", 1, "k", 1, nullptr));
    EXPECT_TRUE(Rv_HmacSha1(nullptr, 0, nullptr, 0, aby));
    EXPECT_EQ("fbdb1d1b18aa6c08324b7d64b71fb76370690e1d", _Hex(aby, sizeof(aby)));
}

TEST(Base64, DigestsAndEveryTailLength)
{
    unsigned char abyZero[RV_SHA1_DIGEST_SIZE] = {};
    EXPECT_EQ(std::string(27, 'A') + "=", Rv_Base64OfDigest(abyZero));
    unsigned char abyOnes[RV_SHA1_DIGEST_SIZE];
    for (unsigned char& by : abyOnes)
        by = 0xFF;
    EXPECT_EQ(std::string(26, '/') + "8=", Rv_Base64OfDigest(abyOnes));

    struct Case {
        const char* cszData;
        const char* cszText;
    } aCases[] = {
        {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"}, {"\xfb\xff", "+/8="},
    };
    for (const Case& c : aCases)
        EXPECT_EQ(c.cszText, Rv_Base64Encode((const unsigned char*)c.cszData, strlen(c.cszData))) << c.cszData;

    // A signature as the service recomputes it.
    Rv_TestTempDir dir;
    unsigned char abyDigest[RV_SHA1_DIGEST_SIZE];
    ASSERT_TRUE(Rv_HmacSha1("_url=/a&b=c", 11, "key", 3, abyDigest));
    Rv_TestWriteFile(dir.File("m"), "_url=/a&b=c");
    int nStatus = -1;
    std::string strOut = Rv_TestRun("openssl dgst -sha1 -hmac key -binary '" + dir.File("m") + "' | openssl base64",
                                    &nStatus);
    EXPECT_EQ(0, nStatus);
    EXPECT_EQ(strOut.substr(0, 28), Rv_Base64OfDigest(abyDigest));
    EXPECT_EQ(28u, Rv_Base64OfDigest(abyDigest).size());
}
