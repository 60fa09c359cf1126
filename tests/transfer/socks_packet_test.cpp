// SOCKS packets: the bytes of every request kind, what cannot be built, and
// the replies read from a bare loopback peer and judged.
#include "transfer/socks_packet.h"
#include "transfer/buf_socket.h"
#include "tests/support/tcp_peer.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

std::vector<uint8_t> Bytes(const std::string& str)
{
    return std::vector<uint8_t>(str.begin(), str.end());
}

// 1.2.3.4 in network order.
const uint32_t s_uAddress = 0x04030201u;

TEST(SocksPacket, RequestBytesOfEveryKind)
{
    Rv_SocksFields socks4;
    socks4.nPort = 8080;
    socks4.uAddress = s_uAddress;
    socks4.strUserId = "rv";
    Rv_SocksFields socks4a = socks4;
    socks4a.strHost = "files.example";
    Rv_SocksFields methods;
    Rv_SocksFields methodsAuth;
    methodsAuth.bAuth = 1;
    Rv_SocksFields userPass;
    userPass.strUser = "user";
    userPass.strPassword = "pw";
    Rv_SocksFields connect4;
    connect4.nPort = 443;
    connect4.uAddress = s_uAddress;
    Rv_SocksFields connectName = connect4;
    connectName.nAddressType = RV_SOCKS5_ATYP_DOMAIN;
    connectName.strHost = "files.example";
    struct Case {
        const char* cszName;
        const Rv_SocksFields* pFields;
        int nKind;
        std::string strBytes;
    } aCases[] = {
        {"SOCKS4", &socks4, RV_SOCKS4_CONNECT, std::string("\x04\x01\x1f\x90\x01\x02\x03\x04rv\0", 11)},
        {"SOCKS4A", &socks4a, RV_SOCKS4A_CONNECT,
         std::string("\x04\x01\x1f\x90\0\0\0\x10rv\0files.example\0", 25)},
        {"methods", &methods, RV_SOCKS5_METHODS, std::string("\x05\x01\x00", 3)},
        {"methods with user/password", &methodsAuth, RV_SOCKS5_METHODS, std::string("\x05\x02\x00\x02", 4)},
        {"user/password", &userPass, RV_SOCKS5_USERPASS, std::string("\x01\x04user\x02pw", 9)},
        {"SOCKS5 address", &connect4, RV_SOCKS5_CONNECT, std::string("\x05\x01\x00\x01\x01\x02\x03\x04\x01\xbb", 10)},
        {"SOCKS5 name", &connectName, RV_SOCKS5_CONNECT,
         std::string("\x05\x01\x00\x03\x0d", 5) + "files.example" + std::string("\x01\xbb", 2)},
    };
    for (const Case& c : aCases) {
        std::vector<uint8_t> vecBytes;
        ASSERT_EQ(1, CSocksPacket::Build(*c.pFields, c.nKind, &vecBytes)) << c.cszName;
        EXPECT_EQ(Bytes(c.strBytes), vecBytes) << c.cszName;
    }
}

TEST(SocksPacket, FieldsThatDoNotFitAreNeverBuilt)
{
    std::string strLong(256, 'h');
    Rv_SocksFields longHost;
    longHost.strHost = strLong;
    Rv_SocksFields longName;
    longName.nAddressType = RV_SOCKS5_ATYP_DOMAIN;
    longName.strHost = strLong;
    Rv_SocksFields noName;
    noName.nAddressType = RV_SOCKS5_ATYP_DOMAIN;
    Rv_SocksFields otherType;
    otherType.nAddressType = 4;
    Rv_SocksFields longUser;
    longUser.strUser = strLong;
    Rv_SocksFields longPassword;
    longPassword.strPassword = strLong;
    Rv_SocksFields nulUser;
    nulUser.strUserId = std::string("a\0b", 3);
    struct Case {
        const char* cszName;
        const Rv_SocksFields* pFields;
        int nKind;
    } aCases[] = {
        {"SOCKS4A name of 256", &longHost, RV_SOCKS4A_CONNECT},
        {"SOCKS4A without a name", &otherType, RV_SOCKS4A_CONNECT},
        {"SOCKS4 user id with a NUL", &nulUser, RV_SOCKS4_CONNECT},
        {"SOCKS5 name of 256", &longName, RV_SOCKS5_CONNECT},
        {"SOCKS5 empty name", &noName, RV_SOCKS5_CONNECT},
        {"SOCKS5 address type 4", &otherType, RV_SOCKS5_CONNECT},
        {"user of 256", &longUser, RV_SOCKS5_USERPASS},
        {"password of 256", &longPassword, RV_SOCKS5_USERPASS},
        {"kind 0", &noName, 0},
        {"kind 6", &noName, 6},
    };
    for (const Case& c : aCases) {
        std::vector<uint8_t> vecBytes;
        EXPECT_EQ(0, CSocksPacket::Build(*c.pFields, c.nKind, &vecBytes)) << c.cszName;
    }
}

