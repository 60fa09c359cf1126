// Whole-file download: the three ways in turn, no partial file after a
// failure, bodies without length, redirects, and the forced refresh with its
// cache-busting suffix; against the scripted server and a real nginx.
#include "platform/file.h"
#include "tests/support/http_server.h"
#include "tests/support/nginx.h"
#include "tests/support/temp_dir.h"
#include "transfer/http_file.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <regex>

namespace {

class HttpFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        unsetenv("http_proxy");
        unsetenv("HTTP_PROXY");
        m_strData = std::string(150000, 'd') + "end";
        Rv_TestWriteFile(m_Dir.File("www/list.txt"), m_strData);
        m_Server.Start();
        m_strTarget = m_Dir.File("local/list.txt");
        Rv_TestWriteFile(m_strTarget, "old copy");
    }

    Rv_TestTempDir m_Dir;
    Rv_TestHttpServer m_Server{m_Dir.File("www")};
    std::string m_strData;
    std::string m_strTarget;
};

}  // namespace

TEST_F(HttpFile, FirstWayWritesTheFileOverAReadOnlyCopy)
{
    Pf_SetReadOnly(m_strTarget, 1);
    ASSERT_TRUE(RVU_DownloadHttpFile(m_Server.Url("/list.txt").c_str(), m_strTarget.c_str()));
    EXPECT_EQ(m_strData, Rv_TestReadFile(m_strTarget));
    std::vector<Rv_TestHttpRequest> vecLog = m_Server.Requests();
    ASSERT_EQ(1u, vecLog.size());
    EXPECT_EQ("Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1)", vecLog[0].Header("User-Agent"));
    EXPECT_EQ("*/*", vecLog[0].Header("Accept"));
}

TEST_F(HttpFile, WaysTriedInTurn)
{
    struct Case {
        const char* cszName;
        Rv_TestHttpFault fault;
        int nResult;
        size_t uRequests;
    } aCases[] = {
        {"404 everywhere", [] { Rv_TestHttpFault f; f.nStatus = 404; return f; }(), 0, 3},
        {"500 then fine", [] { Rv_TestHttpFault f; f.nStatus = 500; f.nTimes = 1; return f; }(), 1, 2},
        {"short body once", [] { Rv_TestHttpFault f; f.llDropAfter = 1000; f.nTimes = 1; return f; }(), 1, 2},
        {"short body twice", [] { Rv_TestHttpFault f; f.llDropAfter = 1000; f.nTimes = 2; return f; }(), 1, 3},
        {"short body always", [] { Rv_TestHttpFault f; f.llDropAfter = 1000; return f; }(), 0, 3},
        {"close-delimited", [] { Rv_TestHttpFault f; f.bNoContentLength = true; return f; }(), 1, 1},
        {"chunked", [] { Rv_TestHttpFault f; f.bChunked = true; f.uChunkSize = 4000; return f; }(), 1, 1},
    };
    for (const Case& c : aCases) {
        Rv_TestHttpServer server(m_Dir.File("www"));
        server.Start();
        server.SetFault("/list.txt", c.fault);
        Rv_TestWriteFile(m_strTarget, "old copy");
        EXPECT_EQ(c.nResult, RVU_DownloadHttpFile(server.Url("/list.txt").c_str(), m_strTarget.c_str())) << c.cszName;
        EXPECT_EQ(c.uRequests, server.Requests().size()) << c.cszName;
        if (c.nResult) {
            EXPECT_EQ(m_strData, Rv_TestReadFile(m_strTarget)) << c.cszName;
        } else {
            EXPECT_FALSE(Pf_PathExists(m_strTarget)) << c.cszName;
        }
    }
}

// A body past the caller's bound fails every way, whether its length is
// announced or not, and leaves no file; a body of the bound's size is taken.
TEST_F(HttpFile, BodyPastTheBoundFails)
{
    const uint64_t ullSize = m_strData.size();
    for (bool bAnnounced : {true, false}) {
        Rv_TestHttpFault fault;
        fault.bNoContentLength = !bAnnounced;
        m_Server.SetFault("/list.txt", fault);
        size_t uBefore = m_Server.Requests().size();
        EXPECT_FALSE(RVU_DownloadHttpFile(m_Server.Url("/list.txt").c_str(), m_strTarget.c_str(), ullSize - 1))
            << bAnnounced;
        EXPECT_EQ(uBefore + 3, m_Server.Requests().size()) << bAnnounced;
        EXPECT_FALSE(Pf_PathExists(m_strTarget)) << bAnnounced;
        EXPECT_TRUE(RVU_DownloadHttpFileForceRefresh(m_Server.Url("/list.txt").c_str(), m_strTarget.c_str(), ullSize))
            << bAnnounced;
        EXPECT_EQ(m_strData, Rv_TestReadFile(m_strTarget)) << bAnnounced;
    }
}

