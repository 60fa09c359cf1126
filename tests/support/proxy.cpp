// Starting and stopping a private tinyproxy or danted for a test.
#include "tests/support/proxy.h"
#include "tests/support/daemon.h"
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
        m_nPort = Rv_TestFreeLoopbackPort();
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
        if (Rv_TestWaitListening(&m_Pid, m_nPort))
            return true;
        Stop();
    }
    return false;
}

void Rv_TestProxy::Stop()
{
    Rv_TestStopDaemon(&m_Pid);
}

std::string Rv_TestProxy::Log() const
{
    return Rv_TestReadFile(m_strWorkDir + "/proxy.log");
}
