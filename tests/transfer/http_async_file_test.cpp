// Background single-file download: the three ways in turn with the status the
// user polls, no partial file after a failure, the user's abort while a way
// waits, reads or runs the URL download, a system without the file-size call,
// a second start that waits for the first worker, and the failure log lines.
#include "platform/file.h"
#include "tests/foundation/log_capture.h"
#include "tests/support/http_server.h"
#include "tests/support/temp_dir.h"
#include "tests/support/web_client_env.h"
#include "transfer/http_async_file.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <thread>

namespace {

class HttpAsyncFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (size_t i = 0; i < 300000; ++i)
            m_strData.push_back((char)(i % 253));
        Rv_TestWriteFile(m_Dir.File("www/res.bin"), m_strData);
        m_Server.Start();
        m_strTarget = m_Dir.File("local/res.bin");
        Rv_TestWriteFile(m_strTarget, "old copy");
    }

    // Polls as the file synchronisation does until the run has ended (a
    // bound keeps a broken build from hanging), then joins the worker.
    static int WaitForEnd(Rv_HttpAsyncFile* pFile)
    {
        for (int i = 0; i < 6000 && pFile->m_nStatusCode < RV_HADSC_SUCCESS; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        pFile->m_WorkTread.Wait();
        return pFile->m_nStatusCode;
    }

    // Waits until pfnReady() holds (bounded), for points in the middle of a run.
    template <typename F>
    static bool WaitUntil(F pfnReady)
    {
        for (int i = 0; i < 6000; ++i) {
            if (pfnReady())
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }

    Rv_TestTempDir m_Dir;
    Rv_TestWebClientEnv m_Env{m_Dir};
    Rv_TestHttpServer m_Server{m_Dir.File("www")};
    std::string m_strData;
    std::string m_strTarget;
};

}  // namespace

TEST_F(HttpAsyncFile, FirstWayWritesTheFile)
{
    Rv_HttpAsyncFile file;
    EXPECT_EQ(RV_HADSC_IDLE, file.m_nStatusCode);
    Pf_SetReadOnly(m_strTarget, 1);
    ASSERT_TRUE(file.Init(m_Server.Url("/res.bin").c_str(), m_strTarget.c_str()));
    ASSERT_TRUE(file.StartDownload());
    EXPECT_EQ(RV_HADSC_SUCCESS, WaitForEnd(&file));
    EXPECT_EQ(m_strData, Rv_TestReadFile(m_strTarget));
    EXPECT_EQ((int)m_strData.size(), file.GetDownloadedBytes());
    EXPECT_EQ((int)m_strData.size(), file.GetContentLength());
    std::vector<Rv_TestHttpRequest> vecLog = m_Server.Requests();
    ASSERT_EQ(1u, vecLog.size());
    EXPECT_EQ("Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1)", vecLog[0].Header("User-Agent"));
    EXPECT_EQ("*/*", vecLog[0].Header("Accept"));
}

TEST_F(HttpAsyncFile, WaysTriedInTurn)
{
    auto Fault = [](int nStatus, long long llDropAfter, int nTimes) {
        Rv_TestHttpFault f;
        f.nStatus = nStatus;
        f.llDropAfter = llDropAfter;
        f.nTimes = nTimes;
        return f;
    };
    struct Case {
        const char* cszName;
        Rv_TestHttpFault fault;
        bool bNoFileSizeCall;
        int nStatus;
        size_t uRequests;
    } aCases[] = {
        {"404 everywhere", Fault(404, -1, -1), false, RV_HADSC_ERROR_UNKNOWN, 3},
        {"500 once", Fault(500, -1, 1), false, RV_HADSC_SUCCESS, 2},
        {"body cut short once", Fault(0, 1000, 1), false, RV_HADSC_SUCCESS, 2},
        {"body cut short twice, URL download", Fault(0, 1000, 2), false, RV_HADSC_SUCCESS, 3},
        {"body cut short always", Fault(0, 1000, -1), false, RV_HADSC_ERROR_UNKNOWN, 3},
        {"body cut short at 0 always", Fault(0, 0, -1), false, RV_HADSC_ERROR_UNKNOWN, 3},
        {"203 is no 200, URL download takes it", [] { Rv_TestHttpFault f; f.nStatus = 203; f.strBody = "other"; return f; }(),
         false, RV_HADSC_SUCCESS, 3},
        {"close-delimited", [] { Rv_TestHttpFault f; f.bNoContentLength = true; return f; }(), false, RV_HADSC_SUCCESS, 1},
        {"chunked", [] { Rv_TestHttpFault f; f.bChunked = true; f.uChunkSize = 4000; return f; }(), false,
         RV_HADSC_SUCCESS, 1},
        {"no file-size call, first way fine", Fault(0, -1, 0), true, RV_HADSC_SUCCESS, 1},
        {"no file-size call, no URL download", Fault(404, -1, -1), true, RV_HADSC_ERROR_UNKNOWN, 2},
        {"no file-size call, cut short twice", Fault(0, 1000, 2), true, RV_HADSC_ERROR_UNKNOWN, 2},
    };
    for (const Case& c : aCases) {
        Rv_TestHttpServer server(m_Dir.File("www"));
        server.Start();
        server.SetFault("/res.bin", c.fault);
        if (c.bNoFileSizeCall)
            Rv_TestWriteFile(m_Dir.File("sim/missing_calls"), "GetFileSizeEx\n");
        else
            Pf_DeleteFile(m_Dir.File("sim/missing_calls"));
        Rv_TestWriteFile(m_strTarget, "old copy");
        Rv_HttpAsyncFile file;
        ASSERT_TRUE(file.Init(server.Url("/res.bin").c_str(), m_strTarget.c_str()));
        ASSERT_TRUE(file.StartDownload());
        EXPECT_EQ(c.nStatus, WaitForEnd(&file)) << c.cszName;
        EXPECT_EQ(c.uRequests, server.Requests().size()) << c.cszName;
        if (c.nStatus == RV_HADSC_SUCCESS) {
            std::string strExpected = c.fault.nStatus == 203 ? c.fault.strBody : m_strData;
            EXPECT_EQ(strExpected, Rv_TestReadFile(m_strTarget)) << c.cszName;
        } else {
            EXPECT_FALSE(Pf_PathExists(m_strTarget)) << c.cszName << ": no half file after a failure";
        }
    }
}

