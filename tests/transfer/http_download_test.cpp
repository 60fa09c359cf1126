// The socket HTTP client against the scripted loopback server: resume, cut
// bodies, chunked and unsized bodies, redirects, lengths and dates.
#include "transfer/http_download.h"
#include "platform/file.h"
#include "tests/support/http_server.h"
#include "tests/support/temp_dir.h"
#include "tests/support/time_zone.h"

#include "platform/file_lock.h"

#include <gtest/gtest.h>
#include <atomic>
#include <chrono>
#include <ctime>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utime.h>

namespace {

std::string Pattern(size_t uSize, unsigned uSeed = 1)
{
    std::string str(uSize, '\0');
    uint32_t u = uSeed * 2654435761u + 1;
    for (size_t i = 0; i < uSize; i++) {
        u = u * 1103515245u + 12345u;
        str[i] = (char)(u >> 16);
    }
    return str;
}

// Stops a client once the server has seen more requests than any sound run
// makes, so that a transfer that would loop for ever ends (with 2).
class Rv_RequestGuard {
public:
    Rv_RequestGuard(const Rv_TestHttpServer& server, CHttpDownload* pClient, size_t uMax)
        : m_Thread([&server, pClient, uMax, this] {
              while (!m_bDone) {
                  if (server.Requests().size() > uMax) {
                      pClient->RequestStop();
                      return;
                  }
                  std::this_thread::sleep_for(std::chrono::milliseconds(10));
              }
          })
    {
    }
    ~Rv_RequestGuard()
    {
        m_bDone = true;
        m_Thread.join();
    }

private:
    std::atomic<bool> m_bDone{false};
    std::thread m_Thread;
};

class HttpDownloadTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_strWeb = m_Temp.File("web");
        m_strOut = m_Temp.File("out");
        Rv_TestWriteFile(m_strWeb + "/a/b/file.bin", m_strData);
        Rv_TestWriteFile(m_strOut + "/.keep", "");
        m_Server.Start();
    }
    int Fetch(const std::string& strPath, const std::string& strLocal)
    {
        return m_Client.Download(m_Server.Url(strPath).c_str(), strLocal.c_str());
    }

    // A zone far from UTC, so that a date read or stamped as local time shows.
    Rv_TestTimeZone m_Zone{"RVT+05:30"};
    Rv_TestTempDir m_Temp;
    std::string m_strWeb;
    std::string m_strOut;
    std::string m_strData = Pattern(300000);
    Rv_TestHttpServer m_Server{m_Temp.Path() + "/web"};
    CHttpDownload m_Client;
};

TEST_F(HttpDownloadTest, WholeFileIsMovedIntoPlaceWithTheServersTime)
{
    std::string strLocal = m_strOut + "/file.bin";
    struct stat stWeb;
    struct stat stOut;
    ASSERT_EQ(0, Fetch("/a/b/file.bin", strLocal));
    EXPECT_EQ(m_strData, Rv_TestReadFile(strLocal));
    EXPECT_FALSE(Pf_FileExists(strLocal + ".tmp"));
    ASSERT_EQ(0, stat((m_strWeb + "/a/b/file.bin").c_str(), &stWeb));
    ASSERT_EQ(0, stat(strLocal.c_str(), &stOut));
    EXPECT_EQ(stWeb.st_mtime, stOut.st_mtime);

    auto vecRequests = m_Server.Requests();
    ASSERT_EQ(1u, vecRequests.size());
    EXPECT_EQ("GET /a/b/file.bin HTTP/1.1\r\n"
              "Host: 127.0.0.1\r\n"
              "Accept: */*\r\n"
              "Pragma: no-cache\r\n"
              "Cache-Control: no-cache\r\n"
              "User-Agent: RMXUpdate/1.0\r\n"
              "Connection: close\r\n"
              "\r\n",
              vecRequests[0].strHead);
}

TEST_F(HttpDownloadTest, PartialTmpIsResumedWithRange)
{
    std::string strLocal = m_strOut + "/file.bin";
    Rv_TestWriteFile(strLocal + ".tmp", m_strData.substr(0, 1000));
    ASSERT_EQ(0, Fetch("/a/b/file.bin", strLocal));
    EXPECT_EQ(m_strData, Rv_TestReadFile(strLocal));
    EXPECT_EQ((int)m_strData.size(), m_Client.m_nTotalSize);
    auto vecRequests = m_Server.Requests();
    ASSERT_EQ(1u, vecRequests.size());
    EXPECT_EQ("bytes=1000-", vecRequests[0].Header("Range"));
}

