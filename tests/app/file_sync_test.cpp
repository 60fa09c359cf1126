// The file synchroniser against a loopback server: which files the check
// finds, what the sync puts in place, how the folder ids are read, and the
// failures that must leave the client's files as they were, and a sync
// killed while it puts a file in place.
#include "app/file_sync.h"

#include "foundation/crc32.h"
#include "platform/clock.h"
#include "platform/crash_point.h"
#include "platform/file.h"
#include "tests/foundation/log_capture.h"
#include "tests/support/http_server.h"
#include "tests/support/sync_server_builder.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>
#include <sys/wait.h>
#include <unistd.h>

namespace {

class RecordingRate : public IRvProcessRate {
public:
    int SetPercentRate(float fPercent) override
    {
        m_vecPercents.push_back(fPercent);
        return m_nAnswer;
    }
    std::vector<float> m_vecPercents;
    int m_nAnswer = 1;
};

class FileSyncTest : public ::testing::Test {
protected:
    void SetUp() override { m_Server.Start(); }
    void TearDown() override { m_Server.Stop(); }

    std::string Client(const std::string& strName) const { return m_Dir.File("client/" + strName); }
    std::string ServerFolder() const { return m_Dir.File("www/sync"); }
    // A local file with the given content and time.
    void WriteLocal(const std::string& strName, const std::string& strContent, Pf_FILETIME ftWrite)
    {
        Rv_TestWriteFile(Client(strName), strContent);
        ASSERT_TRUE(Pf_SetFileTimes(Client(strName), nullptr, &ftWrite));
    }
    Pf_FILETIME LocalTime(const std::string& strName)
    {
        Pf_FILETIME ft{};
        EXPECT_TRUE(Pf_GetFileTimes(Client(strName), nullptr, nullptr, &ft));
        return ft;
    }
    void Publish(const std::string& strIndex = "") { ASSERT_TRUE(m_Builder.Write(ServerFolder(), strIndex)); }
    int Init()
    {
        Pf_CreateDirChain(Client(""));
        return m_Sync.Init(Client("").c_str(), m_Dir.File("temp/SyncFiles").c_str(), m_Server.Url("/sync").c_str(),
                           &m_Rate);
    }
    std::set<std::string> Fetched() const
    {
        std::set<std::string> setPaths;
        for (const Rv_TestHttpRequest& Request : m_Server.Requests())
            if (Request.strPath != "/sync/qv7_sync.info")
                setPaths.insert(Request.strPath);
        return setPaths;
    }
    std::vector<std::string> IndexRanges() const
    {
        std::vector<std::string> vecRanges;
        for (const Rv_TestHttpRequest& Request : m_Server.RequestsFor("/sync/qv7_sync.info"))
            vecRanges.push_back(Request.Header("Range"));
        return vecRanges;
    }
    std::vector<std::string> CorruptNames() const
    {
        std::vector<std::string> vecNames;
        for (const Rv_CorruptFileInfo& Info : m_Sync.m_CorruptFileList)
            vecNames.push_back(Info.CheckInfo.strName);
        return vecNames;
    }

