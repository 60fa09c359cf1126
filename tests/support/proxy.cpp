// Starting and stopping a private tinyproxy or danted for a test.
#include "tests/support/proxy.h"
#include "tests/support/temp_dir.h"

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fstream>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

// A loopback port free now (bound once by the system and released), or 0.
static int _PickPort()
{
    struct sockaddr_in addr;
    socklen_t nLen = sizeof(addr);
    int nPort = 0;
    int nFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    memset(&addr, 0, sizeof(addr));
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (nFd >= 0) {
        if (bind(nFd, (struct sockaddr*)&addr, sizeof(addr)) == 0 &&
            getsockname(nFd, (struct sockaddr*)&addr, &nLen) == 0)
            nPort = ntohs(addr.sin_port);
        close(nFd);
    }
    return nPort;
}

static bool _Listening(int nPort)
{
    struct sockaddr_in addr;
    bool bOk = false;
    int nFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    memset(&addr, 0, sizeof(addr));
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons((uint16_t)nPort);
    if (nFd >= 0) {
        bOk = connect(nFd, (struct sockaddr*)&addr, sizeof(addr)) == 0;
        close(nFd);
    }
    return bOk;
}

Rv_TestProxy::Rv_TestProxy(Kind kind, const std::string& strWorkDir, const std::string& strUser,
                           const std::string& strPassword)
    : m_Kind(kind), m_strWorkDir(strWorkDir), m_strUser(strUser), m_strPassword(strPassword)
{
}

Rv_TestProxy::~Rv_TestProxy()
{
    Stop();
}

std::string Rv_TestProxy::_WriteConfig() const
{
    std::string strConf = m_strWorkDir + (m_Kind == TINYPROXY ? "/tinyproxy.conf" : "/danted.conf");
    std::ofstream conf(strConf);
    if (m_Kind == TINYPROXY) {
        conf << "Port " << m_nPort << "\n"
             << "Listen 127.0.0.1\n"
             << "Timeout 30\n"
             << "MaxClients 50\n"
             << "Allow 127.0.0.1\n"
             << "LogFile \"" << m_strWorkDir << "/proxy.log\"\n"
             << "LogLevel Info\n"
             << "PidFile \"" << m_strWorkDir << "/proxy.pid\"\n";
        if (geteuid() == 0)
            conf << "User root\nGroup root\n";
        if (!m_strUser.empty())
            conf << "BasicAuth " << m_strUser << " " << m_strPassword << "\n";
    } else {
        conf << "logoutput: " << m_strWorkDir << "/proxy.log\n"
             << "internal: 127.0.0.1 port = " << m_nPort << "\n"
             << "external: 127.0.0.1\n"
             << "socksmethod: " << (m_strUser.empty() ? "none" : "username") << "\n"
             << "clientmethod: none\n";
        if (geteuid() == 0)
            conf << "user.privileged: root\nuser.unprivileged: root\n";
        conf << "client pass {\n  from: 127.0.0.0/8 to: 0.0.0.0/0\n}\n"
             << "socks pass {\n  from: 127.0.0.0/8 to: 0.0.0.0/0\n  command: connect\n  log: connect error\n}\n";
    }
    return strConf;
}

bool Rv_TestProxy::Start()
{
    const char* cszProgram = m_Kind == TINYPROXY ? "tinyproxy" : "danted";
    for (int nTry = 0; nTry < 5; ++nTry) {
        m_nPort = _PickPort();
        if (m_nPort == 0)
            return false;
        std::string strConf = _WriteConfig();
        std::string strPid = m_strWorkDir + "/proxy.pid";
        std::string strOut = m_strWorkDir + "/proxy.out";
        pid_t pid = fork();
        if (pid < 0)
            return false;
        if (pid == 0) {
            FILE* pOut = freopen(strOut.c_str(), "a", stdout);
            (void)pOut;
            dup2(1, 2);
            if (m_Kind == TINYPROXY)
                execlp(cszProgram, cszProgram, "-d", "-c", strConf.c_str(), (char*)nullptr);
            else
                execlp(cszProgram, cszProgram, "-f", strConf.c_str(), "-p", strPid.c_str(), (char*)nullptr);
            _exit(127);
        }
        m_Pid = pid;
        for (int nWait = 0; nWait < 200; ++nWait) {
            int nStatus = 0;
            if (waitpid(m_Pid, &nStatus, WNOHANG) == m_Pid) {
                m_Pid = -1;
                break;
            }
            if (_Listening(m_nPort))
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
        Stop();
    }
    return false;
}

void Rv_TestProxy::Stop()
{
    if (m_Pid <= 0)
        return;
    kill(m_Pid, SIGTERM);
    for (int nWait = 0; nWait < 200; ++nWait) {
        int nStatus = 0;
        if (waitpid(m_Pid, &nStatus, WNOHANG) == m_Pid) {
            m_Pid = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(m_Pid, SIGKILL);
    waitpid(m_Pid, nullptr, 0);
    m_Pid = -1;
}

std::string Rv_TestProxy::Log() const
{
    return Rv_TestReadFile(m_strWorkDir + "/proxy.log");
}
