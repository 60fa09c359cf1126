// The socket HTTP client through real proxies: tinyproxy as the HTTP proxy
// (with and without Basic authentication) and danted as the SOCKS4, SOCKS4A
// and SOCKS5 proxy, each a private instance on a loopback port; and through
// a scripted SOCKS proxy that knows a host name the client cannot look up.
#include "transfer/http_download.h"
#include "platform/file.h"
#include "tests/support/http_server.h"
#include "tests/support/proxy.h"
#include "tests/support/socks_server.h"
#include "transfer/buf_socket.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>
#include <unistd.h>

namespace {

bool HaveProgram(const char* cszName)
{
    int nStatus = 0;
    Rv_TestRun(std::string("command -v ") + cszName + " >/dev/null 2>&1", &nStatus);
    return nStatus == 0;
}

class ProxyTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_strData.resize(200000);
        for (size_t i = 0; i < m_strData.size(); i++)
            m_strData[i] = (char)(i * 131 + i / 977);
        Rv_TestWriteFile(m_Temp.File("web/a/b/file.bin"), m_strData);
        Rv_TestWriteFile(m_Temp.File("proxy/.keep"), "");
        m_Server.Start();
    }
    // A client aimed at the proxy, with short time-outs.
    void Aim(CHttpDownload* pClient, int nType, int nPort)
    {
        pClient->m_nProxyType = nType;
        pClient->m_strProxyHost = "127.0.0.1";
        pClient->m_nProxyPort = nPort;
        pClient->m_nConnectTimeout = 10000;
        pClient->m_nRecvTimeout = 10000;
        pClient->m_nSendTimeout = 10000;
    }
    std::string Out() const { return m_Temp.File("out.bin"); }

    Rv_TestTempDir m_Temp;
    std::string m_strData;
    Rv_TestHttpServer m_Server{m_Temp.File("web")};
};

TEST_F(ProxyTest, HttpProxyWithAndWithoutBasicAuthentication)
{
    if (!HaveProgram("tinyproxy"))
        GTEST_SKIP() << "tinyproxy is not installed";
    struct Case {
        std::string strProxyUser;     // what the proxy asks for ("" none)
        int bAuth;
        std::string strUser;
        std::string strPassword;
        int nResult;
    } aCases[] = {
        {"", 0, "", "", 0},
        {"rv", 1, "rv", "secret", 0},
        {"rv", 1, "rv", "wrong", 3},
        {"rv", 0, "", "", 3},
    };
    for (const Case& c : aCases) {
        std::string strDir = m_Temp.File("proxy/" + c.strUser + c.strPassword + std::to_string(c.bAuth));
        Rv_TestWriteFile(strDir + "/.keep", "");
        Rv_TestProxy proxy(Rv_TestProxy::TINYPROXY, strDir, c.strProxyUser, c.strProxyUser.empty() ? "" : "secret");
        ASSERT_TRUE(proxy.Start()) << Rv_TestReadFile(strDir + "/proxy.out");
        CHttpDownload client;
        Aim(&client, RV_HTTP_PROXY_HTTP, proxy.Port());
        client.m_bProxyAuth = c.bAuth;
        client.m_strProxyUser = c.strUser;
        client.m_strProxyPassword = c.strPassword;
        unlink(Out().c_str());
        EXPECT_EQ(c.nResult, client.Download(m_Server.Url("/a/b/file.bin").c_str(), Out().c_str()))
            << c.strUser << ":" << c.strPassword;
        if (c.nResult == 0)
            EXPECT_EQ(m_strData, Rv_TestReadFile(Out()));
        else
            EXPECT_FALSE(Pf_FileExists(Out()));
    }
}

TEST_F(ProxyTest, RootRelativeRedirectThroughHttpProxyAsksForTheNewUrl)
{
    if (!HaveProgram("tinyproxy"))
        GTEST_SKIP() << "tinyproxy is not installed";
    Rv_TestProxy proxy(Rv_TestProxy::TINYPROXY, m_Temp.File("proxy"));
    ASSERT_TRUE(proxy.Start());
    Rv_TestHttpFault redirect;
    redirect.strLocation = "/a/b/file.bin";
    m_Server.SetFault("/old/start.bin", redirect);
    CHttpDownload client;
    Aim(&client, RV_HTTP_PROXY_HTTP, proxy.Port());
    ASSERT_EQ(0, client.Download(m_Server.Url("/old/start.bin").c_str(), Out().c_str()));
    EXPECT_EQ(m_strData, Rv_TestReadFile(Out()));
    EXPECT_EQ(1u, m_Server.RequestsFor("/old/start.bin").size());
    EXPECT_EQ(1u, m_Server.RequestsFor("/a/b/file.bin").size());
}

TEST_F(ProxyTest, SocksProxies)
{
    if (!HaveProgram("danted"))
        GTEST_SKIP() << "danted is not installed";
    Rv_TestProxy proxy(Rv_TestProxy::DANTE, m_Temp.File("proxy"));
    ASSERT_TRUE(proxy.Start()) << Rv_TestReadFile(m_Temp.File("proxy/proxy.out"));
    for (int nType : {RV_HTTP_PROXY_SOCKS4, RV_HTTP_PROXY_SOCKS4A, RV_HTTP_PROXY_SOCKS5}) {
        CHttpDownload client;
        Aim(&client, nType, proxy.Port());
        unlink(Out().c_str());
        ASSERT_EQ(0, client.Download(m_Server.Url("/a/b/file.bin").c_str(), Out().c_str())) << nType;
        EXPECT_EQ(m_strData, Rv_TestReadFile(Out())) << nType;
    }
    EXPECT_EQ(3u, m_Server.RequestsFor("/a/b/file.bin").size());
    // A host name of more than 255 bytes never goes into a packet.
    for (int nType : {RV_HTTP_PROXY_SOCKS4A, RV_HTTP_PROXY_SOCKS5}) {
        CHttpDownload client;
        Aim(&client, nType, proxy.Port());
        std::string strURL = "http://" + std::string(300, 'h') + "/a/b/file.bin";
        EXPECT_EQ(3, client.Download(strURL.c_str(), Out().c_str())) << nType;
    }
    // A proxy type that does not exist fails without traffic.
    CHttpDownload client;
    Aim(&client, 2, proxy.Port());
    EXPECT_EQ(3, client.Download(m_Server.Url("/a/b/file.bin").c_str(), Out().c_str()));
}

