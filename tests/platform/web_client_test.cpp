// The web-client library against the scripted loopback server: headers sent,
// status and length queries, reads that fill the buffer, decoded chunks,
// bodies cut short, redirects, proxies from the environment, POST, time-outs,
// abort, and the URL download into a file.
#include "platform/web_client.h"
#include "tests/support/http_server.h"
#include "tests/support/temp_dir.h"

#include <atomic>
#include <cstdlib>
#include <gtest/gtest.h>
#include <thread>

namespace {

std::string Pattern(size_t uSize)
{
    std::string str(uSize, '\0');
    for (size_t i = 0; i < uSize; ++i)
        str[i] = (char)('a' + (i * 7 + i / 251) % 26);
    return str;
}

class WebClient : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_strData = Pattern(10000);
        Rv_TestWriteFile(m_Dir.File("www/f.bin"), m_strData);
        m_Server.Start();
        ASSERT_TRUE(m_Session.Open("Agent/1.0", PF_WEB_ACCESS_DIRECT));
    }
    // Reads the body in pieces of uPiece; false when a read fails.
    bool ReadAll(Pf_WebRequest& request, uint32_t uPiece, std::string* pstrBody, std::vector<uint32_t>* pvecSizes)
    {
        std::vector<char> vecBuffer(uPiece);
        while (true) {
            uint32_t uRead = 0;
            if (!request.Read(vecBuffer.data(), uPiece, &uRead))
                return false;
            if (pvecSizes)
                pvecSizes->push_back(uRead);
            if (uRead == 0)
                return true;
            pstrBody->append(vecBuffer.data(), uRead);
        }
    }

    Rv_TestTempDir m_Dir;
    Rv_TestHttpServer m_Server{m_Dir.File("www")};
    Pf_WebSession m_Session;
    std::string m_strData;
};

}  // namespace

TEST_F(WebClient, GetSendsHeadersAndReadsFillTheBuffer)
{
    Pf_WebRequest request;
    uint32_t uStatus = 0;
    uint32_t uLength = 0;
    std::string strBody;
    std::vector<uint32_t> vecSizes;
    ASSERT_TRUE(request.OpenUrl(m_Session, m_Server.Url("/f.bin"), "Accept: */*\r\nX-Extra: 1\r\n\r\n"));
    ASSERT_TRUE(request.QueryStatusCode(&uStatus));
    EXPECT_EQ(200u, uStatus);
    ASSERT_TRUE(request.QueryContentLength(&uLength));
    EXPECT_EQ(10000u, uLength);
    ASSERT_TRUE(ReadAll(request, 4096, &strBody, &vecSizes));
    EXPECT_EQ(m_strData, strBody);
    EXPECT_EQ((std::vector<uint32_t>{4096, 4096, 1808, 0}), vecSizes);
    std::vector<Rv_TestHttpRequest> vecLog = m_Server.Requests();
    ASSERT_EQ(1u, vecLog.size());
    EXPECT_EQ("GET /f.bin HTTP/1.1", vecLog[0].strRequestLine);
    EXPECT_EQ("*/*", vecLog[0].Header("Accept"));
    EXPECT_EQ("1", vecLog[0].Header("X-Extra"));
    EXPECT_EQ("Agent/1.0", vecLog[0].Header("User-Agent"));
    EXPECT_EQ("no-cache", vecLog[0].Header("Pragma"));
}

TEST_F(WebClient, BodiesWithoutLengthAndCutShort)
{
    struct Case {
        const char* cszName;
        Rv_TestHttpFault fault;
        bool bLengthKnown;
        bool bComplete;
    } aCases[] = {
        {"chunked", [] { Rv_TestHttpFault f; f.bChunked = true; f.uChunkSize = 333; return f; }(), false, true},
        {"close-delimited", [] { Rv_TestHttpFault f; f.bNoContentLength = true; return f; }(), false, true},
        {"dropped", [] { Rv_TestHttpFault f; f.llDropAfter = 5000; return f; }(), true, false},
        {"dropped chunked", [] { Rv_TestHttpFault f; f.llDropAfter = 5000; f.bChunked = true; return f; }(), false, false},
        {"no body byte", [] { Rv_TestHttpFault f; f.llDropAfter = 0; return f; }(), true, false},
    };
    for (const Case& c : aCases) {
        m_Server.SetFault("/f.bin", c.fault);
        Pf_WebRequest request;
        uint32_t uLength = 0;
        std::string strBody;
        ASSERT_TRUE(request.OpenUrl(m_Session, m_Server.Url("/f.bin"), "")) << c.cszName;
        EXPECT_EQ(c.bLengthKnown, request.QueryContentLength(&uLength) == 1) << c.cszName;
        EXPECT_EQ(c.bComplete, ReadAll(request, 4096, &strBody, nullptr)) << c.cszName;
        if (c.bComplete) {
            EXPECT_EQ(m_strData, strBody) << c.cszName;
        }
    }
}

