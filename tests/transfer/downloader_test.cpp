// The multi-file downloader against the scripted loopback server and nginx:
// the pool of five threads, finishing order, resume, retries, failures and
// their statuses, stop, the free-space check and progress reports.
#include "transfer/downloader.h"
#include "platform/file.h"
#include "platform/file_lock.h"
#include "tests/foundation/log_capture.h"
#include "tests/support/http_server.h"
#include "tests/support/nginx.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>
#include <cstdlib>
#include <iterator>
#include <map>
#include <mutex>
#include <set>
#include <thread>

namespace {

std::string Bytes(size_t uSize, unsigned uSeed)
{
    std::string str(uSize, '\0');
    uint32_t u = uSeed * 747796405u + 2891336453u;
    for (size_t i = 0; i < uSize; i++) {
        u ^= u << 13;
        u ^= u >> 17;
        u ^= u << 5;
        str[i] = (char)u;
    }
    return str;
}

// Progress reports as the application sees them; two at once is a fault.
class Recorder : public IDownloaderNotification {
public:
    void OnProgress(IDownloader* pDownloader, IHttpFile* pFile, int nValue) override
    {
        EXPECT_FALSE(m_bInside.exchange(true)) << "reports overlap";
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_mapReports[pFile]++;
        if (nValue == 0)
            m_mapFinal[pFile]++;
        if (m_bAskTotals)
            m_llLastDownloaded = pDownloader->GetDownloadedSize();
        m_bInside = false;
    }
    std::atomic<bool> m_bInside{false};
    bool m_bAskTotals = false;
    std::mutex m_Mutex;
    std::map<IHttpFile*, int> m_mapReports;
    std::map<IHttpFile*, int> m_mapFinal;
    int64_t m_llLastDownloaded = 0;
};

class DownloaderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_strWeb = m_Temp.File("web");
        m_strOut = m_Temp.File("out");
        for (int i = 0; i < 7; i++) {
            m_vecData.push_back(Bytes(150000 + 7919 * i, i + 1));
            Rv_TestWriteFile(Web(i), m_vecData[i]);
        }
        Rv_TestWriteFile(m_strOut + "/.keep", "");
        // Retry waits shortened a thousandfold.
        Rv_TestWriteFile(m_Temp.File("sim/sleep_divisor"), "1000");
        setenv("RV_SIM_ROOT", m_Temp.File("sim").c_str(), 1);
        m_Server.Start();
    }
    void TearDown() override { unsetenv("RV_SIM_ROOT"); }

    std::string Path(int i) const { return "/f/" + std::to_string(i) + ".bin"; }
    std::string Web(int i) const { return m_strWeb + Path(i); }
    std::string Out(int i) const { return m_strOut + "/" + std::to_string(i) + ".bin"; }
    std::string Url(int i) const { return m_Server.Url(Path(i)); }

    // Every file StartAndWait returns, in order, until it returns null.
    static std::vector<IHttpFile*> Collect(NyHttpDownloader* pDownloader)
    {
        std::vector<IHttpFile*> vecFiles;
        while (IHttpFile* pFile = pDownloader->StartAndWait())
            vecFiles.push_back(pFile);
        return vecFiles;
    }
    static std::map<std::string, IHttpFile*> ByName(const std::vector<IHttpFile*>& vecFiles)
    {
        std::map<std::string, IHttpFile*> mapFiles;
        for (IHttpFile* pFile : vecFiles)
            mapFiles[pFile->GetFileName()] = pFile;
        return mapFiles;
    }
    std::string Saved(int i) const { return m_strOut + "\\" + std::to_string(i) + ".bin"; }

    Rv_TestTempDir m_Temp;
    std::string m_strWeb;
    std::string m_strOut;
    std::vector<std::string> m_vecData;
    Rv_TestHttpServer m_Server{m_Temp.Path() + "/web"};
};