TEST_F(ProxyTest, Socks5ProxyDemandingAPasswordRefusesAndLongFieldsAreNeverSent)
{
    if (!HaveProgram("danted"))
        GTEST_SKIP() << "danted is not installed";
    Rv_TestProxy proxy(Rv_TestProxy::DANTE, m_Temp.File("proxy"), "rv", "secret");
    ASSERT_TRUE(proxy.Start()) << Rv_TestReadFile(m_Temp.File("proxy/proxy.out"));
    std::string strLong(300, 'u');
    struct Case {
        int bAuth;
        std::string strUser;
        std::string strPassword;
    } aCases[] = {
        {0, "", ""},                 // only "no authentication" offered: no acceptable method
        {1, strLong, "secret"},      // a user of more than 255 bytes
        {1, "rv", strLong},          // a password of more than 255 bytes
    };
    for (const Case& c : aCases) {
        CHttpDownload client;
        Aim(&client, RV_HTTP_PROXY_SOCKS5, proxy.Port());
        client.m_bProxyAuth = c.bAuth;
        client.m_strProxyUser = c.strUser;
        client.m_strProxyPassword = c.strPassword;
        EXPECT_EQ(3, client.Download(m_Server.Url("/a/b/file.bin").c_str(), Out().c_str()))
            << c.strUser.size() << " " << c.strPassword.size();
    }
    EXPECT_TRUE(m_Server.Requests().empty());
}

TEST_F(ProxyTest, SocksRequestsCarryANameTheClientCannotLookUp)
{
    const std::string strName = "files.rv-test.invalid";
    Rv_TestSocksServer proxy;
    proxy.AddName(strName, "127.0.0.1");
    proxy.Start();
    std::string strURL = "http://" + strName + ":" + std::to_string(m_Server.Port()) + "/a/b/file.bin";
    for (int nType : {RV_HTTP_PROXY_SOCKS4A, RV_HTTP_PROXY_SOCKS5}) {
        CHttpDownload client;
        Aim(&client, nType, proxy.Port());
        unlink(Out().c_str());
        size_t uBefore = proxy.Requests().size();
        ASSERT_EQ(0, client.Download(strURL.c_str(), Out().c_str())) << nType;
        EXPECT_EQ(m_strData, Rv_TestReadFile(Out())) << nType;
        auto vecRequests = proxy.Requests();
        ASSERT_EQ(uBefore + 1, vecRequests.size()) << nType;
        EXPECT_EQ(nType == RV_HTTP_PROXY_SOCKS5 ? 5 : 4, vecRequests.back().nVersion) << nType;
        EXPECT_EQ(strName, vecRequests.back().strHost) << nType;
        EXPECT_EQ(0u, vecRequests.back().uAddress) << nType;
        EXPECT_EQ(m_Server.Port(), vecRequests.back().nPort) << nType;
        EXPECT_EQ(strName, m_Server.Requests().back().Header("Host")) << nType;
    }
    EXPECT_EQ((std::vector<int>{0}), proxy.Requests().back().vecMethods);
    // Plain SOCKS4 has no room for a name: it fails without asking the proxy.
    {
        CHttpDownload client;
        Aim(&client, RV_HTTP_PROXY_SOCKS4, proxy.Port());
        size_t uBefore = proxy.Requests().size();
        EXPECT_EQ(3, client.Download(strURL.c_str(), Out().c_str()));
        EXPECT_EQ(uBefore, proxy.Requests().size());
    }
    // A name that resolves here goes to a SOCKS4A proxy as its address.
    if (CBufSocket::ResolveHost("localhost", 5000) == 0x0100007Fu) {
        CHttpDownload client;
        Aim(&client, RV_HTTP_PROXY_SOCKS4A, proxy.Port());
        std::string strLocal = "http://localhost:" + std::to_string(m_Server.Port()) + "/a/b/file.bin";
        unlink(Out().c_str());
        ASSERT_EQ(0, client.Download(strLocal.c_str(), Out().c_str()));
        EXPECT_EQ("", proxy.Requests().back().strHost);
        EXPECT_EQ(0x0100007Fu, proxy.Requests().back().uAddress);
    }
}

TEST_F(ProxyTest, Socks5ProxyWithNoAcceptableMethodIsRefused)
{
    Rv_TestSocksServer proxy;
    proxy.SetMethod(255);
    proxy.Start();
    CHttpDownload client;
    Aim(&client, RV_HTTP_PROXY_SOCKS5, proxy.Port());
    EXPECT_EQ(3, client.Download(m_Server.Url("/a/b/file.bin").c_str(), Out().c_str()));
    EXPECT_TRUE(m_Server.Requests().empty());
    EXPECT_FALSE(Pf_FileExists(Out()));
}

}  // namespace