TEST_F(WebClient, StatusAndRedirects)
{
    Rv_TestHttpFault redirect;
    redirect.strLocation = "/f.bin";
    m_Server.SetFault("/old", redirect);
    Rv_TestHttpFault loop;
    loop.strLocation = "/loop";
    m_Server.SetFault("/loop", loop);
    Rv_TestHttpFault ftp;
    ftp.strLocation = "ftp://127.0.0.1/f.bin";
    m_Server.SetFault("/ftp", ftp);
    uint32_t uStatus = 0;

    Pf_WebRequest request;
    ASSERT_TRUE(request.OpenUrl(m_Session, m_Server.Url("/missing"), ""));
    ASSERT_TRUE(request.QueryStatusCode(&uStatus));
    EXPECT_EQ(404u, uStatus);

    ASSERT_TRUE(request.OpenUrl(m_Session, m_Server.Url("/old"), ""));
    ASSERT_TRUE(request.QueryStatusCode(&uStatus));
    EXPECT_EQ(200u, uStatus);
    std::string strBody;
    ASSERT_TRUE(ReadAll(request, 65536, &strBody, nullptr));
    EXPECT_EQ(m_strData, strBody);

    EXPECT_FALSE(request.OpenUrl(m_Session, m_Server.Url("/loop"), ""));
    EXPECT_LE(m_Server.RequestsFor("/loop").size(), 21u);
    EXPECT_FALSE(request.OpenUrl(m_Session, m_Server.Url("/ftp"), ""));
    EXPECT_FALSE(request.OpenUrl(m_Session, "http://127.0.0.1:1/none", ""));
    EXPECT_EQ(PF_WEB_ERROR_CANNOT_CONNECT, Pf_WebGetLastError());
}

TEST_F(WebClient, PreconfiguredUsesTheEnvironmentsProxy)
{
    Rv_TestTempDir proxyDir;
    Rv_TestWriteFile(proxyDir.File("www/f.bin"), "from the proxy");
    Rv_TestHttpServer proxy(proxyDir.File("www"));
    proxy.Start();
    setenv("http_proxy", proxy.Url("").c_str(), 1);
    unsetenv("no_proxy");
    unsetenv("NO_PROXY");
    for (int nAccess : {PF_WEB_ACCESS_PRECONFIG, PF_WEB_ACCESS_DIRECT}) {
        Pf_WebSession session;
        Pf_WebRequest request;
        std::string strBody;
        ASSERT_TRUE(session.Open("A", nAccess));
        ASSERT_TRUE(request.OpenUrl(session, m_Server.Url("/f.bin"), ""));
        ASSERT_TRUE(ReadAll(request, 65536, &strBody, nullptr));
        EXPECT_EQ(nAccess == PF_WEB_ACCESS_DIRECT ? m_strData : "from the proxy", strBody);
    }
    unsetenv("http_proxy");
    ASSERT_EQ(1u, proxy.Requests().size());
    EXPECT_EQ("GET " + m_Server.Url("/f.bin") + " HTTP/1.1", proxy.Requests()[0].strRequestLine);
}

TEST_F(WebClient, PostSendsBodyAndHeadersAsGiven)
{
    Rv_TestHttpFault answer;
    answer.nStatus = 200;
    answer.strBody = "ok";
    m_Server.SetFault("/post", answer);
    Pf_WebRequest request;
    uint32_t uStatus = 0;
    std::string strBody(3000, 'v');
    ASSERT_TRUE(request.SendRequest(m_Session, "POST", m_Server.Url("/post"), "HTTP/1.0",
                                    "Content-Type: text/x\r\nContent-Length: 3000\r\n", strBody));
    ASSERT_TRUE(request.QueryStatusCode(&uStatus));
    EXPECT_EQ(200u, uStatus);
    std::vector<Rv_TestHttpRequest> vecLog = m_Server.Requests();
    ASSERT_EQ(1u, vecLog.size());
    EXPECT_EQ("POST /post HTTP/1.0", vecLog[0].strRequestLine);
    EXPECT_EQ("text/x", vecLog[0].Header("Content-Type"));
    EXPECT_EQ("3000", vecLog[0].Header("Content-Length"));
    EXPECT_FALSE(vecLog[0].HasHeader("Expect"));
    EXPECT_EQ(strBody, vecLog[0].strBody);
}