TEST_F(HttpDownloadTest, WholeAnswerToRangeReplacesALongerTmp)
{
    std::string strLocal = m_strOut + "/file.bin";
    Rv_TestHttpFault fault;
    fault.bIgnoreRange = true;
    m_Server.SetFault("/a/b/file.bin", fault);
    Rv_TestWriteFile(strLocal + ".tmp", Pattern(500000, 7));
    ASSERT_EQ(0, Fetch("/a/b/file.bin", strLocal));
    EXPECT_EQ(m_strData, Rv_TestReadFile(strLocal));
}

TEST_F(HttpDownloadTest, DroppedBodyIsResumedToTheSameBytes)
{
    std::string strLocal = m_strOut + "/file.bin";
    Rv_TestHttpFault fault;
    fault.llDropAfter = 123457;
    fault.nTimes = 1;
    m_Server.SetFault("/a/b/file.bin", fault);
    ASSERT_EQ(0, Fetch("/a/b/file.bin", strLocal));
    EXPECT_EQ(m_strData, Rv_TestReadFile(strLocal));
    auto vecRequests = m_Server.Requests();
    ASSERT_EQ(2u, vecRequests.size());
    EXPECT_FALSE(vecRequests[0].HasHeader("Range"));
    EXPECT_EQ("bytes=123457-", vecRequests[1].Header("Range"));
}

TEST_F(HttpDownloadTest, UnsizedAndChunkedBodiesAreComplete)
{
    struct Case {
        bool bChunked;
        unsigned uChunk;
    } aCases[] = {{false, 0}, {true, 1000}, {true, 70000}};
    for (const Case& c : aCases) {
        std::string strLocal = m_strOut + "/file" + std::to_string(c.uChunk) + ".bin";
        Rv_TestHttpFault fault;
        fault.bNoContentLength = !c.bChunked;
        fault.bChunked = c.bChunked;
        if (c.uChunk)
            fault.uChunkSize = c.uChunk;
        m_Server.SetFault("/a/b/file.bin", fault);
        ASSERT_EQ(0, Fetch("/a/b/file.bin", strLocal)) << c.uChunk;
        EXPECT_EQ(m_strData, Rv_TestReadFile(strLocal)) << c.uChunk;
    }
}

TEST_F(HttpDownloadTest, ResetEndsNoUnsizedBody)
{
    // Without a length only an orderly close ends the body: a reset is a
    // lost connection, resumed with a Range request.
    std::string strLocal = m_strOut + "/file.bin";
    Rv_TestHttpFault fault;
    fault.bNoContentLength = true;
    fault.llDropAfter = 100000;
    fault.bReset = true;
    fault.nTimes = 1;
    m_Server.SetFault("/a/b/file.bin", fault);
    ASSERT_EQ(0, Fetch("/a/b/file.bin", strLocal));
    EXPECT_EQ(m_strData, Rv_TestReadFile(strLocal));
    auto vecRequests = m_Server.Requests();
    ASSERT_EQ(2u, vecRequests.size());
    EXPECT_EQ("bytes=100000-", vecRequests[1].Header("Range"));
}

TEST_F(HttpDownloadTest, FailingWriteFailsAtOnce)
{
    std::string strLocal = m_strOut + "/file.bin";
    if (symlink("/dev/full", (strLocal + ".tmp").c_str()) != 0)
        GTEST_SKIP() << "no symbolic link";
    EXPECT_EQ(3, Fetch("/a/b/file.bin", strLocal));
    EXPECT_EQ(1u, m_Server.Requests().size());
    EXPECT_FALSE(Pf_FileExists(strLocal));
}

TEST_F(HttpDownloadTest, AnswerWithoutBodyBytesIsNotRetriedForEver)
{
    // The header arrives, then the connection closes before any body byte:
    // a resume that brings nothing is a network failure, not a loop.
    Rv_TestHttpFault fault;
    fault.llDropAfter = 0;
    m_Server.SetFault("/a/b/file.bin", fault);
    EXPECT_EQ(3, Fetch("/a/b/file.bin", m_strOut + "/file.bin"));
    EXPECT_FALSE(Pf_FileExists(m_strOut + "/file.bin"));
    EXPECT_EQ(1u, m_Server.RequestsFor("/a/b/file.bin").size());
}