TEST_F(DownloaderTest, SevenFilesRunFiveAtATimeAndComeBackOnceEach)
{
    NyHttpDownloader downloader;
    Recorder recorder;
    recorder.m_bAskTotals = true;
    downloader.SetNotification(&recorder);
    for (int i = 0; i < 7; i++) {
        Rv_TestHttpFault hold;
        hold.bHold = true;
        m_Server.SetFault(Path(i), hold);
        ASSERT_EQ(1, downloader.AddFile(Url(i).c_str(), m_strOut.c_str()));
    }
    std::vector<IHttpFile*> vecFiles;
    std::thread collector([&] { vecFiles = Collect(&downloader); });
    ASSERT_TRUE(m_Server.WaitForRequests(5, 20000));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    std::set<std::string> setAsked;
    for (const auto& request : m_Server.Requests())
        setAsked.insert(request.strPath);
    EXPECT_EQ((std::set<std::string>{Path(0), Path(1), Path(2), Path(3), Path(4)}), setAsked);
    m_Server.ReleaseHeld();
    collector.join();

    ASSERT_EQ(7u, vecFiles.size());
    auto mapFiles = ByName(vecFiles);
    ASSERT_EQ(7u, mapFiles.size());
    int64_t llTotal = 0;
    for (int i = 0; i < 7; i++) {
        IHttpFile* pFile = mapFiles[Saved(i)];
        ASSERT_NE(nullptr, pFile) << i;
        EXPECT_EQ(dec_ok, pFile->GetStatus()) << i;
        EXPECT_EQ(m_vecData[i], Rv_TestReadFile(Out(i))) << i;
        EXPECT_EQ((int64_t)m_vecData[i].size(), pFile->GetFileSize()) << i;
        EXPECT_EQ(1, recorder.m_mapFinal[pFile]) << i;
        EXPECT_GE(recorder.m_mapReports[pFile], 2) << i;
        llTotal += (int64_t)m_vecData[i].size();
    }
    EXPECT_EQ(llTotal, downloader.GetFileSize());
    EXPECT_EQ(llTotal, downloader.GetDownloadedSize());
    EXPECT_EQ(nullptr, downloader.StartAndWait());
}

TEST_F(DownloaderTest, PartialFilesResumeAndLostTransfersAreRetried)
{
    NyHttpDownloader downloader;
    // 0: a partial file from an earlier run.
    Rv_TestWriteFile(Out(0) + ".tmp", m_vecData[0].substr(0, 1000));
    // 1: the size query and the first two transfers fail.
    Rv_TestHttpFault fail;
    fail.nStatus = 503;
    fail.nTimes = 3;
    m_Server.SetFault(Path(1), fail);
    // 2: the connection drops in the middle of the body.
    Rv_TestHttpFault drop;
    drop.llDropAfter = 100000;
    drop.nTimes = 2;
    m_Server.SetFault(Path(2), drop);
    // 3: the server's file became shorter than the partial one.
    Rv_TestWriteFile(Out(3) + ".tmp", Bytes(m_vecData[3].size() + 5000, 99));
    for (int i = 0; i < 4; i++)
        ASSERT_EQ(1, downloader.AddFile(Url(i).c_str(), (m_strOut + "\\").c_str()));
    auto mapFiles = ByName(Collect(&downloader));
    ASSERT_EQ(4u, mapFiles.size());
    for (int i = 0; i < 4; i++) {
        EXPECT_EQ(dec_ok, mapFiles[Saved(i)]->GetStatus()) << i;
        EXPECT_EQ(m_vecData[i], Rv_TestReadFile(Out(i))) << i;
        EXPECT_FALSE(Pf_FileExists(Out(i) + ".tmp")) << i;
    }
    auto vecResume = m_Server.RequestsFor(Path(0));
    ASSERT_EQ(2u, vecResume.size());
    EXPECT_FALSE(vecResume[0].HasHeader("Range"));
    EXPECT_EQ("bytes=1000-", vecResume[1].Header("Range"));
    EXPECT_EQ(4u, m_Server.RequestsFor(Path(1)).size());
    auto vecDrop = m_Server.RequestsFor(Path(2));
    ASSERT_EQ(3u, vecDrop.size());
    EXPECT_EQ("bytes=100000-", vecDrop[2].Header("Range"));
    auto vecStale = m_Server.RequestsFor(Path(3));
    ASSERT_EQ(2u, vecStale.size());
    EXPECT_FALSE(vecStale[1].HasHeader("Range"));
}