// A request that sends a body is not sent on to a redirect's Location: the
// redirect is its answer, while a GET of the same address follows it.
TEST_F(WebClient, PostTakesARedirectAsItsAnswer)
{
    Rv_TestHttpFault redirect;
    redirect.strLocation = m_Server.Url("/f.bin");
    m_Server.SetFault("/post", redirect);
    Pf_WebRequest request;
    uint32_t uStatus = 0;
    ASSERT_TRUE(request.SendRequest(m_Session, "POST", m_Server.Url("/post"), "HTTP/1.0",
                                    "Content-Length: 4\r\n", "body"));
    ASSERT_TRUE(request.QueryStatusCode(&uStatus));
    EXPECT_EQ(302u, uStatus);
    EXPECT_EQ(1u, m_Server.Requests().size());
    EXPECT_TRUE(m_Server.RequestsFor("/f.bin").empty());

    ASSERT_TRUE(request.OpenUrl(m_Session, m_Server.Url("/post"), ""));
    ASSERT_TRUE(request.QueryStatusCode(&uStatus));
    EXPECT_EQ(200u, uStatus);
    EXPECT_EQ(1u, m_Server.RequestsFor("/f.bin").size());
}

TEST_F(WebClient, ReceiveTimeoutEndsASilentServer)
{
    Rv_TestHttpFault slow;
    slow.uDelayMs = 10000;
    m_Server.SetFault("/f.bin", slow);
    m_Session.SetReceiveTimeout(1000);
    Pf_WebRequest request;
    EXPECT_FALSE(request.OpenUrl(m_Session, m_Server.Url("/f.bin"), ""));
    EXPECT_EQ(PF_WEB_ERROR_TIMEOUT, Pf_WebGetLastError());
}

TEST_F(WebClient, AbortFailsTheNextRead)
{
    Rv_TestWriteFile(m_Dir.File("www/big.bin"), Pattern(8 << 20));
    Pf_WebRequest request;
    char achBuffer[1024];
    uint32_t uRead = 0;
    ASSERT_TRUE(request.OpenUrl(m_Session, m_Server.Url("/big.bin"), ""));
    ASSERT_TRUE(request.Read(achBuffer, sizeof(achBuffer), &uRead));
    std::thread aborter([&] { request.Abort(); });
    aborter.join();
    EXPECT_FALSE(request.Read(achBuffer, sizeof(achBuffer), &uRead));
    EXPECT_EQ(PF_WEB_ERROR_OPERATION_CANCELLED, Pf_WebGetLastError());
}

// A stop ends a transfer at once: it does not wait for the transfer's next
// pass, where the abort check is asked (about once a second on an idle line).
// The check here stops the stop the first time it is asked once the body is
// held, and counts how often it is asked after that.
struct Rv_TestStoppingCheck {
    Pf_WebStop stop;
    std::atomic<bool> bArmed{false};
    std::atomic<int> nAskedAfterStop{0};
    static int Ask(void* pvThis)
    {
        Rv_TestStoppingCheck* pThis = (Rv_TestStoppingCheck*)pvThis;
        if (pThis->stop.IsStopped()) {
            ++pThis->nAskedAfterStop;
            return 1;
        }
        if (pThis->bArmed)
            pThis->stop.Stop();
        return 0;
    }
};