TEST_F(HttpAsyncFile, AbortEndsTheRunAndKeepsItsStatus)
{
    auto Trickle = [](int nStatus, const std::string& strBody) {
        Rv_TestHttpFault f;
        f.nStatus = nStatus;
        f.strBody = strBody;
        f.llTrickleAfter = 100000;
        return f;
    };
    auto Hold = [] {
        Rv_TestHttpFault f;
        f.bHold = true;
        return f;
    };
    auto HoldBody = [] {
        Rv_TestHttpFault f;
        f.llHoldAfter = 51200;
        return f;
    };
    struct Case {
        const char* cszName;
        Rv_TestHttpFault fault;
        size_t uRequestsBeforeAbort;    // the abort comes once these are logged ...
        int nBytesBeforeAbort;          // ... and this many bytes are written
        size_t uRequests;               // requests made in all
    } aCases[] = {
        {"while the first way reads", Trickle(0, ""), 1, 50000, 1},
        {"while the first way waits for the answer", Hold(), 1, 0, 1},
        {"while the first way waits for held body bytes", HoldBody(), 1, 51200, 1},
        // The two library ways refuse a 203 at once; the URL download takes its body.
        {"while the URL download runs", Trickle(203, std::string(100100, 'u')), 3, 0, 3},
    };
    // Written into the status by the user, or through Abort, which also
    // stops the transfer at once.
    for (bool bCallAbort : {false, true})
    for (const Case& c : aCases) {
        SCOPED_TRACE(bCallAbort ? "Abort()" : "status written");
        Rv_TestHttpServer server(m_Dir.File("www"));
        server.Start();
        server.SetFault("/res.bin", c.fault);
        Rv_TestWriteFile(m_strTarget, "old copy");
        Rv_HttpAsyncFile file;
        ASSERT_TRUE(file.Init(server.Url("/res.bin").c_str(), m_strTarget.c_str()));
        ASSERT_TRUE(file.StartDownload());
        ASSERT_TRUE(WaitUntil([&] {
            return server.Requests().size() >= c.uRequestsBeforeAbort &&
                   file.GetDownloadedBytes() >= c.nBytesBeforeAbort;
        })) << c.cszName;
        // Let the URL download get a little of its body first.
        if (c.uRequestsBeforeAbort == 3) {
            ASSERT_TRUE(WaitUntil([&] { return !Rv_TestReadFile(m_strTarget).empty(); })) << c.cszName;
        }
        EXPECT_EQ(RV_HADSC_DOWNLOADING, file.m_nStatusCode) << c.cszName;
        if (bCallAbort)
            file.Abort();
        else
            file.m_nStatusCode = RV_HADSC_ERROR_ABORT;
        file.m_WorkTread.Wait();
        EXPECT_EQ(RV_HADSC_ERROR_ABORT, file.m_nStatusCode) << c.cszName;
        EXPECT_EQ(c.uRequests, server.Requests().size()) << c.cszName << ": no further way after the abort";
        EXPECT_FALSE(Pf_PathExists(m_strTarget)) << c.cszName;
        server.Stop();
    }
}