TEST_F(HttpFile, BadArgumentsFail)
{
    std::string strUrl = m_Server.Url("/list.txt");
    EXPECT_FALSE(RVU_DownloadHttpFile(nullptr, m_strTarget.c_str()));
    EXPECT_FALSE(RVU_DownloadHttpFile("", m_strTarget.c_str()));
    EXPECT_FALSE(RVU_DownloadHttpFile(strUrl.c_str(), nullptr));
    EXPECT_FALSE(RVU_DownloadHttpFile(strUrl.c_str(), ""));
    EXPECT_FALSE(RVU_DownloadHttpFileForceRefresh(nullptr, m_strTarget.c_str()));
    EXPECT_FALSE(RVU_DownloadHttpFileForceRefresh(strUrl.c_str(), nullptr));
    EXPECT_EQ(0u, m_Server.Requests().size());
    EXPECT_EQ("old copy", Rv_TestReadFile(m_strTarget));
}

TEST_F(HttpFile, RefreshSuffixGrowsWithinTheSecond)
{
    std::string strA;
    std::string strB;
    ASSERT_TRUE(Rv_GenerateRefreshEveryTimeString(&strA));
    ASSERT_TRUE(Rv_GenerateRefreshEveryTimeString(&strB));
    EXPECT_NE(strA, strB);
    EXPECT_TRUE(std::regex_match(strA, std::regex("/-?[0-9]+\\.RefreshEveryTime"))) << strA;
    EXPECT_FALSE(Rv_GenerateRefreshEveryTimeString(nullptr));
}

TEST_F(HttpFile, ForceRefreshFallsBackToThePlainUrl)
{
    ASSERT_TRUE(RVU_DownloadHttpFileForceRefresh(m_Server.Url("/list.txt").c_str(), m_strTarget.c_str()));
    EXPECT_EQ(m_strData, Rv_TestReadFile(m_strTarget));
    std::vector<Rv_TestHttpRequest> vecLog = m_Server.Requests();
    ASSERT_EQ(4u, vecLog.size());       // three ways for the suffixed URL, then the plain one
    std::regex suffixed("/list\\.txt/-?[0-9]+\\.RefreshEveryTime");
    for (size_t i = 0; i < 3; ++i)
        EXPECT_TRUE(std::regex_match(vecLog[i].strPath, suffixed)) << vecLog[i].strPath;
    EXPECT_EQ("/list.txt", vecLog[3].strPath);
}

TEST_F(HttpFile, AgainstNginx)
{
    Rv_TestNginx nginx(m_Dir.File("www"), m_Dir.Path(),
                       "location = /abs { return 302 $scheme://127.0.0.1:$server_port/list.txt; }\n"
                       "location = /rel { return 301 /list.txt; }\n"
                       "location /sub/ { rewrite ^/sub/(.*)$ ../$1 redirect; }\n");
    ASSERT_TRUE(nginx.Start());
    for (const char* cszPath : {"/list.txt", "/abs", "/rel"}) {
        Rv_TestWriteFile(m_strTarget, "old copy");
        EXPECT_TRUE(RVU_DownloadHttpFile(nginx.Url(cszPath).c_str(), m_strTarget.c_str())) << cszPath;
        EXPECT_EQ(m_strData, Rv_TestReadFile(m_strTarget)) << cszPath;
    }
    EXPECT_FALSE(RVU_DownloadHttpFile(nginx.Url("/missing.txt").c_str(), m_strTarget.c_str()));
    EXPECT_FALSE(Pf_PathExists(m_strTarget));
    std::vector<std::string> vecLog = nginx.AccessLog(8);
    size_t u404 = 0;
    for (const std::string& strLine : vecLog)
        u404 += strLine.find("GET /missing.txt HTTP/1.1|404|") == 0;
    EXPECT_EQ(3u, u404);
}