TEST_F(HttpDownloadTest, ResumeWithoutNetProgressIsANetworkFailure)
{
    // Servers that ignore the Range and end every answer after the same
    // bytes: the second answer brings the file no further than the first.
    struct Case {
        const char* cszName;
        bool bNoContentLength;
        long long llDropAfter;
        long long llStallAfter;
    } aCases[] = {
        {"cut after 100000 bytes", false, 100000, -1},
        {"unsized, silent after 100000 bytes", true, -1, 100000},
    };
    for (const Case& c : aCases) {
        std::string strLocal = m_strOut + "/file.bin";
        Rv_TestHttpServer server(m_strWeb);
        Rv_TestHttpFault fault;
        fault.bIgnoreRange = true;
        fault.bNoContentLength = c.bNoContentLength;
        fault.llDropAfter = c.llDropAfter;
        fault.llStallAfter = c.llStallAfter;
        server.SetFault("/a/b/file.bin", fault);
        server.Start();
        CHttpDownload client;
        client.m_nRecvTimeout = 300;
        Rv_RequestGuard guard(server, &client, 20);
        EXPECT_EQ(3, client.Download(server.Url("/a/b/file.bin").c_str(), strLocal.c_str())) << c.cszName;
        auto vecRequests = server.Requests();
        ASSERT_EQ(2u, vecRequests.size()) << c.cszName;
        EXPECT_EQ("bytes=100000-", vecRequests[1].Header("Range")) << c.cszName;
        EXPECT_FALSE(Pf_FileExists(strLocal)) << c.cszName;
        // The retry mode then decides: one retry more, which fares no better.
        client.m_nRetryMode = 1;
        client.m_nMaxRetries = 0;
        EXPECT_EQ(3, client.Download(server.Url("/a/b/file.bin").c_str(), strLocal.c_str())) << c.cszName;
        EXPECT_EQ(4u, server.Requests().size()) << c.cszName;
        Pf_DeleteFile(strLocal + ".tmp");
    }
}

TEST_F(HttpDownloadTest, TmpLockedByAnotherWriterIsLeftAlone)
{
    std::string strLocal = m_strOut + "/file.bin";
    Rv_TestWriteFile(strLocal + ".tmp", "being written");
    {
        Pf_FileLock lock;
        ASSERT_EQ(1, lock.Lock(strLocal + ".tmp"));
        EXPECT_EQ(3, Fetch("/a/b/file.bin", strLocal));
        EXPECT_EQ("being written", Rv_TestReadFile(strLocal + ".tmp"));
        EXPECT_FALSE(Pf_FileExists(strLocal));
    }
    // The lock is the writer's own while it lasts: a new transfer takes it.
    Rv_TestWriteFile(strLocal + ".tmp", m_strData.substr(0, 5000));
    ASSERT_EQ(0, Fetch("/a/b/file.bin", strLocal));
    EXPECT_EQ(m_strData, Rv_TestReadFile(strLocal));
    EXPECT_EQ("bytes=5000-", m_Server.Requests().back().Header("Range"));
}

TEST_F(HttpDownloadTest, PartialAnswerFromTheWrongByteStartsAgainFromZero)
{
    std::string strLocal = m_strOut + "/file.bin";
    for (long long llServed : {0LL, 500LL, 2000LL}) {
        Rv_TestHttpFault fault;
        fault.llRangeStartServed = llServed;
        m_Server.SetFault("/a/b/file.bin", fault);
        Pf_DeleteFile(strLocal);
        Rv_TestWriteFile(strLocal + ".tmp", m_strData.substr(0, 1000));
        size_t uBefore = m_Server.Requests().size();
        ASSERT_EQ(0, Fetch("/a/b/file.bin", strLocal)) << llServed;
        EXPECT_EQ(m_strData, Rv_TestReadFile(strLocal)) << llServed;
        auto vecRequests = m_Server.Requests();
        ASSERT_EQ(uBefore + 2, vecRequests.size()) << llServed;
        EXPECT_EQ("bytes=1000-", vecRequests[uBefore].Header("Range")) << llServed;
        EXPECT_FALSE(vecRequests[uBefore + 1].HasHeader("Range")) << llServed;
    }
}

