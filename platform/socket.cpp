// TCP sockets over POSIX: non-blocking descriptors waited on with poll, so
// that every step has its own time-out; host names looked up by getaddrinfo
// on a detached thread.
#include "platform/socket.h"
#include "platform/clock.h"

#include <arpa/inet.h>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

int Pf_SocketErrorFromErrno(int nErrno)
{
    switch (nErrno) {
    case 0: return 0;
    case EINTR: return PF_WSAEINTR;
    case EBADF: return PF_WSAEBADF;
    case EACCES: case EPERM: return PF_WSAEACCES;
    case EFAULT: return PF_WSAEFAULT;
    case EINVAL: return PF_WSAEINVAL;
    case EMFILE: case ENFILE: return PF_WSAEMFILE;
    case EAGAIN: return PF_WSAEWOULDBLOCK;
    case EINPROGRESS: case EALREADY: return PF_WSAEINPROGRESS;
    case ENOTSOCK: return PF_WSAENOTSOCK;
    case EMSGSIZE: return PF_WSAEMSGSIZE;
    case EAFNOSUPPORT: return PF_WSAEAFNOSUPPORT;
    case EADDRINUSE: return PF_WSAEADDRINUSE;
    case EADDRNOTAVAIL: return PF_WSAEADDRNOTAVAIL;
    case ENETDOWN: return PF_WSAENETDOWN;
    case ENETUNREACH: return PF_WSAENETUNREACH;
    case ENETRESET: return PF_WSAENETRESET;
    case ECONNABORTED: return PF_WSAECONNABORTED;
    case ECONNRESET: case EPIPE: return PF_WSAECONNRESET;
    case ENOBUFS: case ENOMEM: return PF_WSAENOBUFS;
    case ENOTCONN: return PF_WSAENOTCONN;
    case ESHUTDOWN: return PF_WSAESHUTDOWN;
    case ETIMEDOUT: return PF_WSAETIMEDOUT;
    case ECONNREFUSED: return PF_WSAECONNREFUSED;
    case EHOSTUNREACH: case EHOSTDOWN: return PF_WSAEHOSTUNREACH;
    default: return PF_WSAEINVAL;
    }
}

static void _SetError(int* pnRetError, int nError)
{
    if (pnRetError)
        *pnRetError = nError;
}

// Waits for the events within the time left until ullDeadline. Returns 1
// when ready, 0 on time-out (error 10060), -1 on a poll failure.
static int _WaitFor(Pf_Socket hSocket, short nEvents, uint64_t ullDeadline, int* pnRetError)
{
    for (;;) {
        uint64_t ullNow = Pf_GetMonotonicMs();
        if (ullNow >= ullDeadline) {
            _SetError(pnRetError, PF_WSAETIMEDOUT);
            return 0;
        }
        uint64_t ullLeft = ullDeadline - ullNow;
        struct pollfd pfd;
        pfd.fd = hSocket;
        pfd.events = nEvents;
        pfd.revents = 0;
        int nRet = poll(&pfd, 1, ullLeft > 0x7FFFFFFF ? 0x7FFFFFFF : (int)ullLeft);
        if (nRet > 0)
            return 1;
        if (nRet < 0 && errno != EINTR) {
            _SetError(pnRetError, Pf_SocketErrorFromErrno(errno));
            return -1;
        }
    }
}

static uint64_t _Deadline(int nTimeoutMs)
{
    return Pf_GetMonotonicMs() + (uint64_t)(nTimeoutMs > 0 ? nTimeoutMs : 0);
}

int Pf_SocketCreate(Pf_Socket* phRetSocket, int* pnRetError)
{
    int nOne = 1;
    int hSocket = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (hSocket < 0) {
        _SetError(pnRetError, Pf_SocketErrorFromErrno(errno));
        return 0;
    }
    if (setsockopt(hSocket, SOL_SOCKET, SO_REUSEADDR, &nOne, sizeof(nOne)) != 0) {
        _SetError(pnRetError, Pf_SocketErrorFromErrno(errno));
        close(hSocket);
        return 0;
    }
    *phRetSocket = hSocket;
    return 1;
}

void Pf_SocketClose(Pf_Socket hSocket)
{
    if (hSocket >= 0)
        close(hSocket);
}

void Pf_SocketShutdown(Pf_Socket hSocket)
{
    if (hSocket >= 0)
        shutdown(hSocket, SHUT_RDWR);
}

