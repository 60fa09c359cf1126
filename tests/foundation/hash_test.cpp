// File and in-memory MD5 against md5sum, buffer CRC-32 against zlib, file CRC-32 over mappings.
#include "foundation/crc32.h"
#include "foundation/file_mapping.h"
#include "foundation/md5.h"
#include "tests/support/pseudo_random.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>
#include <zlib.h>

namespace {

std::string _Md5Sum(const std::string& strPath)
{
    int nStatus = -1;
    std::string strOut = Rv_TestRun("md5sum '" + strPath + "'", &nStatus);
    EXPECT_EQ(0, nStatus);
    return strOut.substr(0, 32);
}

uint32_t _ZlibCrc(const std::string& strData)
{
    return (uint32_t)crc32(0, (const Bytef*)strData.data(), (uInt)strData.size());
}

} // namespace

TEST(MakeFileMD5, MatchesMd5sumAroundBlockAndChunkEdges)
{
    Rv_TestTempDir dir;
    const size_t auSizes[] = {0, 1, 55, 56, 57, 63, 64, 65, 119, 120, 127, 128, 129,
                              2047, 2048, 2049, 4095, 4096, 4097, 6143, 6144, 6145,
                              3 * 1024 * 1024 + 17};
    for (size_t uSize : auSizes) {
        std::string strPath = dir.File("f" + std::to_string(uSize));
        Rv_TestWriteFile(strPath, Rv_TestPseudoRandom(uSize, (uint32_t)uSize));
        char szMD5[33];
        ASSERT_TRUE(MakeFileMD5(szMD5, strPath.c_str())) << uSize;
        EXPECT_EQ(_Md5Sum(strPath), std::string(szMD5)) << uSize;
    }
    char szMD5[33];
    ASSERT_TRUE(MakeFileMD5(szMD5, dir.File("f0").c_str()));
    EXPECT_STREQ("d41d8cd98f00b204e9800998ecf8427e", szMD5);
}

TEST(MakeFileMD5, MissingFileFailsAndLeavesTextEmpty)
{
    Rv_TestTempDir dir;
    char szMD5[33] = "not empty";
    EXPECT_FALSE(MakeFileMD5(szMD5, dir.File("missing").c_str()));
    EXPECT_STREQ("", szMD5);
    // A folder cannot be read as a file.
    strcpy(szMD5, "not empty");
    EXPECT_FALSE(MakeFileMD5(szMD5, dir.Path().c_str()));
    EXPECT_STREQ("", szMD5);
}

TEST(MakeBytesMD5, MatchesTheFileDigestAroundBlockEdgesAndRefusesNull)
{
    Rv_TestTempDir dir;
    for (size_t uSize : {0, 1, 55, 56, 63, 64, 65, 119, 120, 129, 5000}) {
        std::string strData = Rv_TestPseudoRandom(uSize, (uint32_t)uSize + 7);
        std::string strPath = dir.File("b" + std::to_string(uSize));
        Rv_TestWriteFile(strPath, strData);
        char szMD5[33];
        ASSERT_TRUE(MakeBytesMD5(szMD5, strData.data(), strData.size())) << uSize;
        EXPECT_EQ(_Md5Sum(strPath), std::string(szMD5)) << uSize;
    }
    char szMD5[33] = "not empty";
    EXPECT_TRUE(MakeBytesMD5(szMD5, nullptr, 0));
    EXPECT_STREQ("d41d8cd98f00b204e9800998ecf8427e", szMD5);
    EXPECT_FALSE(MakeBytesMD5(szMD5, nullptr, 1));
    EXPECT_STREQ("", szMD5);
}

TEST(Rv_CRC32, CheckValueAndNullBuffer)
{
    EXPECT_EQ(0xCBF43926u, Rv_CRC32(0, "123456789", 9));
    EXPECT_EQ(0u, Rv_CRC32(0, "", 0));
    EXPECT_EQ(0u, Rv_CRC32(0x12345678u, nullptr, 100));
    EXPECT_EQ(0x12345678u, Rv_CRC32(0x12345678u, "x", 0));
}

TEST(Rv_CRC32, EqualsZlibChainedAtEverySplitPoint)
{
    // 300 bytes at each of four alignments, split at every point.
    std::string strBuffer = Rv_TestPseudoRandom(304, 7);
    for (size_t uShift = 0; uShift < 4; ++uShift) {
        const char* pcData = strBuffer.data() + uShift;
        const uint32_t uSize = 300;
        uint32_t uWhole = (uint32_t)crc32(0, (const Bytef*)pcData, uSize);
        ASSERT_EQ(uWhole, Rv_CRC32(0, pcData, uSize)) << uShift;
        for (uint32_t uSplit = 0; uSplit <= uSize; ++uSplit) {
            uint32_t uFirst = Rv_CRC32(0, pcData, uSplit);
            ASSERT_EQ(uWhole, Rv_CRC32(uFirst, pcData + uSplit, uSize - uSplit))
                << "shift " << uShift << " split " << uSplit;
        }
    }
    std::string strLarge = Rv_TestPseudoRandom(1 << 20, 99);
    EXPECT_EQ(_ZlibCrc(strLarge), Rv_CRC32(0, strLarge.data(), (uint32_t)strLarge.size()));
}

