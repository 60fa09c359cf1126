// Form POST to the reporting service: the request's exact bytes (fixed
// boundary, unescaped fields, no closing delimiter), answers other than 200,
// a service that cannot be reached, argument checks, and the service address
// taken from the simulated machine.
#include "tests/foundation/log_capture.h"
#include "tests/support/http_server.h"
#include "tests/support/temp_dir.h"
#include "transfer/http_sync_post.h"
#include "transfer/report_service.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

const char s_szPath[] = "/gamereport/Qv7/client_info.do";

class HttpSyncPost : public ::testing::Test {
protected:
    void SetUp() override
    {
        unsetenv("http_proxy");
        unsetenv("HTTP_PROXY");
        setenv("RV_SIM_ROOT", m_Dir.File("sim").c_str(), 1);
        m_Server.Start();
        SetService(m_Server.HostPort());
        Rv_TestHttpFault ok;
        ok.nStatus = 200;
        ok.strBody = "ok";
        m_Server.SetFault(s_szPath, ok);
    }
    void TearDown() override { unsetenv("RV_SIM_ROOT"); }

    void SetService(const std::string& strValue) { Rv_TestWriteFile(m_Dir.File("sim/report_service"), strValue); }

    // The request head the service gets for a body of uLength bytes.
    static std::string ExpectedHead(const std::string& strHostPort, size_t uLength)
    {
        return std::string("POST ") + s_szPath + " HTTP/1.0\r\n"
               "Host: " + strHostPort + "\r\n"
               "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1)\r\n"
               "Accept: */*\r\n"
               "Content-Type: multipart/form-data; boundary=--MULTI-PARTS-FORM-DATA-BOUNDARY\r\n"
               "Content-Length: " + std::to_string(uLength) + "\r\n"
               "\r\n";
    }

    static std::string Part(const std::string& strName, const std::string& strValue)
    {
        return "----MULTI-PARTS-FORM-DATA-BOUNDARY\r\nContent-Disposition: form-data; name=\"" + strName +
               "\"\r\n\r\n" + strValue + "\r\n";
    }

    Rv_TestTempDir m_Dir;
    Rv_TestHttpServer m_Server{m_Dir.File("www")};
};

}  // namespace

TEST_F(HttpSyncPost, SendsTheFieldsByteForByte)
{
    struct Case {
        const char* cszName;
        std::vector<std::pair<std::string, std::string>> vecFields;
    } aCases[] = {
        {"two fields, the last empty", {{"a", "1"}, {"b", ""}}},
        {"no fields", {}},
        {"repeated names kept in order", {{"uuid", "x"}, {"game_name", "q7"}, {"uuid", "y"}}},
        {"nothing escaped", {{"na\"me", "line one\r\nline two & \"quoted\" %s %n"}, {"k", "----MULTI-PARTS"}}},
        {"values of several kilobytes", {{"log_content", std::string(70000, 'L')}, {"c", std::string(3000, 'c')}}},
    };
    for (const Case& c : aCases) {
        Rv_TestHttpServer server(m_Dir.File("www"));
        server.Start();
        Rv_TestHttpFault ok;
        ok.nStatus = 200;
        server.SetFault(s_szPath, ok);
        SetService(server.HostPort());

        Rv_HttpSyncPost post;
        ASSERT_TRUE(post.Init(s_szPath)) << c.cszName;
        std::string strBody;
        for (const auto& field : c.vecFields) {
            ASSERT_TRUE(post.AddParam(field.first.c_str(), field.second.c_str())) << c.cszName;
            strBody += Part(field.first, field.second);
        }
        EXPECT_TRUE(post.Post()) << c.cszName;

        std::vector<Rv_TestHttpRequest> vecLog = server.Requests();
        ASSERT_EQ(1u, vecLog.size()) << c.cszName;
        EXPECT_EQ(ExpectedHead(server.HostPort(), strBody.size()), vecLog[0].strHead) << c.cszName;
        EXPECT_EQ(strBody, vecLog[0].strBody) << c.cszName;
    }
}