int Pf_SocketConnect(Pf_Socket hSocket, uint32_t uAddress, int nPort, int nTimeoutMs, int* pnRetError)
{
    struct sockaddr_in addr;
    memset(&addr, 0, sizeof(addr));
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = uAddress;
    addr.sin_port = htons((uint16_t)nPort);
    if (nPort <= 0 || nPort > 65535) {
        _SetError(pnRetError, PF_WSAEADDRNOTAVAIL);
        return 0;
    }
    if (connect(hSocket, (struct sockaddr*)&addr, sizeof(addr)) == 0)
        return 1;
    if (errno != EINPROGRESS && errno != EINTR) {
        _SetError(pnRetError, Pf_SocketErrorFromErrno(errno));
        return 0;
    }
    if (_WaitFor(hSocket, POLLOUT, _Deadline(nTimeoutMs), pnRetError) <= 0)
        return 0;
    int nSoError = 0;
    socklen_t uLen = sizeof(nSoError);
    if (getsockopt(hSocket, SOL_SOCKET, SO_ERROR, &nSoError, &uLen) != 0) {
        _SetError(pnRetError, Pf_SocketErrorFromErrno(errno));
        return 0;
    }
    if (nSoError != 0) {
        _SetError(pnRetError, Pf_SocketErrorFromErrno(nSoError));
        return 0;
    }
    return 1;
}

int Pf_SocketSend(Pf_Socket hSocket, const void* pvData, int nLength, int nTimeoutMs, int* pnRetError)
{
    const char* pcData = (const char*)pvData;
    int nSent = 0;
    while (nSent < nLength) {
        ssize_t nRet = send(hSocket, pcData + nSent, (size_t)(nLength - nSent), MSG_NOSIGNAL);
        if (nRet > 0) {
            nSent += (int)nRet;
            continue;
        }
        if (nRet < 0 && errno == EINTR)
            continue;
        if (nRet < 0 && errno != EAGAIN) {
            _SetError(pnRetError, Pf_SocketErrorFromErrno(errno));
            break;
        }
        if (_WaitFor(hSocket, POLLOUT, _Deadline(nTimeoutMs), pnRetError) <= 0)
            break;
    }
    return nSent;
}

int Pf_SocketRecv(Pf_Socket hSocket, void* pvBuffer, int nLength, int nTimeoutMs, int* pnRetError)
{
    uint64_t ullDeadline = _Deadline(nTimeoutMs);
    if (nLength <= 0) {
        _SetError(pnRetError, PF_WSAEINVAL);
        return -1;
    }
    for (;;) {
        ssize_t nRet = recv(hSocket, pvBuffer, (size_t)nLength, 0);
        if (nRet >= 0)
            return (int)nRet;
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN) {
            _SetError(pnRetError, Pf_SocketErrorFromErrno(errno));
            return -1;
        }
        if (_WaitFor(hSocket, POLLIN, ullDeadline, pnRetError) <= 0)
            return -1;
    }
}

uint32_t Pf_ParseIPv4(const char* cszHost)
{
    struct in_addr addr;
    if (!cszHost || inet_pton(AF_INET, cszHost, &addr) != 1)
        return PF_INADDR_NONE;
    return addr.s_addr;
}

namespace {
// What a lookup thread and its caller share; the last one to leave frees it.
struct _Lookup {
    std::mutex mutex;
    std::condition_variable done;
    int bDone = 0;
    uint32_t uAddress = PF_INADDR_NONE;
    std::string strHost;
};
}

static void _LookupThread(std::shared_ptr<_Lookup> pLookup)
{
    struct addrinfo hints;
    struct addrinfo* pResult = nullptr;
    uint32_t uAddress = PF_INADDR_NONE;
    memset(&hints, 0, sizeof(hints));
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    if (getaddrinfo(pLookup->strHost.c_str(), nullptr, &hints, &pResult) == 0) {
        for (struct addrinfo* p = pResult; p; p = p->ai_next) {
            if (p->ai_family == AF_INET && p->ai_addr) {
                uAddress = ((struct sockaddr_in*)p->ai_addr)->sin_addr.s_addr;
                break;
            }
        }
        freeaddrinfo(pResult);
    }
    std::lock_guard<std::mutex> lock(pLookup->mutex);
    pLookup->uAddress = uAddress;
    pLookup->bDone = 1;
    pLookup->done.notify_all();
}

uint32_t Pf_ResolveHostIPv4(const char* cszHost, int nTimeoutMs, int* pnRetError)
{
    uint32_t uAddress = PF_INADDR_NONE;
    if (!cszHost || !cszHost[0]) {
        _SetError(pnRetError, PF_WSAHOST_NOT_FOUND);
        return PF_INADDR_NONE;
    }
    uAddress = Pf_ParseIPv4(cszHost);
    if (uAddress != PF_INADDR_NONE)
        return uAddress;

    auto pLookup = std::make_shared<_Lookup>();
    pLookup->strHost = cszHost;
    try {
        std::thread(_LookupThread, pLookup).detach();
    } catch (...) {
        _SetError(pnRetError, PF_WSAENOBUFS);
        return PF_INADDR_NONE;
    }
    std::unique_lock<std::mutex> lock(pLookup->mutex);
    if (!pLookup->done.wait_for(lock, std::chrono::milliseconds(nTimeoutMs > 0 ? nTimeoutMs : 0),
                                [&] { return pLookup->bDone != 0; })) {
        _SetError(pnRetError, PF_WSAETIMEDOUT);
        return PF_INADDR_NONE;
    }
    if (pLookup->uAddress == PF_INADDR_NONE)
        _SetError(pnRetError, PF_WSAHOST_NOT_FOUND);
    return pLookup->uAddress;
}