TEST(Rv_GetFileCRC, SmallEmptyAndMissingFiles)
{
    Rv_TestTempDir dir;
    uint32_t uCRC = 1;
    for (size_t uSize : {1, 65535, 65536, 65537, 200001}) {
        std::string strData = Rv_TestPseudoRandom(uSize, 3);
        Rv_TestWriteFile(dir.File("f"), strData);
        ASSERT_TRUE(Rv_GetFileCRC(dir.File("f").c_str(), &uCRC)) << uSize;
        EXPECT_EQ(_ZlibCrc(strData), uCRC) << uSize;
    }
    // An empty file has the CRC of empty data.
    Rv_TestWriteFile(dir.File("empty"), "");
    uCRC = 1;
    ASSERT_TRUE(Rv_GetFileCRC(dir.File("empty").c_str(), &uCRC));
    EXPECT_EQ(0u, uCRC);

    EXPECT_FALSE(Rv_GetFileCRC(dir.File("missing").c_str(), &uCRC));
    EXPECT_FALSE(Rv_GetFileCRC("", &uCRC));
    EXPECT_FALSE(Rv_GetFileCRC(nullptr, &uCRC));
    EXPECT_FALSE(Rv_GetFileCRC(dir.File("empty").c_str(), nullptr));
}

// A sparse file of more than one largest view, with marks on either side of
// the view boundary; and a file of 4 GiB, which is refused.
TEST(Rv_GetFileCRC, ChainsOverViewsAndRefusesFourGigabytes)
{
    Rv_TestTempDir dir;
    const uint64_t ullViewSize = 0x20000000;
    const uint64_t ullSize = ullViewSize + 65536 + 5;
    std::string strPath = dir.File("big");
    int nFd = open(strPath.c_str(), O_CREAT | O_RDWR, 0644);
    ASSERT_GE(nFd, 0);
    ASSERT_EQ(0, ftruncate(nFd, (off_t)ullSize));
    const struct {
        uint64_t ullOffset;
        const char* cszMark;
    } aMarks[] = {{0, "head"}, {ullViewSize - 3, "across"}, {ullSize - 4, "tail"}};
    for (const auto& mark : aMarks)
        ASSERT_EQ((ssize_t)strlen(mark.cszMark), pwrite(nFd, mark.cszMark, strlen(mark.cszMark), (off_t)mark.ullOffset));
    close(nFd);

    // The expected CRC from zlib, over the same bytes read back in pieces.
    uint32_t uExpected = 0;
    {
        nFd = open(strPath.c_str(), O_RDONLY);
        ASSERT_GE(nFd, 0);
        std::vector<unsigned char> vecBuf(1 << 20);
        ssize_t nRead;
        while ((nRead = read(nFd, vecBuf.data(), vecBuf.size())) > 0)
            uExpected = (uint32_t)crc32(uExpected, vecBuf.data(), (uInt)nRead);
        close(nFd);
    }
    uint32_t uCRC = 0;
    ASSERT_TRUE(Rv_GetFileCRC(strPath.c_str(), &uCRC));
    EXPECT_EQ(uExpected, uCRC);

    ASSERT_EQ(0, truncate(strPath.c_str(), (off_t)(4ULL << 30)));
    EXPECT_FALSE(Rv_GetFileCRC(strPath.c_str(), &uCRC));
    Rv_FileMapping mapping;
    EXPECT_FALSE(mapping.Init(strPath.c_str()));
}

TEST(Rv_FileMapping, ViewsAcrossTheFile)
{
    Rv_TestTempDir dir;
    std::string strData = Rv_TestPseudoRandom(3 * 65536 + 100, 11);
    Rv_TestWriteFile(dir.File("f"), strData);
    Rv_FileMapping mapping;
    ASSERT_TRUE(mapping.Init(dir.File("f").c_str()));
    EXPECT_FALSE(mapping.Init(dir.File("f").c_str()));   // already open
    EXPECT_EQ(strData.size(), mapping.GetFileSize());
    void* pvData = nullptr;
    const struct {
        uint32_t uOffset;
        uint32_t uSize;
        bool bOk;
    } aCases[] = {
        {0, (uint32_t)strData.size(), true},
        {65536 + 7, 100, true},
        {(uint32_t)strData.size() - 1, 1, true},
        {(uint32_t)strData.size() - 10, 11, false},
        {(uint32_t)strData.size(), 1, false},
        {0xFFFFFFF0u, 0x20, false},
        {5, 10, true},
    };
    for (const auto& c : aCases) {
        int nOk = mapping.GetData(c.uOffset, c.uSize, &pvData);
        EXPECT_EQ(c.bOk, nOk != 0) << c.uOffset << "+" << c.uSize;
        if (c.bOk && nOk) {
            EXPECT_EQ(0, memcmp(strData.data() + c.uOffset, pvData, c.uSize)) << c.uOffset;
        }
    }
    mapping.UnInit();
    EXPECT_FALSE(mapping.GetData(0, 1, &pvData));

    Rv_FileMapping missing;
    EXPECT_FALSE(missing.Init(dir.File("missing").c_str()));
    EXPECT_FALSE(missing.Init(""));
}