class SocksPacketWireTest : public ::testing::Test {
protected:
    void SetUp() override { m_Peer.Start(); }
    // A fresh connection to the peer, as the client makes one per request.
    void Connect()
    {
        ASSERT_EQ(1, m_Socket.Create());
        ASSERT_EQ(1, m_Socket.Connect("127.0.0.1", m_Peer.Port(), 5000));
        ASSERT_TRUE(m_Peer.Accept(5000));
    }

    Rv_TestTcpPeer m_Peer;
    CBufSocket m_Socket;
};

TEST_F(SocksPacketWireTest, RequestsGoOutWhole)
{
    Connect();
    CSocksPacket packet(&m_Socket);
    Rv_SocksFields fields;
    fields.nPort = 80;
    fields.strUserId = "id";
    fields.strHost = "files.example";
    ASSERT_EQ(1, packet.Send(fields, RV_SOCKS4A_CONNECT, 5000));
    EXPECT_EQ(std::string("\x04\x01\x00\x50\0\0\0\x10id\0files.example\0", 25), m_Peer.Receive(25, 5000));
    ASSERT_EQ(1, packet.SendUserPassword(nullptr, "pw", 5000));
    EXPECT_EQ(std::string("\x01\x00\x02pw", 5), m_Peer.Receive(5, 5000));
    fields.strHost = std::string(300, 'h');
    EXPECT_EQ(-1, packet.Send(fields, RV_SOCKS4A_CONNECT, 5000));
}

TEST_F(SocksPacketWireTest, RepliesAreReadAndJudged)
{
    struct Case {
        const char* cszName;
        int nKind;
        std::string strReply;
        int nReceived;
        int nOk;
        int nPort;
        size_t uAddressBytes;
    } aCases[] = {
        {"SOCKS4 granted", RV_SOCKS4_CONNECT, std::string("\x00\x5a\x1f\x90\x01\x02\x03\x04", 8), 1, 1, 8080, 4},
        {"SOCKS4 refused", RV_SOCKS4_CONNECT, std::string("\x00\x5b\0\0\0\0\0\0", 8), 1, 0, 0, 4},
        {"SOCKS4A granted", RV_SOCKS4A_CONNECT, std::string("\x00\x5a\0\0\0\0\0\0", 8), 1, 1, 0, 4},
        {"SOCKS4 cut short", RV_SOCKS4_CONNECT, std::string("\x00\x5a\x1f", 3), 0, 0, 0, 0},
        {"method none", RV_SOCKS5_METHODS, std::string("\x05\x00", 2), 1, 1, 0, 0},
        {"method user/password", RV_SOCKS5_METHODS, std::string("\x05\x02", 2), 1, 1, 0, 0},
        {"no acceptable method", RV_SOCKS5_METHODS, std::string("\x05\xff", 2), 1, 0, 0, 0},
        {"password taken", RV_SOCKS5_USERPASS, std::string("\x01\x00", 2), 1, 1, 0, 0},
        {"password refused", RV_SOCKS5_USERPASS, std::string("\x01\x01", 2), 1, 0, 0, 0},
        {"connected, IPv4", RV_SOCKS5_CONNECT, std::string("\x05\x00\x00\x01\x7f\0\0\x01\x04\xd2", 10), 1, 1, 1234, 4},
        {"connected, name", RV_SOCKS5_CONNECT, std::string("\x05\x00\x00\x03\x03" "abc" "\x00\x50", 10), 1, 1, 80, 3},
        {"connected, IPv6", RV_SOCKS5_CONNECT, std::string("\x05\x00\x00\x04", 4) + std::string(16, '\1') + std::string("\x00\x51", 2),
         1, 1, 81, 16},
        {"refused: no further bytes read", RV_SOCKS5_CONNECT, std::string("\x05\x05\x00\x01", 4), 1, 0, 0, 0},
        {"connected, cut short", RV_SOCKS5_CONNECT, std::string("\x05\x00\x00\x01\x7f\0", 6), 0, 0, 0, 0},
        {"unknown kind", 9, std::string("\x05\x00", 2), 0, 0, 0, 0},
    };
    for (const Case& c : aCases) {
        Connect();
        CSocksPacket packet(&m_Socket);
        ASSERT_TRUE(m_Peer.Send(c.strReply)) << c.cszName;
        m_Peer.Close();
        EXPECT_EQ(c.nReceived, packet.Receive(c.nKind, 5000)) << c.cszName;
        if (c.nReceived) {
            EXPECT_EQ(c.nOk, packet.IsReplyOK()) << c.cszName;
            EXPECT_EQ(c.nPort, packet.Reply().nPort) << c.cszName;
            EXPECT_EQ(c.uAddressBytes, packet.Reply().vecAddress.size()) << c.cszName;
        }
    }
}

}  // namespace
