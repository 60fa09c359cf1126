// The signed report client against a loopback service: the exact body and
// signature (recomputed with openssl), name order, values sent unescaped,
// answers other than 200, replies bounded by their length, argument checks.
#include "telemetry/http_upload.h"
#include "tests/foundation/log_capture.h"
#include "tests/support/http_server.h"
#include "tests/support/temp_dir.h"
#include "tests/support/web_client_env.h"

#include <gtest/gtest.h>

#include <regex>

namespace {

const char s_szPath[] = "/report/Qv7_dev/device";
const char s_szKey[] = "8d3c0f5e2b7a49d1a6e0c4b9f2d71e38";

class HttpUpload : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_Server.Start();
        Rv_TestWriteFile(m_Dir.File("sim/report_service"), m_Server.HostPort());
        Answer(200, "ok");
    }

    void Answer(int nStatus, const std::string& strBody)
    {
        Rv_TestHttpFault fault;
        fault.nStatus = nStatus;
        fault.strBody = strBody;
        m_Server.SetFault(s_szPath, fault);
    }

    // The signature the service computes for the text under the key.
    std::string OpensslSignature(const std::string& strText, const std::string& strKey)
    {
        std::string strFile = m_Dir.File("signed_text");
        Rv_TestWriteFile(strFile, strText);
        int nStatus = -1;
        std::string strOut = Rv_TestRun("openssl dgst -sha1 -mac HMAC -macopt 'key:" + strKey + "' -binary '" +
                                            strFile + "' | openssl base64 -A",
                                        &nStatus);
        EXPECT_EQ(0, nStatus) << strOut;
        return strOut;
    }

    static std::string Part(const std::string& strBoundary, const std::string& strName, const std::string& strValue)
    {
        return "--" + strBoundary + "\r\nContent-Disposition: form-data; name=\"" + strName + "\"\r\n\r\n" +
               strValue + "\r\n";
    }

    // The boundary named by the request's Content-Type; checks its form.
    static std::string Boundary(const Rv_TestHttpRequest& request)
    {
        std::smatch match;
        std::string strType = request.Header("Content-Type");
        EXPECT_TRUE(std::regex_match(strType, match,
                                     std::regex("multipart/form-data; boundary=(-{27}0000[0-7][0-9A-F]{3}"
                                                "0000[0-7][0-9A-F]{3})")))
            << strType;
        return match.size() > 1 ? match[1].str() : "";
    }

    Rv_TestTempDir m_Dir;
    Rv_TestWebClientEnv m_Env{m_Dir};
    Rv_TestHttpServer m_Server{m_Dir.File("www")};
};

} // namespace