// A body past the bound given to Init fails every way and leaves no file.
TEST_F(HttpAsyncFile, BodyPastTheBoundFails)
{
    for (bool bAnnounced : {true, false}) {
        Rv_TestHttpServer server(m_Dir.File("www"));
        server.Start();
        Rv_TestHttpFault fault;
        fault.bNoContentLength = !bAnnounced;
        server.SetFault("/res.bin", fault);
        Rv_HttpAsyncFile file;
        ASSERT_TRUE(file.Init(server.Url("/res.bin").c_str(), m_strTarget.c_str(), m_strData.size() - 1));
        ASSERT_TRUE(file.StartDownload());
        EXPECT_EQ(RV_HADSC_ERROR_UNKNOWN, WaitForEnd(&file)) << bAnnounced;
        EXPECT_EQ(3u, server.Requests().size()) << bAnnounced;
        EXPECT_FALSE(Pf_PathExists(m_strTarget)) << bAnnounced;

        ASSERT_TRUE(file.Init(server.Url("/res.bin").c_str(), m_strTarget.c_str(), m_strData.size()));
        ASSERT_TRUE(file.StartDownload());
        EXPECT_EQ(RV_HADSC_SUCCESS, WaitForEnd(&file)) << bAnnounced;
        EXPECT_EQ(m_strData, Rv_TestReadFile(m_strTarget)) << bAnnounced;
    }
}

TEST_F(HttpAsyncFile, SecondStartWaitsForTheFirstWorker)
{
    // The first run fails slowly; the second one serves the file.
    std::string strLarge(4 * 1024 * 1024, 'L');
    Rv_TestWriteFile(m_Dir.File("www/res.bin"), strLarge);
    Rv_TestHttpFault fault;
    fault.nStatus = 404;
    fault.uDelayMs = 150;
    fault.nTimes = 3;
    m_Server.SetFault("/res.bin", fault);
    Rv_HttpAsyncFile file;
    ASSERT_TRUE(file.Init(m_Server.Url("/res.bin").c_str(), m_strTarget.c_str()));
    ASSERT_TRUE(file.StartDownload());
    ASSERT_TRUE(file.StartDownload());
    // The first worker has ended (all its three requests made) and left its
    // failure to the past: the new run is under way.
    EXPECT_GE(m_Server.Requests().size(), 3u);
    EXPECT_EQ(RV_HADSC_DOWNLOADING, file.m_nStatusCode);
    EXPECT_EQ(RV_HADSC_SUCCESS, WaitForEnd(&file));
    EXPECT_EQ(strLarge, Rv_TestReadFile(m_strTarget));
    EXPECT_EQ(4u, m_Server.Requests().size());
}

TEST_F(HttpAsyncFile, BadArgumentsFail)
{
    Rv_HttpAsyncFile file;
    std::string strUrl = m_Server.Url("/res.bin");
    EXPECT_FALSE(file.Init(nullptr, m_strTarget.c_str()));
    EXPECT_FALSE(file.Init("", m_strTarget.c_str()));
    EXPECT_FALSE(file.Init(strUrl.c_str(), nullptr));
    EXPECT_FALSE(file.Init(strUrl.c_str(), ""));
    EXPECT_EQ(RV_HADSC_IDLE, file.m_nStatusCode);
    EXPECT_EQ(0u, m_Server.Requests().size());
    EXPECT_EQ("old copy", Rv_TestReadFile(m_strTarget));
}

TEST_F(HttpAsyncFile, FailuresAreLogged)
{
    Rv_TestLogCapture log(m_Dir);
    Rv_TestHttpFault fault;
    fault.nStatus = 404;
    m_Server.SetFault("/res.bin", fault);
    std::string strUrl = m_Server.Url("/res.bin");
    {
        Rv_HttpAsyncFile file;
        ASSERT_TRUE(file.Init(strUrl.c_str(), m_strTarget.c_str()));
        ASSERT_TRUE(file.StartDownload());
        EXPECT_EQ(RV_HADSC_ERROR_UNKNOWN, WaitForEnd(&file));
    }
    std::string strText = log.Text();
    for (const std::string& strLine : {
             std::string("Response status code : 404"),
             "[_DownloadByWinINet]Failed to download `" + strUrl + "`, Error Code ",
             std::string(". dwAccessType = 0"),
             std::string(". dwAccessType = 1"),
             "[_URLDownloadToFile]Failed to download `" + strUrl + "` to `" + m_strTarget +
                 "`, Error code : 0x800C0005",
             std::string("RVLOG_PROCESS_ERROR(hRetCode == S_OK) at line"),
             std::string("in Rv_HttpAsyncFile::_URLDownloadToFile"),
         })
        EXPECT_NE(std::string::npos, strText.find(strLine)) << strLine << "\n" << strText;
}