TEST_F(WebClient, StopEndsAHeldTransferWithoutWaitingForItsNextPass)
{
    Rv_TestStoppingCheck check;
    Rv_TestHttpFault hold;
    hold.llHoldAfter = 1000;
    m_Server.SetFault("/f.bin", hold);
    m_Session.SetAbortCheck(&Rv_TestStoppingCheck::Ask, &check);
    m_Session.SetStop(&check.stop);
    char achBuffer[1000];
    uint32_t uRead = 0;
    {
        Pf_WebRequest request;
        ASSERT_TRUE(request.OpenUrl(m_Session, m_Server.Url("/f.bin"), ""));
        ASSERT_TRUE(request.Read(achBuffer, sizeof(achBuffer), &uRead));
        check.bArmed = true;
        EXPECT_FALSE(request.Read(achBuffer, sizeof(achBuffer), &uRead));
        EXPECT_EQ(PF_WEB_ERROR_OPERATION_CANCELLED, Pf_WebGetLastError());
    }   // the transfer's worker has ended here
    EXPECT_TRUE(check.stop.IsStopped());
    EXPECT_EQ(0, check.nAskedAfterStop.load());

    // Requests opened while it is stopped end at once; after a reset they run.
    Pf_WebRequest request;
    EXPECT_FALSE(request.OpenUrl(m_Session, m_Server.Url("/f.bin"), ""));
    EXPECT_EQ(PF_WEB_ERROR_OPERATION_CANCELLED, Pf_WebGetLastError());
    check.stop.Reset();
    check.bArmed = false;
    m_Server.ReleaseHeld();
    ASSERT_TRUE(request.OpenUrl(m_Session, m_Server.Url("/f.bin"), ""));
    std::string strBody;
    ASSERT_TRUE(ReadAll(request, 4096, &strBody, nullptr));
    EXPECT_EQ(m_strData, strBody);
}

TEST_F(WebClient, StopEndsAHeldUrlDownloadWithoutWaitingForItsNextPass)
{
    Rv_TestStoppingCheck check;
    Rv_TestHttpFault hold;
    hold.llHoldAfter = 1000;
    m_Server.SetFault("/f.bin", hold);
    std::string strFile = m_Dir.File("out.bin");
    check.bArmed = true;
    EXPECT_EQ(PF_URLDL_E_ABORT,
              Pf_UrlDownloadToFile(m_Server.Url("/f.bin"), strFile, &Rv_TestStoppingCheck::Ask, &check, &check.stop));
    EXPECT_TRUE(check.stop.IsStopped());
    EXPECT_EQ(0, check.nAskedAfterStop.load());
    EXPECT_EQ(PF_URLDL_E_ABORT, Pf_UrlDownloadToFile(m_Server.Url("/f.bin"), strFile, nullptr, nullptr, &check.stop));
    check.stop.Reset();
    m_Server.ReleaseHeld();
    EXPECT_EQ(PF_URLDL_S_OK, Pf_UrlDownloadToFile(m_Server.Url("/f.bin"), strFile, nullptr, nullptr, &check.stop));
    EXPECT_EQ(m_strData, Rv_TestReadFile(strFile));
}

// A body that passes the bound is stopped, whether its length is announced or not.
TEST_F(WebClient, UrlDownloadStopsABodyPastItsBound)
{
    std::string strFile = m_Dir.File("out.bin");
    for (bool bAnnounced : {true, false}) {
        Rv_TestHttpFault fault;
        fault.bNoContentLength = !bAnnounced;
        m_Server.SetFault("/f.bin", fault);
        EXPECT_EQ(PF_URLDL_E_DOWNLOAD_FAILURE,
                  Pf_UrlDownloadToFile(m_Server.Url("/f.bin"), strFile, nullptr, nullptr, nullptr, 9999))
            << bAnnounced;
        EXPECT_GT(10000u, Rv_TestReadFile(strFile).size()) << bAnnounced;
        EXPECT_EQ(PF_URLDL_S_OK, Pf_UrlDownloadToFile(m_Server.Url("/f.bin"), strFile, nullptr, nullptr, nullptr, 10000))
            << bAnnounced;
        EXPECT_EQ(m_strData, Rv_TestReadFile(strFile)) << bAnnounced;
    }
}

TEST_F(WebClient, UrlDownloadToFile)
{
    std::string strFile = m_Dir.File("out.bin");
    EXPECT_EQ(PF_URLDL_S_OK, Pf_UrlDownloadToFile(m_Server.Url("/f.bin"), strFile));
    EXPECT_EQ(m_strData, Rv_TestReadFile(strFile));
    EXPECT_EQ(PF_URLDL_E_RESOURCE_NOT_FOUND, Pf_UrlDownloadToFile(m_Server.Url("/missing"), strFile));
    Rv_TestHttpFault drop;
    drop.llDropAfter = 100;
    m_Server.SetFault("/f.bin", drop);
    EXPECT_EQ(PF_URLDL_E_DOWNLOAD_FAILURE, Pf_UrlDownloadToFile(m_Server.Url("/f.bin"), strFile));
    m_Server.ClearFaults();
    EXPECT_EQ(PF_URLDL_E_ABORT,
              Pf_UrlDownloadToFile(m_Server.Url("/f.bin"), strFile, [](void*) { return 1; }, nullptr));
}