TEST_F(HttpSyncPost, SmallestBodySpelledOut)
{
    Rv_HttpSyncPost post;
    ASSERT_TRUE(post.Init(s_szPath));
    ASSERT_TRUE(post.AddParam("a", "1"));
    ASSERT_TRUE(post.AddParam("b", ""));
    ASSERT_TRUE(post.Post());
    std::vector<Rv_TestHttpRequest> vecLog = m_Server.Requests();
    ASSERT_EQ(1u, vecLog.size());
    const std::string strBody =
        "----MULTI-PARTS-FORM-DATA-BOUNDARY\r\n"
        "Content-Disposition: form-data; name=\"a\"\r\n"
        "\r\n"
        "1\r\n"
        "----MULTI-PARTS-FORM-DATA-BOUNDARY\r\n"
        "Content-Disposition: form-data; name=\"b\"\r\n"
        "\r\n"
        "\r\n";
    EXPECT_EQ(ExpectedHead(m_Server.HostPort(), strBody.size()), vecLog[0].strHead);
    EXPECT_EQ(strBody, vecLog[0].strBody);
}

TEST_F(HttpSyncPost, PostingAgainSendsTheSameFields)
{
    Rv_HttpSyncPost post;
    ASSERT_TRUE(post.Init(s_szPath));
    ASSERT_TRUE(post.AddParam("a", "1"));
    ASSERT_TRUE(post.Post());
    ASSERT_TRUE(post.AddParam("b", "2"));
    ASSERT_TRUE(post.Post());
    std::vector<Rv_TestHttpRequest> vecLog = m_Server.Requests();
    ASSERT_EQ(2u, vecLog.size());
    EXPECT_EQ(Part("a", "1"), vecLog[0].strBody);
    EXPECT_EQ(Part("a", "1") + Part("b", "2"), vecLog[1].strBody);
}

// A redirect with a Location is an answer too: the post is not sent again
// to the new address (where it would go as a GET without its body).
TEST_F(HttpSyncPost, AnswersOtherThan200Fail)
{
    Rv_TestLogCapture log(m_Dir);
    Rv_TestHttpFault ok;
    ok.nStatus = 200;
    m_Server.SetFault("/elsewhere", ok);
    struct Case {
        int nStatus;
        bool bLocation;
    } aCases[] = {{302, false}, {500, false}, {404, false}, {201, false},
                  {301, true},  {302, true},  {303, true},  {307, true},  {308, true}};
    for (const Case& c : aCases) {
        int nStatus = c.nStatus;
        Rv_TestHttpFault fault;
        fault.nStatus = nStatus;
        if (c.bLocation)
            fault.strLocation = m_Server.Url("/elsewhere");
        m_Server.SetFault(s_szPath, fault);
        Rv_HttpSyncPost post;
        ASSERT_TRUE(post.Init(s_szPath));
        ASSERT_TRUE(post.AddParam("a", "1"));
        EXPECT_FALSE(post.Post()) << nStatus;
        EXPECT_NE(std::string::npos, log.Text().find("Http Query Info Failed, StatusCode:" + std::to_string(nStatus)))
            << nStatus;
    }
    std::string strText = log.Text();
    EXPECT_NE(std::string::npos, strText.find("RVLOG_PROCESS_ERROR(false)")) << strText;
    EXPECT_NE(std::string::npos, strText.find("Rv_HttpSyncPost::Post")) << strText;
    EXPECT_NE(std::string::npos, strText.find(std::string("Failed to post info to 127.0.0.1") + s_szPath +
                                              ", GetLastError()="))
        << strText;
    EXPECT_EQ(9u, m_Server.Requests().size());      // no retries, no redirect followed
}

TEST_F(HttpSyncPost, UnreachableServiceFails)
{
    Rv_TestLogCapture log(m_Dir);
    {
        Rv_TestHttpServer closed(m_Dir.File("www"));
        closed.Start();
        SetService(closed.HostPort());
    }
    Rv_HttpSyncPost refused;
    ASSERT_TRUE(refused.Init(s_szPath));
    EXPECT_FALSE(refused.Post());
    EXPECT_NE(std::string::npos, log.Text().find(", GetLastError()=12029.")) << log.Text();
}

