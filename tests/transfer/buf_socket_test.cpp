// The buffered socket against a bare loopback peer: line pieces, empty
// lines, the ring's wrap, time-outs, an orderly close and host lookups.
#include "transfer/buf_socket.h"
#include "platform/socket.h"
#include "tests/support/tcp_peer.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

class BufSocketTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_Peer.Start();
        ASSERT_EQ(1, m_Socket.Create());
        ASSERT_EQ(1, m_Socket.Connect("127.0.0.1", m_Peer.Port(), 5000));
        ASSERT_TRUE(m_Peer.Accept(5000));
    }
    // Reads exactly uCount bytes with Read, in pieces of at most nMax.
    std::string ReadBytes(size_t uCount, int nMax)
    {
        std::vector<char> vecBuffer(RV_BUFSOCKET_SIZE);
        std::string strData;
        while (strData.size() < uCount) {
            int nWant = (int)std::min<size_t>((size_t)nMax, uCount - strData.size());
            int nRead = m_Socket.Read(vecBuffer.data(), 5000, nWant);
            if (nRead <= 0)
                break;
            strData.append(vecBuffer.data(), (size_t)nRead);
        }
        return strData;
    }

    Rv_TestTcpPeer m_Peer;
    CBufSocket m_Socket;
};

std::string Pattern(size_t uSize, unsigned uSeed)
{
    std::string str(uSize, '\0');
    for (size_t i = 0; i < uSize; i++)
        str[i] = (char)('a' + (i * 7 + uSeed) % 26);
    return str;
}

TEST_F(BufSocketTest, LinesComeInPiecesOf1023Bytes)
{
    char szLine[1024];
    std::string strLong = Pattern(2000, 1);
    ASSERT_TRUE(m_Peer.Send(strLong + "\r\n" + "\r\n" + "a\rb\n" + "tail"));
    EXPECT_EQ(1, m_Socket.ReadLine(szLine, 5000));
    EXPECT_EQ(strLong.substr(0, 1023), szLine);
    EXPECT_EQ(0, m_Socket.ReadLine(szLine, 5000));
    EXPECT_EQ(strLong.substr(1023), szLine);
    // A bare CR LF is an empty line; a CR elsewhere is kept.
    EXPECT_EQ(0, m_Socket.ReadLine(szLine, 5000));
    EXPECT_STREQ("", szLine);
    EXPECT_EQ(0, m_Socket.ReadLine(szLine, 5000));
    EXPECT_STREQ("a\rb", szLine);
    // A line the peer's close cuts off.
    m_Peer.Close();
    EXPECT_EQ(-1, m_Socket.ReadLine(szLine, 5000));
    EXPECT_STREQ("tail", szLine);
    EXPECT_EQ(256, m_Socket.ReadByte(5000));
}

TEST_F(BufSocketTest, BytesCrossTheRingsEndInOrder)
{
    // Byte n of the stream sits at n modulo the ring's size: the last
    // bytes straddle its end and come back in one read of two copies.
    std::string strFirst = Pattern(RV_BUFSOCKET_SIZE - 72, 2);
    std::string strSecond = Pattern(300, 3);
    ASSERT_TRUE(m_Peer.Send(strFirst));
    EXPECT_EQ(strFirst, ReadBytes(strFirst.size(), 50000));
    ASSERT_TRUE(m_Peer.Send(strSecond));
    EXPECT_EQ(strSecond, ReadBytes(strSecond.size(), RV_BUFSOCKET_SIZE));
    // Bytes and lines across the end of a second round.
    std::string strThird = Pattern(RV_BUFSOCKET_SIZE - 2, 4) + "\nxy\n";
    ASSERT_TRUE(m_Peer.Send(strThird));
    EXPECT_EQ(strThird.substr(0, 1000), ReadBytes(1000, 1000));
    EXPECT_EQ(strThird.substr(1000, strThird.size() - 1000 - 6), ReadBytes(strThird.size() - 1000 - 6, 70000));
    char szLine[1024];
    EXPECT_EQ(0, m_Socket.ReadLine(szLine, 5000));
    EXPECT_EQ(strThird.substr(strThird.size() - 6, 2), szLine);
    EXPECT_EQ('x', m_Socket.ReadByte(5000));
    EXPECT_EQ(0, m_Socket.ReadLine(szLine, 5000));
    EXPECT_STREQ("y", szLine);
}

TEST_F(BufSocketTest, SilentPeerTimesOutWith10060)
{
    char szLine[1024];
    std::vector<char> vecBuffer(RV_BUFSOCKET_SIZE);
    EXPECT_EQ(-1, m_Socket.Read(vecBuffer.data(), 100));
    EXPECT_EQ(PF_WSAETIMEDOUT, m_Socket.GetLastError());
    EXPECT_EQ(0, m_Socket.PeerClosed());
    EXPECT_EQ(-1, m_Socket.ReadLine(szLine, 100));
    EXPECT_EQ(256, m_Socket.ReadByte(100));
    EXPECT_EQ(PF_WSAETIMEDOUT, m_Socket.GetLastError());
    // What comes later is still read.
    ASSERT_TRUE(m_Peer.Send("late\n"));
    EXPECT_EQ(0, m_Socket.ReadLine(szLine, 5000));
    EXPECT_STREQ("late", szLine);
}

TEST_F(BufSocketTest, OrderlyCloseEndsReadsWithZero)
{
    std::vector<char> vecBuffer(RV_BUFSOCKET_SIZE);
    ASSERT_TRUE(m_Peer.Send("last"));
    m_Peer.Close();
    EXPECT_EQ(4, m_Socket.Read(vecBuffer.data(), 5000));
    EXPECT_EQ(0, m_Socket.Read(vecBuffer.data(), 5000));
    EXPECT_EQ(1, m_Socket.PeerClosed());
    // A closed socket reads nothing and sends nothing.
    m_Socket.Close();
    EXPECT_EQ(-1, m_Socket.Read(vecBuffer.data(), 5000));
    EXPECT_EQ(256, m_Socket.ReadByte(5000));
    EXPECT_EQ(0, m_Socket.SendAll("x", 1, 5000));
}

TEST(BufSocketResolve, DottedAddressesAndUnknownNames)
{
    EXPECT_EQ(0x0100007Fu, CBufSocket::ResolveHost("127.0.0.1"));
    EXPECT_EQ((uint32_t)PF_INADDR_NONE, CBufSocket::ResolveHost("no-such-host.rv-test.invalid", 5000));
    // An unknown name fails the connect before any attempt.
    CBufSocket socket;
    ASSERT_EQ(1, socket.Create());
    EXPECT_EQ(0, socket.Connect("no-such-host.rv-test.invalid", 80, 5000));
    EXPECT_NE(0, socket.GetLastError());
}

}  // namespace