TEST_F(HttpDownloadTest, LastModifiedInEveryHttpFormStampsTheFile)
{
    // -1: unreadable, counted as no date, so the file gets the current time.
    struct Case {
        const char* cszDate;
        int64_t llStamp;
    } aCases[] = {
        {"Mon, 99 Xyz 99999999999 99:99:99 GMT", -1},
        {"Sun, 06 Nov 1994 08:49:37 +9999999999999", -1},
        {"Sunday, 06-Nov-94 08:49:37 GMT", 784111777},
        {"Sun Nov  6 08:49:37 1994", 784111777},
    };
    std::string strLocal = m_strOut + "/file.bin";
    for (const Case& c : aCases) {
        Rv_TestHttpFault fault;
        struct stat st;
        fault.nStatus = 200;
        fault.strBody = m_strData;
        fault.vecExtraHeaders = {std::string("Last-Modified: ") + c.cszDate};
        m_Server.SetFault("/a/b/file.bin", fault);
        Pf_DeleteFile(strLocal);
        int64_t llBefore = (int64_t)time(nullptr);
        ASSERT_EQ(0, Fetch("/a/b/file.bin", strLocal)) << c.cszDate;
        ASSERT_EQ(0, stat(strLocal.c_str(), &st));
        if (c.llStamp < 0) {
            EXPECT_LE(llBefore, (int64_t)st.st_mtime) << c.cszDate;
            EXPECT_GE((int64_t)time(nullptr), (int64_t)st.st_mtime) << c.cszDate;
        } else {
            EXPECT_EQ(c.llStamp, (int64_t)st.st_mtime) << c.cszDate;
            // ... so the next run finds it current.
            EXPECT_EQ(1, Fetch("/a/b/file.bin", strLocal)) << c.cszDate;
        }
    }
}

TEST_F(HttpDownloadTest, RedirectKeepsTheAskedName)
{
    // The server sends /a/b/start.bin to /a/c/moved.bin; an unrelated
    // moved.bin in the folder is neither checked, deleted nor replaced.
    Rv_TestWriteFile(m_strWeb + "/a/c/moved.bin", m_strData);
    Rv_TestHttpFault redirect;
    redirect.strLocation = "/a/c/moved.bin";
    m_Server.SetFault("/a/b/start.bin", redirect);
    Rv_TestWriteFile(m_strOut + "/moved.bin", "unrelated");
    Rv_TestWriteFile(m_strOut + "/start.bin.tmp", m_strData);
    int nRemote = 0;
    int nLocal = 0;
    std::string strFolder = m_strOut + "\\";
    ASSERT_EQ(1, m_Client.QueryFileSize(m_Server.Url("/a/b/start.bin").c_str(), strFolder.c_str(), &nRemote, &nLocal));
    EXPECT_EQ((int)m_strData.size(), nRemote);
    EXPECT_EQ(nRemote, nLocal);
    EXPECT_EQ(m_strData, Rv_TestReadFile(m_strOut + "/start.bin"));
    EXPECT_EQ("unrelated", Rv_TestReadFile(m_strOut + "/moved.bin"));
    // A folder target saves under the asked name too.
    Pf_DeleteFile(m_strOut + "/start.bin");
    ASSERT_EQ(0, m_Client.Download(m_Server.Url("/a/b/start.bin").c_str(), strFolder.c_str()));
    EXPECT_EQ(m_strData, Rv_TestReadFile(m_strOut + "/start.bin"));
    EXPECT_EQ("unrelated", Rv_TestReadFile(m_strOut + "/moved.bin"));
}