TEST_F(HttpSyncPost, BadArgumentsAreRefused)
{
    Rv_TestLogCapture log(m_Dir);
    Rv_HttpSyncPost post;
    EXPECT_FALSE(post.Post());      // before Init: nothing to send to
    EXPECT_FALSE(post.Init(nullptr));
    EXPECT_FALSE(post.Init(""));
    ASSERT_TRUE(post.Init("/x.do"));
    EXPECT_FALSE(post.AddParam(nullptr, "v"));
    EXPECT_FALSE(post.AddParam("", "v"));
    EXPECT_FALSE(post.AddParam("n", nullptr));
    EXPECT_TRUE(post.AddParam("n", ""));

    Rv_HttpSyncPost noSlash;
    ASSERT_TRUE(noSlash.Init("x.do"));
    EXPECT_FALSE(noSlash.Post());
    EXPECT_EQ(0u, m_Server.Requests().size());

    std::string strText = log.Text();
    for (const char* cszLine :
         {"RVLOG_PROCESS_ERROR(cszObject) at line", "RVLOG_PROCESS_ERROR(cszObject[0]) at line",
          "RVLOG_PROCESS_ERROR(cszName) at line", "RVLOG_PROCESS_ERROR(cszName[0]) at line",
          "RVLOG_PROCESS_ERROR(cszValue) at line", "RVLOG_PROCESS_ERROR(hConnection) at line",
          "in Rv_HttpSyncPost::Init", "in Rv_HttpSyncPost::AddParam"}) {
        EXPECT_NE(std::string::npos, strText.find(cszLine)) << cszLine << "\n" << strText;
    }
}

TEST_F(HttpSyncPost, ServiceAddress)
{
    struct Case {
        const char* cszFact;        // nullptr: no fact
        int nResult;
        const char* cszHost;
        int nPort;
    } aCases[] = {
        {nullptr, 1, "report.refitter.net", 80},
        {"127.0.0.1:8080", 1, "127.0.0.1", 8080},
        {"reports.example.test", 1, "reports.example.test", 80},
        {"host:0", 0, "", 0},
        {"host:65536", 0, "", 0},
        {"host:", 0, "", 0},
        {"host:80x", 0, "", 0},
        {":80", 0, "", 0},
        {"a/b:80", 0, "", 0},
        {"a b", 0, "", 0},
    };
    for (const Case& c : aCases) {
        if (c.cszFact)
            SetService(c.cszFact);
        else
            unlink(m_Dir.File("sim/report_service").c_str());
        std::string strHost;
        int nPort = 0;
        EXPECT_EQ(c.nResult, Rv_GetReportService(&strHost, &nPort)) << c.cszFact;
        Rv_HttpSyncPost post;
        EXPECT_EQ(c.nResult, post.Init(s_szPath)) << c.cszFact;
        if (c.nResult) {
            EXPECT_EQ(c.cszHost, strHost) << c.cszFact;
            EXPECT_EQ(c.nPort, nPort) << c.cszFact;
        }
    }
}

// Outside a simulated machine the environment names the service, and it
// wins over a simulated machine's fact.
TEST_F(HttpSyncPost, ServiceAddressFromTheEnvironment)
{
    SetService("sim.example.test:81");
    setenv("RV_REPORT_SERVICE", "127.0.0.1:8181", 1);
    std::string strHost;
    int nPort = 0;
    EXPECT_EQ(1, Rv_GetReportService(&strHost, &nPort));
    EXPECT_EQ("127.0.0.1", strHost);
    EXPECT_EQ(8181, nPort);
    setenv("RV_REPORT_SERVICE", "a b", 1);
    EXPECT_EQ(0, Rv_GetReportService(&strHost, &nPort));
    unsetenv("RV_REPORT_SERVICE");
    EXPECT_EQ(1, Rv_GetReportService(&strHost, &nPort));
    EXPECT_EQ("sim.example.test", strHost);
    EXPECT_EQ(81, nPort);
}
