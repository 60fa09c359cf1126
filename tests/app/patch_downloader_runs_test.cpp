// The patch-chain downloader against the loopback server: the update check
// with its list fetch, the download run (progress target set only while it
// lasts, the failing file's status kept), the re-download under the
// cache-busting address and its rename, a stop, and the remote sizes.
#include "app/patch_downloader.h"
#include "platform/file.h"
#include "tests/support/http_server.h"
#include "tests/support/patch_list_builder.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <chrono>
#include <thread>

namespace {

class CountingNotification : public IDownloaderNotification {
public:
    void OnProgress(IDownloader*, IHttpFile*, int) override { ++m_nCalls; }
    std::atomic<int> m_nCalls{0};
};

std::string _Patch(const std::string& strFrom, const std::string& strTo)
{
    return "p_c_" + strFrom + "-to-" + strTo + "_.zip";
}

class PatchDownloaderRunTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Rv_TestWriteFile(m_Dir.File("sim/sleep_divisor"), "1000");
        Rv_TestWriteFile(m_Dir.File("sim/free_bytes"), "100000000000\n");
        setenv("RV_SIM_ROOT", m_Dir.File("sim").c_str(), 1);
        unsetenv("http_proxy");
        unsetenv("HTTP_PROXY");
        ASSERT_TRUE(Pf_CreateDirChain(m_strSave));
        m_Server.Start();
    }
    void TearDown() override
    {
        m_Server.Stop();
        unsetenv("RV_SIM_ROOT");
    }
    // A server at version 1.3 with patches 1.0->1.1 and 1.1->1.3, and the
    // downloader at 1.0 after its update check.
    void CheckTwoPatches()
    {
        Rv_TestWritePatchServer(m_Dir.File("www/v"), "1.3",
                                {{_Patch("1.0", "1.1"), std::string(70000, 'a'), "", ""},
                                 {_Patch("1.1", "1.3"), std::string(5000, 'b'), "", ""}});
        ASSERT_TRUE(m_Downloader.Init(m_Server.Url("/v").c_str(), m_strSave.c_str(), "1.0"));
        int nFlag = 0;
        std::string strLatest;
        ASSERT_TRUE(m_Downloader.CheckNeedUpdate(&nFlag, &strLatest));
        EXPECT_EQ(1, nFlag);
        EXPECT_EQ("1.3", strLatest);
        ASSERT_EQ(2u, m_Downloader.m_PatchList.size());
    }
    std::string Saved(const std::string& strName) { return m_strSave + "/" + strName; }

    Rv_TestTempDir m_Dir;
    std::string m_strSave = m_Dir.File("client/update");
    Rv_TestHttpServer m_Server{m_Dir.File("www")};
    Rv_PatchDownloader m_Downloader;
    CountingNotification m_Notify;
};

} // namespace

TEST_F(PatchDownloaderRunTest, CheckFetchesTheListAndDeletesItsCopy)
{
    CheckTwoPatches();
    EXPECT_FALSE(Pf_PathExists(Saved("autoupdateentry.txt")));
    EXPECT_EQ(1, m_Downloader.m_nLastErrorCode);

    // A server that has nothing newer: flag 0 and the chain stays.
    Rv_TestWritePatchServer(m_Dir.File("www/v"), "1.0", {});
    int nFlag = 1;
    std::string strLatest;
    ASSERT_TRUE(m_Downloader.CheckNeedUpdate(&nFlag, &strLatest));
    EXPECT_EQ(0, nFlag);
    EXPECT_EQ("1.0", strLatest);
    EXPECT_EQ(2u, m_Downloader.m_PatchList.size());
}

TEST_F(PatchDownloaderRunTest, CheckFailsWithoutAListOrFlag)
{
    ASSERT_TRUE(m_Downloader.Init(m_Server.Url("/none").c_str(), m_strSave.c_str(), "1.0"));
    int nFlag = 0;
    EXPECT_FALSE(m_Downloader.CheckNeedUpdate(nullptr, nullptr));
    EXPECT_FALSE(m_Downloader.CheckNeedUpdate(&nFlag, nullptr));
    EXPECT_EQ(-1, m_Downloader.m_nLastErrorCode);
    EXPECT_FALSE(Pf_PathExists(Saved("autoupdateentry.txt")));
}

TEST_F(PatchDownloaderRunTest, DownloadFetchesTheChainAndTheDirectXPackage)
{
    CheckTwoPatches();
    Rv_TestWriteFile(m_Dir.File("www/v/dx9_43.zip"), "dx");
    m_Downloader.m_nDownloadDXFlag = 1;
    ASSERT_TRUE(m_Downloader.Download(&m_Notify));
    EXPECT_EQ(0, m_Downloader.m_nLastErrorCode);
    EXPECT_EQ(std::string(70000, 'a'), Rv_TestReadFile(Saved(_Patch("1.0", "1.1"))));
    EXPECT_EQ(std::string(5000, 'b'), Rv_TestReadFile(Saved(_Patch("1.1", "1.3"))));
    std::string strDX;
    ASSERT_TRUE(m_Downloader.GetDXInstallerFile(&strDX));
    EXPECT_EQ(m_strSave + "\\dx9_43.zip", strDX);
    EXPECT_EQ("dx", Rv_TestReadFile(Saved("dx9_43.zip")));
    EXPECT_GT(m_Notify.m_nCalls, 0);

    // The target is cleared when the run ends: a later transfer reports to no one.
    const int nCalls = m_Notify.m_nCalls;
    m_Downloader.m_HttpClient.AddFile(m_Server.Url("/v/dx9_43.zip").c_str(), m_Dir.File("other").c_str());
    Pf_CreateDirChain(m_Dir.File("other"));
    while (m_Downloader.m_HttpClient.StartAndWait()) {
    }
    EXPECT_EQ(nCalls, m_Notify.m_nCalls);
}