TEST_F(HttpDownloadTest, Redirects)
{
    Rv_TestWriteFile(m_strWeb + "/a/c/moved.bin", m_strData);
    struct Case {
        std::string strLocation;
        int nResult;
        std::string strFinalPath;
    } aCases[] = {
        {m_Server.Url("/a/c/moved.bin"), 0, "/a/c/moved.bin"},
        {"/a/c/moved.bin", 0, "/a/c/moved.bin"},
        {"../c/moved.bin", 0, "/a/c/moved.bin"},
        {"moved2.bin", 0, "/a/b/moved2.bin"},
        {"ftp://127.0.0.1/x.bin", 4, ""},
        {"/a/b/loop.bin", 3, ""},
    };
    Rv_TestWriteFile(m_strWeb + "/a/b/moved2.bin", m_strData);
    Rv_TestHttpFault loop;
    loop.strLocation = "/a/b/loop.bin";
    m_Server.SetFault("/a/b/loop.bin", loop);
    for (const Case& c : aCases) {
        Rv_TestHttpFault fault;
        fault.strLocation = c.strLocation;
        m_Server.SetFault("/a/b/start.bin", fault);
        std::string strLocal = m_strOut + "/r.bin";
        Pf_DeleteFile(strLocal);
        CHttpDownload client;
        EXPECT_EQ(c.nResult, client.Download(m_Server.Url("/a/b/start.bin").c_str(), strLocal.c_str()))
            << c.strLocation;
        if (c.nResult == 0) {
            EXPECT_EQ(m_strData, Rv_TestReadFile(strLocal)) << c.strLocation;
            EXPECT_EQ(c.strFinalPath, m_Server.Requests().back().strPath);
            EXPECT_EQ(m_Server.Url(c.strFinalPath), client.m_strURL);
            EXPECT_EQ(m_Server.Url("/a/b/start.bin"), m_Server.Requests().back().Header("Referer"));
        }
    }
    EXPECT_EQ((size_t)RV_HTTP_MAX_REDIRECTS, m_Server.RequestsFor("/a/b/loop.bin").size());
}

TEST_F(HttpDownloadTest, BadAnswersFail)
{
    struct Case {
        int nStatus;
        std::vector<std::string> vecHeaders;
        bool bNoLength;
    } aCases[] = {
        {404, {}, false},
        {500, {}, false},
        {200, {"Content-Length: -5"}, true},
        {200, {"Content-Length: 99999999999"}, true},
        {200, {"Content-Length: 12abc"}, true},
    };
    for (const Case& c : aCases) {
        Rv_TestHttpFault fault;
        fault.nStatus = c.nStatus;
        fault.strBody = "x";
        fault.vecExtraHeaders = c.vecHeaders;
        fault.bNoContentLength = c.bNoLength;
        m_Server.SetFault("/a/b/file.bin", fault);
        EXPECT_EQ(3, Fetch("/a/b/file.bin", m_strOut + "/file.bin")) << c.nStatus;
        EXPECT_FALSE(Pf_FileExists(m_strOut + "/file.bin"));
    }
}

TEST_F(HttpDownloadTest, UrlForms)
{
    std::string strLocal = m_strOut + "/file.bin";
    EXPECT_EQ(3, m_Client.Download(("http://" + m_Server.HostPort()).c_str(), strLocal.c_str()));
    EXPECT_EQ(3, m_Client.Download("", strLocal.c_str()));
    EXPECT_EQ(3, m_Client.Download("ftp://127.0.0.1/a", strLocal.c_str()));
    EXPECT_EQ(0, m_Client.Download((m_Server.HostPort() + "/a/b/file.bin").c_str(), strLocal.c_str()));
    EXPECT_EQ(m_strData, Rv_TestReadFile(strLocal));
}

TEST_F(HttpDownloadTest, FolderTargetTakesTheSanitisedName)
{
    Rv_TestWriteFile(m_strWeb + "/a/b/x:y", "colon");
    ASSERT_EQ(0, m_Client.Download(m_Server.Url("/a/b/file.bin").c_str(), (m_strOut + "\\").c_str()));
    EXPECT_EQ(m_strData, Rv_TestReadFile(m_strOut + "/file.bin"));
    ASSERT_EQ(0, m_Client.Download(m_Server.Url("/a/b/x:y").c_str(), (m_strOut + "\\").c_str()));
    EXPECT_EQ("colon", Rv_TestReadFile(m_strOut + "/Unknown.htm"));
}

TEST_F(HttpDownloadTest, CurrentFileIsNotFetchedAgain)
{
    std::string strLocal = m_strOut + "/file.bin";
    struct stat stWeb;
    ASSERT_EQ(0, stat((m_strWeb + "/a/b/file.bin").c_str(), &stWeb));
    for (int nOffset : {1, -1, 3}) {
        Rv_TestWriteFile(strLocal, Pattern(m_strData.size(), 9));
        struct utimbuf times = {stWeb.st_mtime + nOffset, stWeb.st_mtime + nOffset};
        ASSERT_EQ(0, utime(strLocal.c_str(), &times));
        int nExpected = nOffset == 3 ? 0 : 1;
        EXPECT_EQ(nExpected, Fetch("/a/b/file.bin", strLocal)) << nOffset;
        EXPECT_EQ(nExpected == 0, Rv_TestReadFile(strLocal) == m_strData) << nOffset;
    }
}