    Rv_TestTempDir m_Dir;
    Rv_TestLogCapture m_Log{m_Dir};
    Rv_TestHttpServer m_Server{m_Dir.File("www")};
    Rv_TestSyncServerBuilder m_Builder;
    RecordingRate m_Rate;
    Rv_SyncFile m_Sync;
};

const Pf_FILETIME s_ftServer = Rv_TestSyncTime(1000);

TEST_F(FileSyncTest, CheckFindsWhatDiffersAndSyncPutsItInPlace)
{
    m_Builder.SetDirs({"d0", "d1"});
    m_Builder.AddFile("same.txt", "same", s_ftServer, 0);
    m_Builder.AddFile("changed.txt", "new content", s_ftServer, 1);
    m_Builder.AddFile("data\\deep\\missing.bin", std::string("\0\1\2", 3), s_ftServer, 0);
    m_Builder.AddFile("empty.txt", "", s_ftServer, 1);
    m_Builder.AddFile("3rdParty\\never.dll", "x", s_ftServer, 0);
    m_Builder.AddFile("3rdparty\\other_case.dll", "y", s_ftServer, 0);
    m_Builder.AddFile("Listed.ini", "z", s_ftServer, 0);
    m_Builder.AddFile("skip\\inner.txt", "w", s_ftServer, 0);
    Publish();
    WriteLocal("same.txt", "same", s_ftServer);
    WriteLocal("changed.txt", "old", s_ftServer);
    WriteLocal("Listed.ini", "local", s_ftServer);
    Rv_TestWriteFile(Client("bin/zhcn/IgnoreSyncFileList.list"),
                     "[Files]\nPath_0=listed.INI\n[Directories]\nPath_0=SKIP\\\n");

    ASSERT_TRUE(Init());
    ASSERT_TRUE(m_Sync.StartCheck());
    EXPECT_EQ(RV_RFSC_SUCCESS_FINISH_CHECK, m_Sync.m_nStatusCode);
    EXPECT_EQ((std::vector<std::string>{"changed.txt", "data\\deep\\missing.bin", "empty.txt",
                                        "3rdparty\\other_case.dll"}),
              CorruptNames());
    EXPECT_FLOAT_EQ(4.0f / 8.0f, m_Sync.m_fDifferentRatio);

    ASSERT_TRUE(m_Sync.StartSync());
    EXPECT_EQ(RV_RFSC_SUCCESS_FINISH_SYNC, m_Sync.m_nStatusCode);
    EXPECT_EQ("new content", Rv_TestReadFile(Client("changed.txt")));
    EXPECT_EQ(std::string("\0\1\2", 3), Rv_TestReadFile(Client("data/deep/missing.bin")));
    EXPECT_TRUE(Pf_FileExists(Client("empty.txt")));
    EXPECT_EQ("y", Rv_TestReadFile(Client("3rdparty/other_case.dll")));
    EXPECT_EQ("local", Rv_TestReadFile(Client("Listed.ini")));
    EXPECT_FALSE(Pf_PathExists(Client("3rdParty/never.dll")));
    EXPECT_FALSE(Pf_PathExists(Client("skip")));
    EXPECT_EQ(Pf_FileTimeToU64(s_ftServer), Pf_FileTimeToU64(LocalTime("changed.txt")));
    EXPECT_EQ((std::set<std::string>{"/sync/d1/changed.txt.QZIP", "/sync/d0/data/deep/missing.bin.QZIP",
                                     "/sync/d1/empty.txt.QZIP", "/sync/d0/3rdparty/other_case.dll.QZIP"}),
              Fetched());
    // Nothing is left in the temporary folder.
    EXPECT_EQ("", Rv_TestRun("find '" + m_Dir.File("temp") + "' -type f"));
    ASSERT_EQ(5u, m_Rate.m_vecPercents.size());
    EXPECT_FLOAT_EQ(10.0f, m_Rate.m_vecPercents[0]);
    EXPECT_FLOAT_EQ(m_Rate.m_vecPercents[3], m_Rate.m_vecPercents[4]);
    EXPECT_FLOAT_EQ(1.0f, m_Sync.m_fSyncProgress);

    // A second check finds the client in line with the index.
    ASSERT_TRUE(m_Sync.StartCheck());
    EXPECT_TRUE(m_Sync.m_CorruptFileList.empty());
}

TEST_F(FileSyncTest, FileTimesDecideBeforeTheContent)
{
    const uint64_t ullServer = Pf_FileTimeToU64(s_ftServer);
    const uint64_t ullWindowStart = ullServer & ~((1ull << 25) - 1);
    struct Case {
        const char* cszName;
        uint64_t ullLocal;
        const char* cszLocalContent;
        bool bDiffers;
    } aCases[] = {
        {"same_window_same_crc", ullWindowStart + ((1ull << 25) - 1), "content", false},
        {"same_window_other_crc", ullServer, "other", true},
        {"next_window_same_crc", ullWindowStart + (1ull << 25), "content", true},
        {"other_high_dword_same_crc", ullServer + (1ull << 32), "content", true},
    };
    for (const Case& c : aCases) {
        m_Builder.AddFile(c.cszName, "content", s_ftServer, 0);
        // Times travel through the file system in 100 ns units.
        WriteLocal(c.cszName, c.cszLocalContent, Pf_U64ToFileTime(c.ullLocal));
    }
    Publish();
    ASSERT_TRUE(Init());
    ASSERT_TRUE(m_Sync.StartCheck());
    std::vector<std::string> vecNames = CorruptNames();
    for (const Case& c : aCases)
        EXPECT_EQ(c.bDiffers, std::find(vecNames.begin(), vecNames.end(), c.cszName) != vecNames.end()) << c.cszName;
}

TEST_F(FileSyncTest, FolderIdsAreReadAsRangesOnlyWhenFewFilesDiffer)
{
    for (int nDiffering : {4, 5}) {
        SCOPED_TRACE(nDiffering);
        Rv_TestSyncServerBuilder Builder;
        Builder.SetDirs({"a", "b", "c"});
        for (int i = 0; i < 100; ++i) {
            std::string strName = "f" + std::to_string(nDiffering) + "_" + std::to_string(i);
            Builder.AddFile(strName, "v" + std::to_string(i), s_ftServer, (uint32_t)(i % 3));
            if (i < 100 - nDiffering)
                WriteLocal(strName, "v" + std::to_string(i), s_ftServer);
        }
        std::string strIndex = Builder.Index();
        uint32_t uSyncOffset = (uint32_t)(strIndex.size() - 400);
        ASSERT_TRUE(Builder.Write(ServerFolder()));
        Rv_SyncFile Sync;
        ASSERT_TRUE(Sync.Init(Client("").c_str(), m_Dir.File("temp").c_str(), m_Server.Url("/sync/").c_str(), &m_Rate));
        ASSERT_TRUE(Sync.StartCheck());
        size_t uBefore = IndexRanges().size();
        ASSERT_TRUE(Sync.StartSync());
        std::vector<std::string> vecRanges = IndexRanges();
        vecRanges.erase(vecRanges.begin(), vecRanges.begin() + (long)uBefore);
        // The dir info first, then the folder ids: the last differing files
        // are adjacent, so their ranges join into one request.
        ASSERT_EQ(2u, vecRanges.size());
        std::string strFirst = std::to_string(uSyncOffset + 4 * (100 - nDiffering));
        std::string strWhole = std::to_string(uSyncOffset);
        std::string strLast = std::to_string(uSyncOffset + 399);
        EXPECT_EQ("bytes=" + (nDiffering == 4 ? strFirst : strWhole) + "-" + strLast, vecRanges[1]);
        for (int i = 100 - nDiffering; i < 100; ++i)
            EXPECT_EQ("v" + std::to_string(i),
                      Rv_TestReadFile(Client("f" + std::to_string(nDiffering) + "_" + std::to_string(i))));
    }
}

// Only the ids of the listed files are read, whatever size the index
// claims for their block.
TEST_F(FileSyncTest, WholeFolderIdBlockIsReadOnlyAsFarAsTheFilesGo)
{
    m_Builder.AddFile("a.txt", "a", s_ftServer);
    std::string strIndex = m_Builder.Index();
    uint32_t uSyncOffset = (uint32_t)(strIndex.size() - 4);
    strIndex.replace(40, 4, Rv_TestSyncU32(0x7FFFFFFF));
    Rv_TestSealSyncIndexHeader(&strIndex);
    Publish(strIndex);
    ASSERT_TRUE(Init());
    ASSERT_TRUE(m_Sync.StartCheck());
    ASSERT_TRUE(m_Sync.StartSync());
    EXPECT_EQ("a", Rv_TestReadFile(Client("a.txt")));
    std::string strRange = std::to_string(uSyncOffset);
    EXPECT_EQ("bytes=" + strRange + "-" + std::to_string(uSyncOffset + 3), IndexRanges().back());
}

TEST_F(FileSyncTest, EmptyIndexDiffersInNothing)
{
    Publish();
    ASSERT_TRUE(Init());
    ASSERT_TRUE(m_Sync.StartCheck());
    EXPECT_TRUE(m_Sync.m_CorruptFileList.empty());
    EXPECT_EQ(0.0f, m_Sync.m_fDifferentRatio);
}

// Names travel in the archive's address with '/' and percent escapes.
TEST_F(FileSyncTest, ArchiveAddressIsEscaped)
{
    m_Builder.SetDirs({"dir one"});
    m_Builder.AddFile("sub\\with space#1.txt", "spaced", s_ftServer);
    Publish();
    Rv_TestHttpFault Serve;
    Serve.strServePath = "/sync/dir one/sub/with space#1.txt.QZIP";
    m_Server.SetFault("/sync/dir%20one/sub/with%20space%231.txt.QZIP", Serve);
    ASSERT_TRUE(Init());
    ASSERT_TRUE(m_Sync.StartCheck());
    ASSERT_TRUE(m_Sync.StartSync());
    EXPECT_EQ("spaced", Rv_TestReadFile(Client("sub/with space#1.txt")));
}

TEST_F(FileSyncTest, ArchiveWithTwoItemsGivesTheSecond)
{
    m_Builder.AddFile("two.txt", "second", s_ftServer).vecArchiveItems = {"first", "second"};
    Publish();
    ASSERT_TRUE(Init());
    ASSERT_TRUE(m_Sync.StartCheck());
    ASSERT_TRUE(m_Sync.StartSync());
    EXPECT_EQ("second", Rv_TestReadFile(Client("two.txt")));
    EXPECT_NE(std::string::npos, m_Log.Text().find("There can be only one zip item in QZIP file."));
}

TEST_F(FileSyncTest, NothingDifferingSyncsWithoutAnyRequest)
{
    m_Builder.AddFile("a.txt", "a", s_ftServer, 0);
    Publish();
    WriteLocal("a.txt", "a", s_ftServer);
    ASSERT_TRUE(Init());
    ASSERT_TRUE(m_Sync.StartCheck());
    EXPECT_TRUE(m_Sync.m_CorruptFileList.empty());
    size_t uRequests = m_Server.Requests().size();
    ASSERT_TRUE(m_Sync.StartSync());
    EXPECT_EQ(uRequests, m_Server.Requests().size());
    EXPECT_EQ(RV_RFSC_SUCCESS_FINISH_SYNC, m_Sync.m_nStatusCode);
}

// Each failing file leaves the client's old file in place; files synced
// before it stay synced.
TEST_F(FileSyncTest, FailedFileLeavesTheOldOne)
{
    struct Case {
        const char* cszName;
        void (*pfnBreak)(Rv_TestSyncFile* pFile, Rv_TestHttpServer* pServer);
    } aCases[] = {
        {"not published", [](Rv_TestSyncFile* pFile, Rv_TestHttpServer*) { pFile->bPublish = false; }},
        {"wrong content", [](Rv_TestSyncFile* pFile, Rv_TestHttpServer*) { pFile->vecArchiveItems = {"tampered"}; }},
        {"server error",
         [](Rv_TestSyncFile*, Rv_TestHttpServer* pServer) {
             Rv_TestHttpFault Fault;
             Fault.nStatus = 500;
             pServer->SetFault("/sync/files/b.txt.QZIP", Fault);
         }},
        {"not an archive",
         [](Rv_TestSyncFile*, Rv_TestHttpServer* pServer) {
             Rv_TestHttpFault Fault;
             Fault.strServePath = "/sync/qv7_sync.info";
             pServer->SetFault("/sync/files/b.txt.QZIP", Fault);
         }},
        {"empty archive", [](Rv_TestSyncFile* pFile, Rv_TestHttpServer*) { pFile->bNoItems = true; }},
    };
    for (const Case& c : aCases) {
        SCOPED_TRACE(c.cszName);
        Rv_TestSyncServerBuilder Builder;
        Builder.AddFile("a.txt", "new a", s_ftServer, 0);
        c.pfnBreak(&Builder.AddFile("b.txt", "new b", s_ftServer), &m_Server);
        Builder.AddFile("c.txt", "new c", s_ftServer, 0);
        Rv_TestRun("rm -rf '" + ServerFolder() + "'");
        ASSERT_TRUE(Builder.Write(ServerFolder()));
        WriteLocal("a.txt", "old a", Rv_TestSyncTime(0));
        WriteLocal("b.txt", "old b", Rv_TestSyncTime(0));
        WriteLocal("c.txt", "old c", Rv_TestSyncTime(0));
        Rv_SyncFile Sync;
        ASSERT_TRUE(Sync.Init(Client("").c_str(), m_Dir.File("temp").c_str(), m_Server.Url("/sync/").c_str(), &m_Rate));
        ASSERT_TRUE(Sync.StartCheck());
        EXPECT_FALSE(Sync.StartSync());
        EXPECT_EQ(RV_RFSC_ERROR_FAILED, Sync.m_nStatusCode);
        EXPECT_EQ("new a", Rv_TestReadFile(Client("a.txt")));
        EXPECT_EQ("old b", Rv_TestReadFile(Client("b.txt")));
        EXPECT_EQ("old c", Rv_TestReadFile(Client("c.txt")));
        EXPECT_EQ("", Rv_TestRun("find '" + m_Dir.File("temp") + "' -type f"));
        m_Server.ClearFaults();
    }
}

// The server holds the archive's answer, or its body part way.
TEST_F(FileSyncTest, AbortDuringADownloadEndsTheSyncAndKeepsTheFile)
{
    m_Builder.AddFile("big.bin", "new", s_ftServer, 0);
    Publish();
    for (bool bHoldBody : {false, true}) {
        SCOPED_TRACE(bHoldBody ? "body held" : "answer held");
        WriteLocal("big.bin", "old", Rv_TestSyncTime(0));
        Rv_TestHttpFault Hold;
        Hold.bHold = !bHoldBody;
        Hold.llHoldAfter = bHoldBody ? 10 : -1;
        m_Server.SetFault("/sync/files/big.bin.QZIP", Hold);
        Rv_SyncFile Sync;
        ASSERT_TRUE(Sync.Init(Client("").c_str(), m_Dir.File("temp/SyncFiles").c_str(), m_Server.Url("/sync").c_str(),
                              &m_Rate));
        ASSERT_TRUE(Sync.StartCheck());
        const char* cszArchive = "/sync/files/big.bin.QZIP";
        size_t uBefore = m_Server.RequestsFor(cszArchive).size();

        // The abort comes once the archive's download is under way.
        std::thread Closer([&] {
            for (int i = 0; i < 3000 && m_Server.RequestsFor(cszArchive).size() == uBefore; ++i)
                Pf_Sleep(10);
            Sync.Abort();
        });
        EXPECT_FALSE(Sync.StartSync());
        Closer.join();
        EXPECT_EQ(RV_RFSC_ERROR_FAILED, Sync.m_nStatusCode);
        EXPECT_EQ("old", Rv_TestReadFile(Client("big.bin")));
        EXPECT_EQ(uBefore + 1, m_Server.RequestsFor(cszArchive).size()) << "no further way after the abort";
    }
    m_Server.ReleaseHeld();
}

TEST_F(FileSyncTest, AbortBeforeTheCheckIsNotLost)
{
    m_Builder.AddFile("a.txt", "a", s_ftServer, 0);
    Publish();
    ASSERT_TRUE(Init());
    m_Sync.Abort();
    EXPECT_FALSE(m_Sync.StartCheck());
    EXPECT_TRUE(m_Server.Requests().empty());
    EXPECT_FALSE(m_Sync.StartSync());
}

TEST_F(FileSyncTest, SyncNeedsAFinishedCheckAndAWillingProgressSink)
{
    m_Builder.AddFile("a.txt", "a", s_ftServer, 0);
    Publish();
    ASSERT_TRUE(Init());
    EXPECT_FALSE(m_Sync.StartSync());
    EXPECT_EQ(RV_RFSC_ERROR_FAILED, m_Sync.m_nStatusCode);

    ASSERT_TRUE(m_Sync.StartCheck());
    m_Rate.m_nAnswer = 0;
    EXPECT_FALSE(m_Sync.StartSync());
    EXPECT_FALSE(Pf_PathExists(Client("a.txt")));
}

TEST_F(FileSyncTest, InitRefusesMissingArguments)
{
    std::string strClient = Client("");
    std::string strTemp = m_Dir.File("temp");
    std::string strURL = m_Server.Url("/sync");
    struct Case {
        const char* cszClient;
        const char* cszTemp;
        const char* cszURL;
        IRvProcessRate* pRate;
    } aCases[] = {
        {nullptr, strTemp.c_str(), strURL.c_str(), &m_Rate}, {"", strTemp.c_str(), strURL.c_str(), &m_Rate},
        {strClient.c_str(), nullptr, strURL.c_str(), &m_Rate}, {strClient.c_str(), "", strURL.c_str(), &m_Rate},
        {strClient.c_str(), strTemp.c_str(), nullptr, &m_Rate}, {strClient.c_str(), strTemp.c_str(), "", &m_Rate},
        {strClient.c_str(), strTemp.c_str(), strURL.c_str(), nullptr},
    };
    for (const Case& c : aCases) {
        Rv_SyncFile Sync;
        EXPECT_FALSE(Sync.Init(c.cszClient, c.cszTemp, c.cszURL, c.pRate));
        EXPECT_EQ(RV_RFSC_ERROR_FAILED, Sync.m_nStatusCode);
    }
    Rv_SyncFile Sync;
    ASSERT_TRUE(Sync.Init(strClient.c_str(), strTemp.c_str(), strURL.c_str(), &m_Rate));
    EXPECT_EQ(strURL + "/", Sync.m_strURLPrefix);
    EXPECT_FALSE(Sync.AddIgnoreFile(""));
    EXPECT_EQ(RV_RFSC_ERROR_FAILED, Sync.m_nStatusCode);
}

TEST_F(FileSyncTest, IgnoreListEndsAtTheFirstGap)
{
    Rv_TestWriteFile(Client("bin/zhcn/IgnoreSyncFileList.list"),
                     "[Files]\nPath_0=a.txt\nPath_1=\nPath_2=c.txt\n[Directories]\nPath_1=dir\\\n");
    ASSERT_TRUE(Init());
    EXPECT_EQ(std::vector<std::string>{"a.txt"}, m_Sync.m_IgnoreFileList);
    EXPECT_TRUE(m_Sync.m_IgnoreDirectoryList.empty());
    EXPECT_TRUE(m_Sync.IsIgnored("A.TXT"));
    EXPECT_FALSE(m_Sync.IsIgnored("c.txt"));
    // Either separator: the rules hold for names spelt with '/' too.
    EXPECT_TRUE(m_Sync.IsIgnored("3rdParty/d3dx9.dll"));
    EXPECT_FALSE(m_Sync.IsIgnored("3rdparty\\d3dx9.dll"));
    ASSERT_TRUE(m_Sync.AddIgnoreDirectory("Data\\Skip\\"));
    EXPECT_TRUE(m_Sync.IsIgnored("data/skip/x.txt"));
}

} // namespace

