// The scripted SOCKS proxy: accept loop, one thread per connection, the
// SOCKS4, SOCKS4A and SOCKS5 handshakes, the connection to the target and
// the relay.
#include "tests/support/socks_server.h"
#include "tests/support/tcp_peer.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const int s_nWaitMs = 10000;  // a handshake byte or a relay quiet this long ends the connection

}  // namespace

Rv_TestSocksServer::~Rv_TestSocksServer()
{
    Stop();
}

void Rv_TestSocksServer::AddName(const std::string& strName, const std::string& strAddress)
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_mapNames[strName] = strAddress;
}

void Rv_TestSocksServer::Start()
{
    m_nListenFd = Rv_TestListenOnLoopback(16, &m_nPort);
    m_AcceptThread = std::thread([this] { _AcceptLoop(); });
}

void Rv_TestSocksServer::Stop()
{
    std::vector<std::thread> vecThreads;
    m_bStop = true;
    if (m_AcceptThread.joinable())
        m_AcceptThread.join();
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        for (int nFd : m_vecFds)
            shutdown(nFd, SHUT_RDWR);
        vecThreads.swap(m_vecThreads);
    }
    for (std::thread& thread : vecThreads)
        thread.join();
    if (m_nListenFd >= 0)
        close(m_nListenFd);
    m_nListenFd = -1;
}

std::vector<Rv_TestSocksRequest> Rv_TestSocksServer::Requests() const
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_vecRequests;
}