TEST_F(PatchDownloaderRunTest, EmptyChainWithoutDirectXSucceedsAtOnce)
{
    ASSERT_TRUE(m_Downloader.Init(m_Server.Url("/v").c_str(), m_strSave.c_str(), "1.0"));
    EXPECT_FALSE(m_Downloader.Download(nullptr));
    ASSERT_TRUE(m_Downloader.Download(&m_Notify));
    EXPECT_EQ(0, m_Downloader.m_nLastErrorCode);
    EXPECT_TRUE(m_Server.Requests().empty());
}

TEST_F(PatchDownloaderRunTest, FailedFileEndsTheRunWithItsStatus)
{
    CheckTwoPatches();
    Rv_TestHttpFault fault;
    fault.nStatus = 404;
    m_Server.SetFault("/v/" + _Patch("1.1", "1.3"), fault);
    EXPECT_FALSE(m_Downloader.Download(&m_Notify));
    EXPECT_NE(0, m_Downloader.m_nLastErrorCode);
    EXPECT_NE(1, m_Downloader.m_nLastErrorCode);
    EXPECT_NE(-1, m_Downloader.m_nLastErrorCode);
    EXPECT_FALSE(Pf_PathExists(Saved(_Patch("1.1", "1.3"))));
}

TEST_F(PatchDownloaderRunTest, ReDownloadFetchesTheMarkedPatchUnderAFreshAddress)
{
    CheckTwoPatches();
    ASSERT_TRUE(m_Downloader.Download(&m_Notify));
    const std::string strName = _Patch("1.1", "1.3");
    Pf_DeleteFile(Saved(strName));
    // The server answers the cache-busting address with the patch itself.
    Rv_TestHttpFault serve;
    serve.strServePath = "/v/" + strName;
    m_Server.SetFault("/v/" + strName + "/*", serve);

    Rv_PatchFileInfo Info;
    Info.strFileName = "no such patch";
    ASSERT_TRUE(m_Downloader.MarkFileToRedownload(Info));
    EXPECT_EQ(0, m_Downloader.m_PatchList[0].nRedownloadFlag + m_Downloader.m_PatchList[1].nRedownloadFlag);
    Info.strFileName = strName;
    ASSERT_TRUE(m_Downloader.MarkFileToRedownload(Info));
    ASSERT_EQ(1, m_Downloader.m_PatchList[1].nRedownloadFlag);
    const std::string strRefresh = m_Downloader.m_PatchList[1].strRefreshString;

    const size_t uBefore = m_Server.Requests().size();
    ASSERT_TRUE(m_Downloader.ReDownload(&m_Notify));
    EXPECT_EQ(std::string(5000, 'b'), Rv_TestReadFile(Saved(strName)));
    EXPECT_FALSE(Pf_PathExists(m_strSave + strRefresh));
    std::vector<Rv_TestHttpRequest> vecRequests = m_Server.Requests();
    ASSERT_GT(vecRequests.size(), uBefore);
    for (size_t i = uBefore; i < vecRequests.size(); ++i)
        EXPECT_EQ("/v/" + strName + strRefresh, vecRequests[i].strPath);
    EXPECT_EQ(1, m_Downloader.m_PatchList[1].nRedownloadFlag);
}

TEST_F(PatchDownloaderRunTest, ReDownloadSucceedsWhenTheRenameFails)
{
    CheckTwoPatches();
    const std::string strName = _Patch("1.0", "1.1");
    Rv_TestHttpFault serve;
    serve.strServePath = "/v/" + strName;
    m_Server.SetFault("/v/" + strName + "/*", serve);
    Rv_PatchFileInfo Info;
    Info.strFileName = strName;
    ASSERT_TRUE(m_Downloader.MarkFileToRedownload(Info));
    // A folder where the patch would go: the rename cannot replace it.
    ASSERT_TRUE(Pf_CreateDirChain(Saved(strName) + "/x"));
    EXPECT_TRUE(m_Downloader.ReDownload(&m_Notify));
    EXPECT_EQ(0, m_Downloader.m_nLastErrorCode);
}

TEST_F(PatchDownloaderRunTest, StopEndsARunningDownloadAsStopped)
{
    CheckTwoPatches();
    Rv_TestHttpFault hold;
    hold.bHold = true;
    m_Server.SetFault("/v/" + _Patch("1.0", "1.1"), hold);
    std::thread stopper([&] {
        // Stop only once the run asks for the held patch: a stop before the
        // run starts is not what this test is about.
        for (int i = 0; i < 1000 && m_Server.RequestsFor("/v/" + _Patch("1.0", "1.1")).empty(); i++)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        m_Downloader.Stop();
        m_Server.ReleaseHeld();
    });
    EXPECT_FALSE(m_Downloader.Download(&m_Notify));
    stopper.join();
    EXPECT_EQ(2, m_Downloader.m_nLastErrorCode);
}

TEST_F(PatchDownloaderRunTest, RemoteSizesOfTheChain)
{
    CheckTwoPatches();
    ASSERT_TRUE(m_Downloader.InitAllPatchFileSize());
    Rv_PatchFileInfoList List;
    m_Downloader.GetPatchInfoList(List);
    ASSERT_EQ(2u, List.size());
    EXPECT_EQ(70000, List[0].nFileSize);
    EXPECT_EQ(5000, List[1].nFileSize);

    m_Server.Stop();
    EXPECT_FALSE(m_Downloader.InitAllPatchFileSize());
}