TEST_F(HttpDownloadTest, FailedMoveKeepsTheTmp)
{
    std::string strLocal = m_strOut + "/busy";
    Rv_TestWriteFile(strLocal + "/inside", "x");
    EXPECT_EQ(3, Fetch("/a/b/file.bin", strLocal));
    EXPECT_EQ(m_strData, Rv_TestReadFile(strLocal + ".tmp"));
}

TEST_F(HttpDownloadTest, RetryModesCountRetries)
{
    // Nothing listens on a port that a closed server had.
    int nPort = 0;
    {
        Rv_TestHttpServer closed(m_strWeb);
        closed.Start();
        nPort = closed.Port();
    }
    std::string strURL = "http://127.0.0.1:" + std::to_string(nPort) + "/a/b/file.bin";
    m_Client.m_nRetryMode = 1;
    m_Client.m_nMaxRetries = 3;
    m_Client.m_nRetryWait = 1;
    // Retries go on until their count exceeds the maximum.
    EXPECT_EQ(3, m_Client.Download(strURL.c_str(), (m_strOut + "/f").c_str()));
    EXPECT_EQ(4, m_Client.m_nRetryCount);
    m_Client.m_nRetryMode = 0;
    EXPECT_EQ(3, m_Client.Download(strURL.c_str(), (m_strOut + "/f").c_str()));
    EXPECT_EQ(0, m_Client.m_nRetryCount);
}

TEST_F(HttpDownloadTest, StopEndsEveryLaterDownload)
{
    m_Client.RequestStop();
    EXPECT_EQ(2, Fetch("/a/b/file.bin", m_strOut + "/file.bin"));
    m_Client.m_nRetryMode = 2;
    m_Client.m_nRetryWait = 60000;
    EXPECT_EQ(2, m_Client.Download("http://127.0.0.1:1/a", (m_strOut + "/f").c_str()));
}

TEST_F(HttpDownloadTest, QueryFileSize)
{
    int nRemote = -1;
    int nLocal = -1;
    int bKnown = 0;
    std::string strFolder = m_strOut + "\\";
    ASSERT_EQ(1, m_Client.QueryFileSize(m_Server.Url("/a/b/file.bin").c_str(), strFolder.c_str(), &nRemote, &nLocal, &bKnown));
    EXPECT_EQ((int)m_strData.size(), nRemote);
    EXPECT_EQ(0, nLocal);
    EXPECT_EQ(1, bKnown);
    // A .tmp of the whole size is moved into place.
    Rv_TestWriteFile(m_strOut + "/file.bin.tmp", m_strData);
    ASSERT_EQ(1, m_Client.QueryFileSize(m_Server.Url("/a/b/file.bin").c_str(), strFolder.c_str(), &nRemote, &nLocal));
    EXPECT_EQ(nRemote, nLocal);
    EXPECT_TRUE(Pf_FileExists(m_strOut + "/file.bin"));
    // A final file of another size is deleted.
    Rv_TestWriteFile(m_strOut + "/file.bin", "short");
    ASSERT_EQ(1, m_Client.QueryFileSize(m_Server.Url("/a/b/file.bin").c_str(), strFolder.c_str(), &nRemote, &nLocal));
    EXPECT_EQ(0, nLocal);
    EXPECT_FALSE(Pf_FileExists(m_strOut + "/file.bin"));
    // The size query never asks for a range.
    for (const auto& request : m_Server.Requests())
        EXPECT_FALSE(request.HasHeader("Range"));
    EXPECT_EQ(0, m_Client.QueryFileSize(m_Server.Url("/a/b/missing.bin").c_str(), strFolder.c_str(), &nRemote, &nLocal));
    EXPECT_EQ(0, nRemote);
}