void Rv_TestSocksServer::_AcceptLoop()
{
    while (!m_bStop) {
        struct pollfd pfd = {m_nListenFd, POLLIN, 0};
        if (poll(&pfd, 1, 50) <= 0)
            continue;
        int nFd = accept4(m_nListenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (nFd < 0)
            continue;
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_vecFds.push_back(nFd);
        m_vecThreads.emplace_back([this, nFd] { _Serve(nFd); });
    }
}

bool Rv_TestSocksServer::_Read(int nFd, void* pvBuffer, size_t uSize)
{
    size_t uRead = 0;
    while (uRead < uSize && !m_bStop) {
        struct pollfd pfd = {nFd, POLLIN, 0};
        if (poll(&pfd, 1, s_nWaitMs) <= 0)
            return false;
        ssize_t nRead = recv(nFd, (char*)pvBuffer + uRead, uSize - uRead, 0);
        if (nRead < 0 && errno == EINTR)
            continue;
        if (nRead <= 0)
            return false;
        uRead += (size_t)nRead;
    }
    return uRead == uSize;
}

// Bytes up to a NUL, at most 1024.
bool Rv_TestSocksServer::_ReadText(int nFd, std::string* pstrRetText)
{
    pstrRetText->clear();
    for (int i = 0; i < 1024; i++) {
        char c = 0;
        if (!_Read(nFd, &c, 1))
            return false;
        if (c == '\0')
            return true;
        *pstrRetText += c;
    }
    return false;
}

// A connected socket to the request's target, or -1.
int Rv_TestSocksServer::_ConnectTarget(const Rv_TestSocksRequest& request)
{
    struct sockaddr_in addr;
    memset(&addr, 0, sizeof(addr));
    addr.sin_family = AF_INET;
    addr.sin_port = htons((uint16_t)request.nPort);
    addr.sin_addr.s_addr = request.uAddress;
    if (!request.strHost.empty()) {
        std::lock_guard<std::mutex> lock(m_Mutex);
        auto it = m_mapNames.find(request.strHost);
        if (it == m_mapNames.end() || inet_pton(AF_INET, it->second.c_str(), &addr.sin_addr) != 1)
            return -1;
    }
    int nFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (nFd >= 0 && connect(nFd, (struct sockaddr*)&addr, sizeof(addr)) != 0) {
        close(nFd);
        nFd = -1;
    }
    return nFd;
}

void Rv_TestSocksServer::_Relay(int nClientFd, int nTargetFd)
{
    struct pollfd apfd[2] = {{nClientFd, POLLIN, 0}, {nTargetFd, POLLIN, 0}};
    while (!m_bStop) {
        int nReady = poll(apfd, 2, s_nWaitMs);
        if (nReady <= 0)
            return;
        for (int i = 0; i < 2; i++) {
            char achBuffer[65536];
            if (!(apfd[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            ssize_t nRead = recv(apfd[i].fd, achBuffer, sizeof(achBuffer), 0);
            if (nRead < 0 && errno == EINTR)
                continue;
            // Either side's end ends both: the client's requests close the connection.
            if (nRead <= 0 || !Rv_TestSendAll(apfd[1 - i].fd, std::string(achBuffer, (size_t)nRead)))
                return;
        }
    }
}

void Rv_TestSocksServer::_Serve(int nFd)
{
    Rv_TestSocksRequest request;
    unsigned char aby[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    int nTargetFd = -1;
    std::string strReply;
    if (_Read(nFd, aby, 1) && aby[0] == 4 && _Read(nFd, aby + 1, 7) && _ReadText(nFd, &request.strUserId)) {
        // SOCKS4: version, command, port, address, user id; SOCKS4A: the
        // address 0.0.0.x and a host name after the user id.
        request.nVersion = 4;
        request.nPort = (aby[2] << 8) | aby[3];
        memcpy(&request.uAddress, aby + 4, 4);
        bool bName = aby[4] == 0 && aby[5] == 0 && aby[6] == 0 && aby[7] != 0;
        if (!bName || _ReadText(nFd, &request.strHost)) {
            if (bName)
                request.uAddress = 0;
            {
                std::lock_guard<std::mutex> lock(m_Mutex);
                m_vecRequests.push_back(request);
            }
            nTargetFd = _ConnectTarget(request);
            strReply = std::string("\0", 1) + (char)(nTargetFd >= 0 ? 90 : 91) + std::string((const char*)aby + 2, 6);
            if (Rv_TestSendAll(nFd, strReply) && nTargetFd >= 0)
                _Relay(nFd, nTargetFd);
        }
    } else if (aby[0] == 5 && _Read(nFd, aby + 1, 1)) {
        // SOCKS5: the method offer, then the request with an address or a name.
        std::vector<unsigned char> vecMethods(aby[1]);
        int nMethod = m_nMethod;
        if (_Read(nFd, vecMethods.data(), vecMethods.size())) {
            request.nVersion = 5;
            request.vecMethods.assign(vecMethods.begin(), vecMethods.end());
            strReply = std::string("\x05", 1) + (char)nMethod;
            if (Rv_TestSendAll(nFd, strReply) && nMethod == 0 && _Read(nFd, aby, 4)) {
                unsigned char byLength = 0;
                unsigned char abyPort[2];
                bool bOk = false;
                if (aby[3] == 1) {
                    bOk = _Read(nFd, &request.uAddress, 4);
                } else if (aby[3] == 3 && _Read(nFd, &byLength, 1)) {
                    request.strHost.resize(byLength);
                    bOk = _Read(nFd, request.strHost.data(), byLength);
                }
                if (bOk && _Read(nFd, abyPort, 2)) {
                    request.nPort = (abyPort[0] << 8) | abyPort[1];
                    {
                        std::lock_guard<std::mutex> lock(m_Mutex);
                        m_vecRequests.push_back(request);
                    }
                    nTargetFd = _ConnectTarget(request);
                    strReply = std::string("\x05", 1) + (char)(nTargetFd >= 0 ? 0 : 4) + std::string("\0\x01\0\0\0\0\0\0", 8);
                    if (Rv_TestSendAll(nFd, strReply) && nTargetFd >= 0)
                        _Relay(nFd, nTargetFd);
                }
            }
        }
    }
    if (nTargetFd >= 0)
        close(nTargetFd);
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_vecFds.erase(std::remove(m_vecFds.begin(), m_vecFds.end(), nFd), m_vecFds.end());
    close(nFd);
}