TEST_F(DownloaderTest, FailuresEndWithTheirStatus)
{
    int nClosedPort = 0;
    {
        Rv_TestHttpServer closed(m_strWeb);
        closed.Start();
        nClosedPort = closed.Port();
    }
    Rv_TestHttpFault missing;
    missing.nStatus = 404;
    m_Server.SetFault("/f/missing.bin", missing);
    Rv_TestHttpFault ftp;
    ftp.strLocation = "ftp://127.0.0.1/x.bin";
    m_Server.SetFault("/f/ftp.bin", ftp);
    struct Case {
        std::string strURL;
        DownloadErrorCode eStatus;
        size_t uRequests;   // the size query and six transfers for a failing file
    } aCases[] = {
        {m_Server.Url("/f/missing.bin"), dec_err_disconnect, 7},
        {m_Server.Url("/f/ftp.bin"), dec_err_connect, 7},
        {"http://127.0.0.1:" + std::to_string(nClosedPort) + "/f/0.bin", dec_err_disconnect, 0},
        {m_Server.Url("/f/"), dec_err_url, 0},
        {m_Server.Url("/f/a\\..\\..\\evil.bin"), dec_err_url, 0},
        {m_Server.Url("/f/a:b"), dec_err_url, 0},
        {m_Server.Url("/f/x?y=1"), dec_err_url, 0},
        {m_Server.Url("/f/.."), dec_err_url, 0},
        {"127.0.0.1", dec_err_url, 0},
    };
    NyHttpDownloader downloader;
    for (const Case& c : aCases)
        ASSERT_EQ(1, downloader.AddFile(c.strURL.c_str(), m_strOut.c_str()));
    std::vector<IHttpFile*> vecFiles = Collect(&downloader);
    ASSERT_EQ(std::size(aCases), vecFiles.size());
    std::map<std::string, int> mapStatus;
    for (IHttpFile* pFile : vecFiles)
        mapStatus[pFile->GetFileName()] = pFile->GetStatus();
    EXPECT_EQ(dec_err_disconnect, mapStatus[m_strOut + "\\missing.bin"]);
    EXPECT_EQ(dec_err_connect, mapStatus[m_strOut + "\\ftp.bin"]);
    EXPECT_EQ(dec_err_disconnect, mapStatus[Saved(0)]);
    EXPECT_EQ(dec_err_url, mapStatus[""]);
    int nUrlErrors = 0;
    for (IHttpFile* pFile : vecFiles)
        nUrlErrors += pFile->GetStatus() == dec_err_url;
    EXPECT_EQ(6, nUrlErrors);
    EXPECT_EQ(7u, m_Server.RequestsFor("/f/missing.bin").size());
    EXPECT_EQ(7u, m_Server.RequestsFor("/f/ftp.bin").size());
    // Nothing was written anywhere but the save folder, and nothing failed complete.
    EXPECT_FALSE(Pf_PathExists(m_Temp.File("evil.bin")));
    EXPECT_FALSE(Pf_PathExists(m_strOut + "/missing.bin"));
    EXPECT_FALSE(Pf_PathExists(Out(0)));
}

TEST_F(DownloaderTest, ServerThatIgnoresRangeAndCutsEveryAnswerUsesUpTheRetries)
{
    Rv_TestHttpFault cut;
    cut.bIgnoreRange = true;
    cut.llDropAfter = 60000;
    m_Server.SetFault(Path(0), cut);
    NyHttpDownloader downloader;
    ASSERT_EQ(1, downloader.AddFile(Url(0).c_str(), m_strOut.c_str()));
    // A downloader that would go on for ever is stopped (and fails below).
    std::atomic<bool> bDone{false};
    std::thread guard([&] {
        while (!bDone && m_Server.Requests().size() <= 60)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (!bDone)
            downloader.Stop();
    });
    auto vecFiles = Collect(&downloader);
    bDone = true;
    guard.join();
    ASSERT_EQ(1u, vecFiles.size());
    EXPECT_EQ(dec_err_disconnect, vecFiles[0]->GetStatus());
    // The size query, then six tries: the first brings the ".tmp" to 60000
    // bytes and its resume no further; each later one no further at once.
    EXPECT_EQ(8u, m_Server.RequestsFor(Path(0)).size());
    EXPECT_FALSE(Pf_PathExists(Out(0)));
}

