// The synchronisation index: its header checks and the readers of the
// check-info and dir-info blocks, fed with damaged and hostile blocks; and
// the check against a server whose index is damaged, which must refuse it
// without fetching or writing anything.
#include "app/file_sync.h"
#include "app/file_sync_index.h"

#include "foundation/crc32.h"
#include "platform/file.h"
#include "tests/support/http_server.h"
#include "tests/support/sync_server_builder.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

const Pf_FILETIME s_ftTime = Rv_TestSyncTime(5);

int NeverAborted() { return 0; }

int ParseCheckInfo(const std::string& strBlock, std::vector<Rv_FileCheckInfo>* pvecRet)
{
    return Rv_ParseSyncCheckInfo((const uint8_t*)strBlock.data(), (uint32_t)strBlock.size(), NeverAborted, pvecRet);
}

int ParseDirInfo(const std::string& strBlock, std::vector<std::string>* pvecRet)
{
    return Rv_ParseSyncDirInfo((const uint8_t*)strBlock.data(), (uint32_t)strBlock.size(), NeverAborted, pvecRet);
}

TEST(SyncIndexTest, HeaderCRCLeavesItsOwnFieldOut)
{
    Rv_SyncIndexFileHeader Header{};
    uint32_t uFirst = 0;
    uint32_t uSecond = 0;
    memcpy(&Header, "QSYN", 4);
    Header.byReserved[19] = 7;
    ASSERT_TRUE(Rv_GetSyncIndexFileHeaderCRC(&Header, &uFirst));
    Header.uHeaderCRC = 0x12345678;
    ASSERT_TRUE(Rv_GetSyncIndexFileHeaderCRC(&Header, &uSecond));
    EXPECT_EQ(uFirst, uSecond);
    Header.uHeaderCRC = 0;
    EXPECT_EQ(Rv_CRC32(0, &Header, sizeof(Header)), uFirst);
    // The reserved bytes count.
    Header.byReserved[19] = 8;
    ASSERT_TRUE(Rv_GetSyncIndexFileHeaderCRC(&Header, &uSecond));
    EXPECT_NE(uFirst, uSecond);
    EXPECT_FALSE(Rv_GetSyncIndexFileHeaderCRC(&Header, nullptr));
}

TEST(SyncIndexTest, CheckInfoIsReadInOrder)
{
    std::string strBlock = Rv_TestSyncU32(2) + Rv_TestSyncCheckEntry("a.txt", 11, s_ftTime) +
                           Rv_TestSyncCheckEntry("dir\\b.bin", 22, Rv_TestSyncTime(9));
    std::vector<Rv_FileCheckInfo> vecEntries;
    ASSERT_TRUE(ParseCheckInfo(strBlock, &vecEntries));
    ASSERT_EQ(2u, vecEntries.size());
    EXPECT_EQ("a.txt", vecEntries[0].strName);
    EXPECT_EQ(11u, vecEntries[0].uCRC);
    EXPECT_EQ(Pf_FileTimeToU64(s_ftTime), Pf_FileTimeToU64(vecEntries[0].ftLastModifyTime));
    EXPECT_EQ("dir\\b.bin", vecEntries[1].strName);
    EXPECT_EQ(Pf_FileTimeToU64(Rv_TestSyncTime(9)), Pf_FileTimeToU64(vecEntries[1].ftLastModifyTime));
}

TEST(SyncIndexTest, BrokenCheckInfoIsRefused)
{
    const std::string strEntry = Rv_TestSyncCheckEntry("a.txt", 1, s_ftTime);
    const std::string strLongName(259, 'n');
    struct Case {
        const char* cszWhat;
        std::string strBlock;
    } aCases[] = {
        {"no count", std::string(3, '\0')},
        {"count beyond the block", Rv_TestSyncU32(2) + strEntry},
        {"huge count", Rv_TestSyncU32(0xFFFFFFFF) + strEntry},
        {"cut in the name size", Rv_TestSyncU32(1) + std::string(2, '\0')},
        {"cut in the name", Rv_TestSyncU32(1) + Rv_TestSyncU32(10) + "abc"},
        {"cut in the CRC", Rv_TestSyncU32(1) + Rv_TestSyncName("a.txt") + "\1\2"},
        {"cut in the time", Rv_TestSyncU32(1) + Rv_TestSyncName("a.txt") + Rv_TestSyncU32(1) + "\1\2\3\4\5"},
        {"name size 0", Rv_TestSyncU32(1) + Rv_TestSyncU32(0) + std::string(16, '\0')},
        {"name size 260", Rv_TestSyncU32(1) + Rv_TestSyncU32(260) + std::string(300, 'x')},
        {"huge name size", Rv_TestSyncU32(1) + Rv_TestSyncU32(0xFFFFFFF0) + std::string(40, 'x')},
        {"name without its zero", Rv_TestSyncU32(1) + Rv_TestSyncU32(5) + "a.txt" + std::string(12, '\0')},
        {"zero inside the name", Rv_TestSyncU32(1) + Rv_TestSyncName(std::string("a\0b", 3)) + std::string(12, '\0')},
        {"name longer than 258", Rv_TestSyncU32(1) + Rv_TestSyncCheckEntry(strLongName, 1, s_ftTime)},
    };
    for (const Case& c : aCases) {
        std::vector<Rv_FileCheckInfo> vecEntries;
        EXPECT_FALSE(ParseCheckInfo(c.strBlock, &vecEntries)) << c.cszWhat;
        EXPECT_TRUE(vecEntries.empty()) << c.cszWhat;
    }
    // The longest name allowed.
    std::vector<Rv_FileCheckInfo> vecEntries;
    EXPECT_TRUE(ParseCheckInfo(Rv_TestSyncU32(1) + Rv_TestSyncCheckEntry(std::string(258, 'n'), 1, s_ftTime),
                               &vecEntries));
}

