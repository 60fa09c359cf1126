// The bare loopback TCP peer: listen, accept with a time limit, send and receive.
#include "tests/support/tcp_peer.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

Rv_TestTcpPeer::~Rv_TestTcpPeer()
{
    Close();
    if (m_nListenFd >= 0)
        close(m_nListenFd);
}

int Rv_TestListenOnLoopback(int nBacklog, int* pnRetPort)
{
    struct sockaddr_in addr;
    socklen_t nLen = sizeof(addr);
    int nFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (nFd < 0)
        throw std::runtime_error("socket failed");
    memset(&addr, 0, sizeof(addr));
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(nFd, (struct sockaddr*)&addr, sizeof(addr)) != 0 || listen(nFd, nBacklog) != 0 ||
        getsockname(nFd, (struct sockaddr*)&addr, &nLen) != 0) {
        close(nFd);
        throw std::runtime_error("bind/listen failed");
    }
    *pnRetPort = ntohs(addr.sin_port);
    return nFd;
}

void Rv_TestTcpPeer::Start()
{
    m_nListenFd = Rv_TestListenOnLoopback(8, &m_nPort);
}

bool Rv_TestTcpPeer::Accept(unsigned uTimeoutMs)
{
    struct pollfd pfd = {m_nListenFd, POLLIN, 0};
    Close();
    if (poll(&pfd, 1, (int)uTimeoutMs) <= 0)
        return false;
    m_nFd = accept4(m_nListenFd, nullptr, nullptr, SOCK_CLOEXEC);
    return m_nFd >= 0;
}

bool Rv_TestSendAll(int nFd, const std::string& strData)
{
    size_t uSent = 0;
    while (uSent < strData.size()) {
        ssize_t nSent = send(nFd, strData.data() + uSent, strData.size() - uSent, MSG_NOSIGNAL);
        if (nSent < 0 && errno == EINTR)
            continue;
        if (nSent <= 0)
            return false;
        uSent += (size_t)nSent;
    }
    return true;
}

bool Rv_TestTcpPeer::Send(const std::string& strData)
{
    return Rv_TestSendAll(m_nFd, strData);
}

std::string Rv_TestTcpPeer::Receive(size_t uCount, unsigned uTimeoutMs)
{
    std::string strData;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(uTimeoutMs);
    while (strData.size() < uCount) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        struct pollfd pfd = {m_nFd, POLLIN, 0};
        char achBuffer[65536];
        if (left.count() <= 0 || poll(&pfd, 1, (int)left.count()) <= 0)
            break;
        ssize_t nRead = recv(m_nFd, achBuffer, std::min(sizeof(achBuffer), uCount - strData.size()), 0);
        if (nRead < 0 && errno == EINTR)
            continue;
        if (nRead <= 0)
            break;
        strData.append(achBuffer, (size_t)nRead);
    }
    return strData;
}

void Rv_TestTcpPeer::Close()
{
    if (m_nFd >= 0)
        close(m_nFd);
    m_nFd = -1;
}