TEST(HttpDownloadParse, DatesInTheThreeHttpFormsAreGmt)
{
    Rv_TestTimeZone zone("RVT+05:30");
    // 2026-12-11 00:00:00 UTC places the two-digit years.
    const int64_t llNow = 1796947200;
    struct Case {
        const char* cszValue;
        int64_t llTime;
    } aCases[] = {
        {"sun, 06 nov 1994 08:49:37 gmt", 784111777},
        {"thu, 01 jan 2015 00:00:00 gmt", 1420070400},
        {"tue, 29 feb 2000 23:59:59 gmt", 951868799},
        {"sunday, 06-nov-94 08:49:37 gmt", 784111777},
        {"thursday, 01-jan-15 00:00:00 gmt", 1420070400},
        // More than 50 years ahead is the last century.
        {"monday, 01-jan-77 00:00:00 gmt", 220924800},
        {"sunday, 01-jan-76 00:00:00 gmt", 3345062400},
        {"sun nov  6 08:49:37 1994", 784111777},
        {"thu jan  1 00:00:00 2015", 1420070400},
        {"mon dec 31 23:59:60 1990", 662688000},
    };
    for (const Case& c : aCases) {
        int64_t llTime = 0;
        EXPECT_EQ(1, CHttpDownload::ParseHttpDate(c.cszValue, llNow, &llTime)) << c.cszValue;
        EXPECT_EQ(c.llTime, llTime) << c.cszValue;
    }
}

TEST(HttpDownloadParse, DatesOutsideTheirRangesAreRefused)
{
    const char* aszValues[] = {
        "mon, 99 xyz 99999999999 99:99:99 gmt",
        "sun, 06 nov 94 08:49:37 gmt",
        "sun, 00 nov 1994 08:49:37 gmt",
        "sun, 31 nov 1994 08:49:37 gmt",
        "fri, 29 feb 1900 00:00:00 gmt",
        "sun, 06 nov 1994 24:00:00 gmt",
        "sun, 06 nov 1994 08:60:00 gmt",
        "sun, 06 nov 1994 08:49:61 gmt",
        "sun, 06 nov 1994 8:49:37 gmt",
        "sun, 06 nov 1994 08:49:37 cet",
        "sun, 06 nov 1994 08:49:37",
        "xyz, 06 nov 1994 08:49:37 gmt",
        "sun, 06 nov 0001 08:49:37 gmt",
        "sunday, 06-nov-1994 08:49:37 gmt",
        "sunday, 06-nov-94 08:49:37 pst",
        "sunday, 32-dec-94 08:49:37 gmt",
        "sun nov  6 08:49:37 94",
        "sun nov 36 08:49:37 1994",
        "sun nov  6 08:49:37 1994 gmt",
        "1994-11-06t08:49:37z",
        "",
        "sun,",
    };
    for (const char* cszValue : aszValues) {
        int64_t llTime = 12345;
        EXPECT_EQ(0, CHttpDownload::ParseHttpDate(cszValue, 1796947200, &llTime)) << cszValue;
        EXPECT_EQ(12345, llTime) << cszValue;
    }
}

TEST(HttpDownloadParse, UrlsAndNames)
{
    std::string strHost;
    std::string strObject;
    int nPort = 0;
    ASSERT_EQ(1, CHttpDownload::ParseURL(" HTTP://host:8080/a/b.zip ", &strHost, &strObject, &nPort));
    EXPECT_EQ("host", strHost);
    EXPECT_EQ("/a/b.zip", strObject);
    EXPECT_EQ(8080, nPort);
    EXPECT_EQ(0, CHttpDownload::ParseURL("http://host", &strHost, &strObject, &nPort));
    EXPECT_EQ(0, CHttpDownload::ParseURL("https://host/a", &strHost, &strObject, &nPort));
    EXPECT_EQ(0, CHttpDownload::ParseURL("http://host:99999/a", &strHost, &strObject, &nPort));
    EXPECT_EQ("b.zip", CHttpDownload::GetFileNameFromURL("/a/b.zip"));
    EXPECT_EQ("Unknown.htm", CHttpDownload::GetFileNameFromURL("/a/"));
    EXPECT_EQ("Unknown.htm", CHttpDownload::GetFileNameFromURL("/a/b?c"));
    EXPECT_EQ("Unknown.htm", CHttpDownload::GetFileNameFromURL("/a/.."));
    EXPECT_EQ("", CHttpDownload::Base64Encode(""));
    EXPECT_EQ("dXNlcjpwYXNz", CHttpDownload::Base64Encode("user:pass"));
    EXPECT_EQ("YQ==", CHttpDownload::Base64Encode("a"));
    EXPECT_EQ("YWI=", CHttpDownload::Base64Encode("ab"));
}

}  // namespace