TEST(SyncIndexTest, NamesThatWouldLeaveTheClientFolderAreRefused)
{
    for (const char* cszName : {"", "..\\evil.dll", "a\\..\\..\\evil.dll", "\\etc\\passwd", "/etc/passwd",
                                "C:\\evil.dll", "a\\\\b", "a\\.\\b", "a\\", "..", "a/../../b"}) {
        std::vector<Rv_FileCheckInfo> vecEntries;
        std::string strBlock = Rv_TestSyncU32(2) + Rv_TestSyncCheckEntry("fine.txt", 1, s_ftTime) +
                               Rv_TestSyncCheckEntry(cszName, 1, s_ftTime);
        EXPECT_FALSE(ParseCheckInfo(strBlock, &vecEntries)) << cszName;
        EXPECT_TRUE(vecEntries.empty()) << cszName;
    }
}

TEST(SyncIndexTest, DirInfo)
{
    std::vector<std::string> vecNames;
    ASSERT_TRUE(ParseDirInfo(Rv_TestSyncU32(2) + Rv_TestSyncName("d0") + Rv_TestSyncName("sub/d1"), &vecNames));
    EXPECT_EQ((std::vector<std::string>{"d0", "sub/d1"}), vecNames);

    for (const std::string& strBlock : {std::string("\1\0", 2), Rv_TestSyncU32(3) + Rv_TestSyncName("d0"),
                                        Rv_TestSyncU32(0x40000000) + Rv_TestSyncName("d0"),
                                        Rv_TestSyncU32(1) + Rv_TestSyncU32(0xFFFFFFFF) + "d0",
                                        Rv_TestSyncU32(1) + Rv_TestSyncU32(3) + "d00",
                                        Rv_TestSyncU32(1) + Rv_TestSyncU32(0)}) {
        EXPECT_FALSE(ParseDirInfo(strBlock, &vecNames));
        EXPECT_TRUE(vecNames.empty());
    }
}

TEST(SyncIndexTest, AbortStopsTheReaders)
{
    std::vector<Rv_FileCheckInfo> vecEntries;
    std::vector<std::string> vecNames;
    auto fnAborted = [] { return 1; };
    std::string strCheck = Rv_TestSyncU32(1) + Rv_TestSyncCheckEntry("a", 1, s_ftTime);
    std::string strDir = Rv_TestSyncU32(1) + Rv_TestSyncName("d");
    EXPECT_FALSE(Rv_ParseSyncCheckInfo((const uint8_t*)strCheck.data(), (uint32_t)strCheck.size(), fnAborted,
                                       &vecEntries));
    EXPECT_FALSE(Rv_ParseSyncDirInfo((const uint8_t*)strDir.data(), (uint32_t)strDir.size(), fnAborted, &vecNames));
}

// A server whose index is damaged: the check fails, nothing is fetched
// beyond the index and nothing is written into the client.
class DamagedIndexTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_Server.Start();
        m_Builder.AddFile("a.txt", "content", s_ftTime);
        Pf_CreateDirChain(m_Dir.File("client"));
    }
    void TearDown() override { m_Server.Stop(); }
    void ExpectRefused(const std::string& strIndex, const char* cszWhat, size_t uIndexReads)
    {
        SCOPED_TRACE(cszWhat);
        Rv_TestWriteFile(m_Dir.File("www/qv7_sync.info"), strIndex);
        Rv_SyncFile Sync;
        size_t uBefore = m_Server.Requests().size();
        ASSERT_TRUE(Sync.Init(m_Dir.File("client").c_str(), m_Dir.File("temp").c_str(), m_Server.Url("/").c_str(),
                              &m_Rate));
        EXPECT_FALSE(Sync.StartCheck());
        EXPECT_EQ(RV_RFSC_ERROR_FAILED, Sync.m_nStatusCode);
        EXPECT_TRUE(Sync.m_CorruptFileList.empty());
        EXPECT_FALSE(Sync.StartSync());
        EXPECT_EQ(uIndexReads, m_Server.Requests().size() - uBefore);
        EXPECT_EQ("", Rv_TestRun("find '" + m_Dir.File("client") + "' '" + m_Dir.File("temp") +
                                 "' -mindepth 1 2>/dev/null"));
    }
    static void Put(std::string* pstrIndex, size_t uOffset, uint32_t uValue)
    {
        pstrIndex->replace(uOffset, 4, Rv_TestSyncU32(uValue));
    }

    struct Rate : IRvProcessRate {
        int SetPercentRate(float) override { return 1; }
    } m_Rate;
    Rv_TestTempDir m_Dir;
    Rv_TestHttpServer m_Server{m_Dir.File("www")};
    Rv_TestSyncServerBuilder m_Builder;
};