TEST_F(DownloaderTest, TmpLockedByAnotherWriterIsRetriedLater)
{
    NyHttpDownloader downloader;
    std::vector<IHttpFile*> vecFiles;
    Rv_TestWriteFile(Out(0) + ".tmp", "");
    {
        Pf_FileLock lock;
        ASSERT_EQ(1, lock.Lock(Out(0) + ".tmp"));
        ASSERT_EQ(1, downloader.AddFile(Url(0).c_str(), m_strOut.c_str()));
        std::thread collector([&] { vecFiles = Collect(&downloader); });
        // The size query and two tries that found the lock held.
        EXPECT_TRUE(m_Server.WaitForRequests(3, 20000));
        EXPECT_EQ("", Rv_TestReadFile(Out(0) + ".tmp"));
        EXPECT_FALSE(Pf_PathExists(Out(0)));
        lock.Unlock();
        collector.join();
    }
    ASSERT_EQ(1u, vecFiles.size());
    EXPECT_EQ(dec_ok, vecFiles[0]->GetStatus());
    EXPECT_EQ(m_vecData[0], Rv_TestReadFile(Out(0)));
}

TEST_F(DownloaderTest, TwoFilesOfOneNameNeverMixTheirBytes)
{
    // The first is slow at its end, so that the second comes while the
    // first still writes the ".tmp" of their common name. Of one size and
    // written just now, a mixture of the two would pass for either.
    std::string strSlow = Bytes(100050, 11);
    std::string strFast = Bytes(100050, 12);
    Rv_TestWriteFile(m_strWeb + "/a/same.bin", strSlow);
    Rv_TestWriteFile(m_strWeb + "/b/same.bin", strFast);
    Rv_TestHttpFault slow;
    slow.llTrickleAfter = 100000;
    m_Server.SetFault("/a/same.bin", slow);
    NyHttpDownloader downloader;
    ASSERT_EQ(1, downloader.AddFile(m_Server.Url("/a/same.bin").c_str(), m_strOut.c_str()));
    ASSERT_EQ(1, downloader.AddFile(m_Server.Url("/b/same.bin").c_str(), m_strOut.c_str()));
    auto vecFiles = Collect(&downloader);
    ASSERT_EQ(2u, vecFiles.size());
    std::string strSaved = Rv_TestReadFile(m_strOut + "/same.bin");
    EXPECT_TRUE(strSaved == strSlow || strSaved == strFast) << strSaved.size();
    int nComplete = 0;
    for (IHttpFile* pFile : vecFiles) {
        // The one that found the name taken fails after its retries.
        EXPECT_TRUE(pFile->GetStatus() == dec_ok || pFile->GetStatus() == dec_err_disconnect);
        nComplete += pFile->GetStatus() == dec_ok;
    }
    EXPECT_GE(nComplete, 1);
}

TEST_F(DownloaderTest, RedirectedFileIsSizedUnderItsOwnName)
{
    // start.bin is sent to 0.bin; a 0.bin of the folder is not this file.
    Rv_TestHttpFault redirect;
    redirect.strLocation = Path(0);
    m_Server.SetFault("/f/start.bin", redirect);
    Rv_TestWriteFile(Out(0), "unrelated");
    Rv_TestWriteFile(m_strOut + "/start.bin.tmp", m_vecData[0].substr(0, 2000));
    NyHttpDownloader downloader;
    ASSERT_EQ(1, downloader.AddFile(m_Server.Url("/f/start.bin").c_str(), m_strOut.c_str()));
    auto vecFiles = Collect(&downloader);
    ASSERT_EQ(1u, vecFiles.size());
    EXPECT_EQ(dec_ok, vecFiles[0]->GetStatus());
    EXPECT_EQ((int64_t)m_vecData[0].size(), vecFiles[0]->GetFileSize());
    EXPECT_EQ(m_vecData[0], Rv_TestReadFile(m_strOut + "/start.bin"));
    EXPECT_EQ("unrelated", Rv_TestReadFile(Out(0)));
    EXPECT_EQ("bytes=2000-", m_Server.RequestsFor(Path(0)).back().Header("Range"));
}