TEST_F(HttpUpload, SignsAndSendsTheFieldsInNameOrder)
{
    typedef std::vector<std::pair<std::string, std::string>> Fields;
    struct Case {
        const char* cszName;
        Fields vecAdded;            // in AddParam order
        const char* cszSignedText;
        Fields vecSent;             // in body order, "sig" given its place with an empty value
    } aCases[] = {
        {"name order", {{"uuid", "0123abc"}, {"successful", "1"}, {"errorcode", "0"}},
         "_url=/report/Qv7_dev/device&errorcode=0&successful=1&uuid=0123abc",
         {{"errorcode", "0"}, {"sig", ""}, {"successful", "1"}, {"uuid", "0123abc"}}},
        {"'&' and '=' unchanged", {{"q", "a=b&c=d"}, {"a&b", "x y%20\"z\""}},
         "_url=/report/Qv7_dev/device&a&b=x y%20\"z\"&q=a=b&c=d",
         {{"a&b", "x y%20\"z\""}, {"q", "a=b&c=d"}, {"sig", ""}}},
        {"a second value replaces the first", {{"k", "1"}, {"k", "2"}, {"Z", ""}},
         "_url=/report/Qv7_dev/device&Z=&k=2",
         {{"Z", ""}, {"k", "2"}, {"sig", ""}}},
        // Signed in UTF-16 order, sent in UTF-8 order.
        {"UTF-16 and UTF-8 orders", {{"\xef\xbc\xa1", "fullwidth"}, {"\xf0\x9f\x98\x80", "smile"}},
         "_url=/report/Qv7_dev/device&\xf0\x9f\x98\x80=smile&\xef\xbc\xa1=fullwidth",
         {{"sig", ""}, {"\xef\xbc\xa1", "fullwidth"}, {"\xf0\x9f\x98\x80", "smile"}}},
    };
    for (const Case& c : aCases) {
        SCOPED_TRACE(c.cszName);
        Rv_HttpUpload upload;
        ASSERT_TRUE(upload.Init(s_szPath, s_szKey));
        for (const auto& field : c.vecAdded)
            ASSERT_TRUE(upload.AddParam(field.first.c_str(), field.second.c_str()));
        size_t uBefore = m_Server.Requests().size();
        EXPECT_TRUE(upload.Post());
        EXPECT_EQ("ok", upload.GetReply());
        EXPECT_TRUE(upload.UnInit());

        std::vector<Rv_TestHttpRequest> vecLog = m_Server.Requests();
        ASSERT_EQ(uBefore + 1, vecLog.size());
        const Rv_TestHttpRequest& request = vecLog.back();
        EXPECT_EQ("POST", request.strMethod);
        EXPECT_EQ(s_szPath, request.strTarget);
        EXPECT_FALSE(request.HasHeader("User-Agent"));
        std::string strBoundary = Boundary(request);
        std::string strSignature = OpensslSignature(c.cszSignedText, s_szKey);
        EXPECT_EQ(28u, strSignature.size());
        std::string strBody;
        for (const auto& field : c.vecSent)
            strBody += Part(strBoundary, field.first, field.first == "sig" ? strSignature : field.second);
        strBody += "\r\n--" + strBoundary + "--\r\n";
        EXPECT_EQ(strBody, request.strBody);
    }
}

TEST_F(HttpUpload, BodyEndsWithTheLastValueAnEmptyLineAndTheClosingBoundary)
{
    Rv_HttpUpload upload;
    ASSERT_TRUE(upload.Init(s_szPath, s_szKey));
    ASSERT_TRUE(upload.AddParam("zz", "last value"));
    ASSERT_TRUE(upload.Post());
    std::vector<Rv_TestHttpRequest> vecLog = m_Server.Requests();
    ASSERT_EQ(1u, vecLog.size());
    std::string strBoundary = Boundary(vecLog[0]);
    std::string strTail = "\r\n\r\nlast value\r\n\r\n--" + strBoundary + "--\r\n";
    const std::string& strBody = vecLog[0].strBody;
    ASSERT_GE(strBody.size(), strTail.size());
    EXPECT_EQ(strTail, strBody.substr(strBody.size() - strTail.size()));
    EXPECT_EQ(std::to_string(strBody.size()), vecLog[0].Header("Content-Length"));

    std::string strEmpty;
    EXPECT_FALSE(Rv_MakeUploadBody("", {{"a", "1"}}, &strEmpty));
    ASSERT_TRUE(Rv_MakeUploadBody("B", {}, &strEmpty));
    EXPECT_EQ("\r\n--B--\r\n", strEmpty);
}

TEST_F(HttpUpload, AnswersOtherThan200FailWithoutRetries)
{
    for (int nStatus : {302, 500, 404, 201}) {
        Answer(nStatus, "no");
        Rv_HttpUpload upload;
        ASSERT_TRUE(upload.Init(s_szPath, s_szKey));
        ASSERT_TRUE(upload.AddParam("uuid", "x"));
        EXPECT_FALSE(upload.Post()) << nStatus;
        EXPECT_EQ("", upload.GetReply()) << nStatus;
    }
    EXPECT_EQ(4u, m_Server.Requests().size());

    Rv_TestHttpServer closed(m_Dir.File("www"));
    closed.Start();
    Rv_TestWriteFile(m_Dir.File("sim/report_service"), closed.HostPort());
    closed.Stop();
    Rv_HttpUpload upload;
    ASSERT_TRUE(upload.Init(s_szPath, s_szKey));
    ASSERT_TRUE(upload.AddParam("uuid", "x"));
    EXPECT_FALSE(upload.Post());
}

