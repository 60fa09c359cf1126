// The loopback servers that the transfer tests talk to: the scripted test
// server and the private nginx, checked with the curl command-line tool.
#include "tests/support/http_server.h"
#include "tests/support/nginx.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

namespace {

std::string Curl(const std::string& strArgs, int* pnStatus = nullptr)
{
    return Rv_TestRun("curl -s -S --max-time 10 " + strArgs + " 2>&1", pnStatus);
}

}  // namespace

TEST(TestHttpServer, ServesRangesAndLogsRequests)
{
    Rv_TestTempDir dir;
    Rv_TestWriteFile(dir.File("www/a/file.bin"), "0123456789");
    Rv_TestHttpServer server(dir.File("www"));
    server.Start();
    struct Case {
        std::string strArgs;
        std::string strOut;
    } aCases[] = {
        {"", "0123456789"},
        {"-r 2-4", "234"},
        {"-r 7-", "789"},
        {"-r -2", "89"},
        {"-o /dev/null -w '%{http_code}' -r 20-", "416"},
        {"-o /dev/null -w '%{http_code}' -I", "200"},
    };
    for (const Case& c : aCases)
        EXPECT_EQ(c.strOut, Curl(c.strArgs + " " + server.Url("/a/file.bin?x=1"))) << c.strArgs;
    EXPECT_EQ("404", Curl("-o /dev/null -w '%{http_code}' " + server.Url("/missing")));
    std::string strHeaders = Curl("-D - -o /dev/null -r 1-2 " + server.Url("/a/file.bin"));
    EXPECT_NE(std::string::npos, strHeaders.find("206 Partial Content"));
    EXPECT_NE(std::string::npos, strHeaders.find("Content-Range: bytes 1-2/10"));
    EXPECT_NE(std::string::npos, strHeaders.find("Last-Modified: "));
    std::vector<Rv_TestHttpRequest> vecRequests = server.RequestsFor("/a/file.bin");
    ASSERT_GE(vecRequests.size(), 2u);
    EXPECT_EQ("GET /a/file.bin?x=1 HTTP/1.1", vecRequests[0].strRequestLine);
    EXPECT_EQ(server.HostPort(), vecRequests[0].Header("host"));
    EXPECT_EQ("bytes=2-4", vecRequests[1].Header("Range"));
}

TEST(TestHttpServer, ScriptedFaults)
{
    Rv_TestTempDir dir;
    Rv_TestWriteFile(dir.File("www/f"), std::string(5000, 'x'));
    Rv_TestHttpServer server(dir.File("www"));
    server.Start();
    int nStatus = 0;

    Rv_TestHttpFault chunked;
    chunked.bChunked = true;
    chunked.uChunkSize = 700;
    chunked.nTimes = 1;
    server.SetFault("/f", chunked);
    std::string strHead = Curl("-D - -o " + dir.File("c") + " " + server.Url("/f"));
    EXPECT_NE(std::string::npos, strHead.find("Transfer-Encoding: chunked"));
    EXPECT_EQ(std::string(5000, 'x'), Rv_TestReadFile(dir.File("c")));

    Rv_TestHttpFault drop;
    drop.llDropAfter = 1234;
    server.SetFault("/f", drop);
    Curl("-o " + dir.File("d") + " " + server.Url("/f"), &nStatus);
    EXPECT_NE(0, nStatus);
    EXPECT_EQ(std::string(1234, 'x'), Rv_TestReadFile(dir.File("d")));

    Rv_TestHttpFault unsized;
    unsized.bNoContentLength = true;
    server.SetFault("/f", unsized);
    strHead = Curl("-D - -o " + dir.File("u") + " " + server.Url("/f"));
    EXPECT_EQ(std::string::npos, strHead.find("Content-Length"));
    EXPECT_EQ(5000u, Rv_TestReadFile(dir.File("u")).size());

    Rv_TestHttpFault redirect;
    redirect.strLocation = "/f";
    server.SetFault("/old", redirect);
    Rv_TestHttpFault status;
    status.nStatus = 503;
    status.strBody = "busy";
    status.uDelayMs = 50;
    server.SetFault("/busy", status);
    EXPECT_EQ(5000u, Curl("-L " + server.Url("/old")).size());
    EXPECT_EQ("busy503", Curl("-w '%{http_code}' " + server.Url("/busy")));
    server.ClearFaults();
    EXPECT_EQ("404", Curl("-o /dev/null -w '%{http_code}' " + server.Url("/busy")));
}

TEST(TestNginx, ServesFilesWithRanges)
{
    Rv_TestTempDir dir;
    Rv_TestWriteFile(dir.File("www/a.bin"), "abcdefgh");
    Rv_TestNginx nginx(dir.File("www"), dir.Path(), "location = /old { return 302 /a.bin; }");
    ASSERT_TRUE(nginx.Start());
    EXPECT_EQ("cde", Curl("-r 2-4 " + nginx.Url("/a.bin")));
    EXPECT_EQ("abcdefgh", Curl("-L " + nginx.Url("/old")));
    std::vector<std::string> vecLog = nginx.AccessLog(3);
    ASSERT_EQ(3u, vecLog.size());
    EXPECT_EQ("GET /a.bin HTTP/1.1|206|bytes=2-4|3", vecLog[0]);
    EXPECT_EQ("GET /old HTTP/1.1|302|-|", vecLog[1].substr(0, vecLog[1].rfind('|') + 1));
    nginx.Stop();
}