TEST_F(DownloaderTest, UnsizedBodiesAreTransferredNotCountedComplete)
{
    Rv_TestHttpFault unsized;
    unsized.bNoContentLength = true;
    m_Server.SetFault(Path(0), unsized);
    Rv_TestHttpFault chunked;
    chunked.bChunked = true;
    chunked.uChunkSize = 30000;
    m_Server.SetFault(Path(1), chunked);
    NyHttpDownloader downloader;
    for (int i = 0; i < 2; i++)
        ASSERT_EQ(1, downloader.AddFile(Url(i).c_str(), m_strOut.c_str()));
    auto mapFiles = ByName(Collect(&downloader));
    ASSERT_EQ(2u, mapFiles.size());
    for (int i = 0; i < 2; i++) {
        EXPECT_EQ(dec_ok, mapFiles[Saved(i)]->GetStatus()) << i;
        EXPECT_EQ(m_vecData[i], Rv_TestReadFile(Out(i))) << i;
        EXPECT_EQ((int64_t)m_vecData[i].size(), mapFiles[Saved(i)]->GetDownloadedSize()) << i;
    }
}

TEST_F(DownloaderTest, FileLargerThanTheFreeSpaceStopsWithoutRetry)
{
    std::string strBig = Bytes(400000, 42);
    Rv_TestWriteFile(m_Temp.File("sim/free_bytes"), "100000");
    Rv_TestWriteFile(m_strWeb + "/f/big.bin", strBig);
    Rv_TestWriteFile(m_strWeb + "/f/small.bin", strBig.substr(0, 50000));
    NyHttpDownloader downloader;
    ASSERT_EQ(1, downloader.AddFile(m_Server.Url("/f/big.bin").c_str(), m_strOut.c_str()));
    ASSERT_EQ(1, downloader.AddFile(m_Server.Url("/f/small.bin").c_str(), m_strOut.c_str()));
    auto mapFiles = ByName(Collect(&downloader));
    ASSERT_EQ(2u, mapFiles.size());
    EXPECT_EQ(dec_err_disk_space, mapFiles[m_strOut + "\\big.bin"]->GetStatus());
    EXPECT_EQ(2u, m_Server.RequestsFor("/f/big.bin").size());
    EXPECT_FALSE(Pf_PathExists(m_strOut + "/big.bin"));
    EXPECT_EQ(dec_ok, mapFiles[m_strOut + "\\small.bin"]->GetStatus());
    EXPECT_EQ(strBig.substr(0, 50000), Rv_TestReadFile(m_strOut + "/small.bin"));
}

TEST_F(DownloaderTest, FreeSpaceOfTheRealDiskIsThatOfTheSaveFolder)
{
    // No simulated free space: the file system under the save folder answers.
    struct Case {
        const char* cszName;
        std::string strFolder;
        int64_t llTotal;
        DownloadErrorCode eStatus;
    } aCases[] = {
        {"fits", m_strOut, 1000, dec_running},
        {"fits, folder with a separator", m_strOut + "\\", 1000, dec_running},
        {"fits, folder not made yet", m_strOut + "\\later\\", 1000, dec_running},
        {"larger than any disk", m_strOut, INT64_MAX / 2, dec_err_disk_space},
        {"larger than any disk, folder not made yet", m_strOut + "\\later", INT64_MAX / 2, dec_err_disk_space},
    };
    for (const Case& c : aCases) {
        NyHttpFile file(Url(0).c_str(), c.strFolder.c_str(), nullptr);
        file.OnProgress(c.llTotal, 0, 0);
        EXPECT_EQ(c.eStatus, file.GetStatus()) << c.cszName;
    }
}

TEST_F(DownloaderTest, StopEndsRunningFilesAndTheRestComeBackStopped)
{
    NyHttpDownloader downloader;
    downloader.Stop();      // nothing running: returns at once
    for (int i = 0; i < 7; i++) {
        Rv_TestHttpFault slow;
        slow.llTrickleAfter = 70000;
        m_Server.SetFault(Path(i), slow);
        ASSERT_EQ(1, downloader.AddFile(Url(i).c_str(), m_strOut.c_str()));
    }
    std::thread starter([&] { EXPECT_NE(nullptr, downloader.StartAndWait()); });
    // Five size queries and five transfers.
    ASSERT_TRUE(m_Server.WaitForRequests(10, 20000));
    downloader.Stop();
    starter.join();
    std::vector<IHttpFile*> vecFiles = Collect(&downloader);
    ASSERT_EQ(6u, vecFiles.size());
    EXPECT_EQ(nullptr, downloader.StartAndWait());
    for (IHttpFile* pFile : vecFiles)
        EXPECT_EQ(dec_err_stop, pFile->GetStatus()) << pFile->GetFileName();
    // The two files that never started made no request.
    EXPECT_TRUE(m_Server.RequestsFor(Path(5)).empty());
    EXPECT_TRUE(m_Server.RequestsFor(Path(6)).empty());
}