TEST_F(DamagedIndexTest, HeaderFaultsAreFoundBeforeAnythingElseIsRead)
{
    const std::string strGood = m_Builder.Index();
    struct Case {
        const char* cszWhat;
        size_t uOffset;
        uint32_t uValue;
        bool bSeal;
    } aCases[] = {
        {"header CRC", 8, 0xDEADBEEF, false},
        {"reserved byte changed", 60, 1, false},
        {"type spelt backwards", 0, 0x5153594E, true},
        {"version", 4, 1, true},
        {"check info beyond 32 bits", 16, 0xFFFFFFF0, true},
        {"huge dir info", 28, 0x7FFFFFFF, true},
        {"file-sync info beyond 32 bits", 36, 0xFFFFFFFE, true},
    };
    for (const Case& c : aCases) {
        std::string strIndex = strGood;
        Put(&strIndex, c.uOffset, c.uValue);
        if (c.bSeal)
            Rv_TestSealSyncIndexHeader(&strIndex);
        ExpectRefused(strIndex, c.cszWhat, 1);
    }
    ExpectRefused(strGood.substr(0, 40), "short header", 1);
}

TEST_F(DamagedIndexTest, BlockFaultsAreFoundByTheCheck)
{
    const std::string strGood = m_Builder.Index();
    std::string strIndex = strGood;
    strIndex[64 + 6] ^= 1;
    ExpectRefused(strIndex, "check info changed", 2);

    strIndex = strGood;
    Put(&strIndex, 16, 4);
    Rv_TestSealSyncIndexHeader(&strIndex);
    Put(&strIndex, 20, Rv_CRC32(0, strIndex.data() + 64, 4));
    Rv_TestSealSyncIndexHeader(&strIndex);
    ExpectRefused(strIndex, "count beyond the block", 2);

    ExpectRefused(strGood.substr(0, strGood.size() - 20), "index cut short", 2);

    ExpectRefused(Rv_TestMakeSyncIndex(m_Builder.CheckInfoBlock(), m_Builder.DirInfoBlock(), ""),
                  "file-sync info shorter than one id per file", 2);
    ExpectRefused(Rv_TestMakeSyncIndex(Rv_TestSyncU32(1) + Rv_TestSyncCheckEntry("..\\..\\evil", 1, s_ftTime),
                                       m_Builder.DirInfoBlock(), Rv_TestSyncU32(0)),
                  "climbing name", 2);
}

TEST_F(DamagedIndexTest, DirInfoFaultsFailTheSync)
{
    for (const std::string& strDirInfo : {Rv_TestSyncU32(5), Rv_TestSyncU32(1) + Rv_TestSyncU32(4) + "abcd"}) {
        ASSERT_TRUE(m_Builder.Write(m_Dir.File("www"),
                                    Rv_TestMakeSyncIndex(m_Builder.CheckInfoBlock(), strDirInfo,
                                                         m_Builder.FileSyncInfoBlock())));
        Rv_SyncFile Sync;
        ASSERT_TRUE(Sync.Init(m_Dir.File("client").c_str(), m_Dir.File("temp").c_str(), m_Server.Url("/").c_str(),
                              &m_Rate));
        ASSERT_TRUE(Sync.StartCheck());
        EXPECT_FALSE(Sync.StartSync());
        EXPECT_FALSE(Pf_PathExists(m_Dir.File("client/a.txt")));
    }
    // A folder id beyond the folder list.
    std::string strIndex = m_Builder.Index();
    Put(&strIndex, strIndex.size() - 4, 1);
    ASSERT_TRUE(m_Builder.Write(m_Dir.File("www"), strIndex));
    Rv_SyncFile Sync;
    ASSERT_TRUE(
        Sync.Init(m_Dir.File("client").c_str(), m_Dir.File("temp").c_str(), m_Server.Url("/").c_str(), &m_Rate));
    ASSERT_TRUE(Sync.StartCheck());
    EXPECT_FALSE(Sync.StartSync());
    EXPECT_FALSE(Pf_PathExists(m_Dir.File("client/a.txt")));
}

} // namespace
