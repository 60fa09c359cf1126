// Private servers started by tests (see daemon.h).
#include "tests/support/daemon.h"

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

sockaddr_in _Loopback(int nPort)
{
    sockaddr_in addr;
    memset(&addr, 0, sizeof(addr));
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons((uint16_t)nPort);
    return addr;
}

// True when the child has ended; it is reaped and *pPid becomes -1.
bool _Reaped(pid_t* pPid)
{
    int nStatus = 0;
    if (waitpid(*pPid, &nStatus, WNOHANG) != *pPid)
        return false;
    *pPid = -1;
    return true;
}

} // namespace

int Rv_TestFreeLoopbackPort()
{
    sockaddr_in addr = _Loopback(0);
    socklen_t nLen = sizeof(addr);
    int nPort = 0;
    int nFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (nFd < 0)
        return 0;
    if (bind(nFd, (struct sockaddr*)&addr, sizeof(addr)) == 0 && getsockname(nFd, (struct sockaddr*)&addr, &nLen) == 0)
        nPort = ntohs(addr.sin_port);
    close(nFd);
    return nPort;
}

bool Rv_TestCanConnect(int nPort)
{
    sockaddr_in addr = _Loopback(nPort);
    bool bOk = false;
    int nFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (nFd < 0)
        return false;
    bOk = connect(nFd, (struct sockaddr*)&addr, sizeof(addr)) == 0;
    close(nFd);
    return bOk;
}

bool Rv_TestWaitListening(pid_t* pPid, int nPort)
{
    for (int nWait = 0; nWait < 200; ++nWait) {
        if (_Reaped(pPid))
            return false;
        if (Rv_TestCanConnect(nPort))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return false;
}

void Rv_TestStopDaemon(pid_t* pPid)
{
    if (*pPid <= 0)
        return;
    kill(*pPid, SIGTERM);
    for (int nWait = 0; nWait < 400; ++nWait) {
        if (_Reaped(pPid))
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(*pPid, SIGKILL);
    waitpid(*pPid, nullptr, 0);
    *pPid = -1;
}