TEST_F(HttpUpload, ReplyIsKeptOnlyWhenReadWholeAndTheAnswerStillCounts)
{
    struct Case {
        const char* cszName;
        Rv_TestHttpFault fault;
        const char* cszReply;
    } aCases[] = {
        {"with a length", {}, "accepted"},
        {"chunked", {}, "accepted"},
        {"cut short", {}, ""},
        {"larger than any reply of the service", {}, ""},
    };
    for (Case& c : aCases)
        c.fault.nStatus = 200;
    aCases[0].fault.strBody = "accepted";
    aCases[1].fault.strBody = "accepted";
    aCases[1].fault.bChunked = true;
    aCases[1].fault.uChunkSize = 3;
    aCases[2].fault.strBody = std::string(10000, 'r');
    aCases[2].fault.llDropAfter = 5000;
    aCases[3].fault.strBody = std::string((1 << 20) + 1, 'r');
    for (const Case& c : aCases) {
        m_Server.SetFault(s_szPath, c.fault);
        Rv_HttpUpload upload;
        ASSERT_TRUE(upload.Init(s_szPath, s_szKey)) << c.cszName;
        ASSERT_TRUE(upload.AddParam("uuid", "x")) << c.cszName;
        EXPECT_TRUE(upload.Post()) << c.cszName;
        EXPECT_EQ(c.cszReply, upload.GetReply()) << c.cszName;
    }
}

TEST_F(HttpUpload, RefusedArgumentsAndUnsignablePostsSendNothing)
{
    Rv_TestLogCapture log(m_Dir);
    Rv_HttpUpload upload;
    EXPECT_FALSE(upload.Post());                    // before Init
    EXPECT_FALSE(upload.Init(nullptr, s_szKey));
    EXPECT_FALSE(upload.Init(s_szPath, nullptr));
    ASSERT_TRUE(upload.Init(s_szPath, s_szKey));
    EXPECT_FALSE(upload.AddParam(nullptr, "v"));
    EXPECT_FALSE(upload.AddParam("n", nullptr));

    // No key and no fields: nothing to sign.
    ASSERT_TRUE(upload.Init(s_szPath, ""));
    EXPECT_FALSE(upload.Post());
    // No key, but a path and fields: signed under the empty key.
    ASSERT_TRUE(upload.AddParam("a", "1"));
    EXPECT_TRUE(upload.Post());

    // UnInit forgets the address and the fields.
    ASSERT_TRUE(upload.Init(s_szPath, s_szKey));
    ASSERT_TRUE(upload.AddParam("a", "1"));
    EXPECT_TRUE(upload.UnInit());
    EXPECT_FALSE(upload.Post());

    // Paths that cannot go on a request line as they are.
    for (const std::string& strPath : {std::string("/") + std::string(300, 'p'), std::string("/a b"),
                                       std::string("/a\r\nX-Injected: 1")}) {
        ASSERT_TRUE(upload.Init(strPath.c_str(), s_szKey));
        ASSERT_TRUE(upload.AddParam("a", "1"));
        EXPECT_FALSE(upload.Post()) << strPath;
    }
    // A reporting service that cannot be named.
    Rv_TestWriteFile(m_Dir.File("sim/report_service"), "bad host:1");
    EXPECT_FALSE(upload.Init(s_szPath, s_szKey));

    EXPECT_EQ(1u, m_Server.Requests().size());
    EXPECT_NE(std::string::npos, log.Text().find("RVLOG_PROCESS_ERROR(!strSignature.empty())")) << log.Text();
}