// Fails the start of the second thread.
class FailingStartDownloader : public NyHttpDownloader {
protected:
    int _StartThread(Pf_Thread* pThread, Pf_ThreadFunction pfnFunction, void* pvArg) override
    {
        if (++m_nStarts == 2)
            return 0;
        return NyHttpDownloader::_StartThread(pThread, pfnFunction, pvArg);
    }
    int m_nStarts = 0;
};

TEST_F(DownloaderTest, FileWhoseThreadCannotStartIsReturnedFailed)
{
    FailingStartDownloader downloader;
    for (int i = 0; i < 3; i++)
        ASSERT_EQ(1, downloader.AddFile(Url(i).c_str(), m_strOut.c_str()));
    auto mapFiles = ByName(Collect(&downloader));
    ASSERT_EQ(3u, mapFiles.size());
    EXPECT_EQ(dec_ok, mapFiles[Saved(0)]->GetStatus());
    EXPECT_EQ(dec_err_disconnect, mapFiles[Saved(1)]->GetStatus());
    EXPECT_EQ(dec_ok, mapFiles[Saved(2)]->GetStatus());
    EXPECT_FALSE(Pf_PathExists(Out(1)));
}

// A wait that names no running file.
class WrongIndexDownloader : public NyHttpDownloader {
protected:
    int _WaitForAny(Pf_Event** apEvents, int nCount, int* pnRetIndex) override
    {
        NyHttpDownloader::_WaitForAny(apEvents, nCount, pnRetIndex);
        *pnRetIndex = nCount + 6;
        return 1;
    }
};

TEST_F(DownloaderTest, WaitThatNamesNoRunningFileReturnsNull)
{
    Rv_TestLogCapture log(m_Temp);
    WrongIndexDownloader downloader;
    ASSERT_EQ(1, downloader.AddFile(Url(0).c_str(), m_strOut.c_str()));
    EXPECT_EQ(nullptr, downloader.StartAndWait());
    EXPECT_NE(std::string::npos,
              log.Text().find("RVLOG_PROCESS_ERROR(nIndex >= 0 && nIndex < m_DownloadingFiles.size())"))
        << log.Text();
}

TEST_F(DownloaderTest, AddFileRefusesMissingArguments)
{
    NyHttpDownloader downloader;
    EXPECT_EQ(0, downloader.AddFile(nullptr, m_strOut.c_str()));
    EXPECT_EQ(0, downloader.AddFile("", m_strOut.c_str()));
    EXPECT_EQ(0, downloader.AddFile(Url(0).c_str(), nullptr));
    EXPECT_EQ(0, downloader.AddFile(Url(0).c_str(), ""));
    EXPECT_EQ(nullptr, downloader.StartAndWait());
}

TEST_F(DownloaderTest, NginxServesResumedAndWholeFiles)
{
    Rv_TestWriteFile(m_Temp.File("nginx/.keep"), "");
    Rv_TestNginx nginx(m_strWeb, m_Temp.File("nginx"));
    if (!nginx.Start())
        GTEST_SKIP() << "nginx not available";
    Rv_TestWriteFile(Out(1) + ".tmp", m_vecData[1].substr(0, 4096));
    NyHttpDownloader downloader;
    for (int i = 0; i < 3; i++)
        ASSERT_EQ(1, downloader.AddFile(nginx.Url(Path(i)).c_str(), m_strOut.c_str()));
    auto mapFiles = ByName(Collect(&downloader));
    ASSERT_EQ(3u, mapFiles.size());
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(dec_ok, mapFiles[Saved(i)]->GetStatus()) << i;
        EXPECT_EQ(m_vecData[i], Rv_TestReadFile(Out(i))) << i;
    }
    bool bRangeSeen = false;
    for (const std::string& strLine : nginx.AccessLog(6))
        bRangeSeen = bRangeSeen || (strLine.find("GET " + Path(1)) == 0 && strLine.find("|206|bytes=4096-|") != std::string::npos);
    EXPECT_TRUE(bRangeSeen);
}

}  // namespace