// A sync killed at each step that puts a file in place leaves the old file
// or the server's, and once the server's is in place nothing of it stays in
// the temporary folder.
TEST_F(FileSyncTest, KilledSyncLeavesNothingOfAFileInLine)
{
    m_Builder.AddFile("changed.txt", "new content", s_ftServer, 0);
    Publish();
    int nKilled = 0;
    for (uint64_t uStep = 1; uStep < 10; ++uStep) {
        SCOPED_TRACE(uStep);
        WriteLocal("changed.txt", "old", Rv_TestSyncTime(1));
        Pf_RemoveTree(m_Dir.File("temp"));
        pid_t nChild = fork();
        ASSERT_NE(-1, nChild);
        if (nChild == 0) {
            Rv_SyncFile Sync;
            Pf_ArmCrashPoint(uStep);
            int nDone = Sync.Init(Client("").c_str(), m_Dir.File("temp/SyncFiles").c_str(), m_Server.Url("/sync").c_str(),
                                  &m_Rate) &&
                        Sync.StartCheck() && Sync.StartSync();
            _exit(nDone ? 0 : 1);
        }
        int nStatus = 0;
        ASSERT_EQ(nChild, waitpid(nChild, &nStatus, 0));
        const std::string strNow = Rv_TestReadFile(Client("changed.txt"));
        EXPECT_TRUE(strNow == "old" || strNow == "new content") << strNow;
        if (strNow == "new content") {
            EXPECT_EQ("", Rv_TestRun("find '" + m_Dir.File("temp") + "' -type f 2>/dev/null"));
        }
        if (WIFEXITED(nStatus)) {
            EXPECT_EQ(0, WEXITSTATUS(nStatus));
            EXPECT_EQ("new content", strNow);
            break;
        }
        ASSERT_TRUE(WIFSIGNALED(nStatus));
        ++nKilled;
    }
    EXPECT_EQ(2, nKilled);
}
