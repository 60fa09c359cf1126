// Starting and stopping a private nginx for a test, and reading its access log.
#include "tests/support/nginx.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fstream>
#include <netinet/in.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

int FreeLoopbackPort()
{
    struct sockaddr_in addr;
    socklen_t nLen = sizeof(addr);
    int nPort = 0;
    int nFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (nFd < 0)
        return 0;
    memset(&addr, 0, sizeof(addr));
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(nFd, (struct sockaddr*)&addr, sizeof(addr)) == 0 && getsockname(nFd, (struct sockaddr*)&addr, &nLen) == 0)
        nPort = ntohs(addr.sin_port);
    close(nFd);
    return nPort;
}

bool CanConnect(int nPort)
{
    struct sockaddr_in addr;
    int nFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    bool bOk = false;
    if (nFd < 0)
        return false;
    memset(&addr, 0, sizeof(addr));
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons((uint16_t)nPort);
    bOk = connect(nFd, (struct sockaddr*)&addr, sizeof(addr)) == 0;
    close(nFd);
    return bOk;
}

}  // namespace

Rv_TestNginx::Rv_TestNginx(const std::string& strRoot, const std::string& strWorkDir, const std::string& strServerLines)
    : m_strRoot(strRoot), m_strWorkDir(strWorkDir), m_strServerLines(strServerLines)
{
}

Rv_TestNginx::~Rv_TestNginx()
{
    Stop();
}

bool Rv_TestNginx::Start()
{
    const char* cszNginx = access("/usr/sbin/nginx", X_OK) == 0 ? "/usr/sbin/nginx" : "nginx";
    for (int nTry = 0; nTry < 5; ++nTry) {
        m_nPort = FreeLoopbackPort();
        if (m_nPort == 0)
            return false;
        std::string strConf = m_strWorkDir + "/nginx.conf";
        std::ofstream conf(strConf);
        if (geteuid() == 0)
            conf << "user root root;\n";   // the test folders are private to their owner
        conf << "worker_processes 1;\n"
             << "pid " << m_strWorkDir << "/nginx.pid;\n"
             << "error_log " << m_strWorkDir << "/nginx-error.log info;\n"
             << "events { worker_connections 256; }\n"
             << "http {\n"
             << "  log_format rvtest '$request|$status|$http_range|$body_bytes_sent';\n"
             << "  access_log " << m_strWorkDir << "/nginx-access.log rvtest;\n"
             << "  client_body_temp_path " << m_strWorkDir << "/nginx-body;\n"
             << "  proxy_temp_path " << m_strWorkDir << "/nginx-proxy;\n"
             << "  fastcgi_temp_path " << m_strWorkDir << "/nginx-fastcgi;\n"
             << "  uwsgi_temp_path " << m_strWorkDir << "/nginx-uwsgi;\n"
             << "  scgi_temp_path " << m_strWorkDir << "/nginx-scgi;\n"
             << "  default_type application/octet-stream;\n"
             << "  sendfile on;\n"
             << "  server {\n"
             << "    listen 127.0.0.1:" << m_nPort << ";\n"
             << "    root " << m_strRoot << ";\n"
             << m_strServerLines << "\n"
             << "  }\n"
             << "}\n";
        conf.close();
        std::string strErrorLog = m_strWorkDir + "/nginx-error.log";
        pid_t pid = fork();
        if (pid < 0)
            return false;
        if (pid == 0) {
            execlp(cszNginx, cszNginx, "-e", strErrorLog.c_str(), "-p", m_strWorkDir.c_str(), "-c", strConf.c_str(),
                   "-g", "daemon off;", (char*)nullptr);
            _exit(127);
        }
        m_Pid = pid;
        for (int nWait = 0; nWait < 200; ++nWait) {
            int nStatus = 0;
            if (waitpid(m_Pid, &nStatus, WNOHANG) == m_Pid) {
                m_Pid = -1;
                break;              // exited: port taken or nginx missing; try again
            }
            if (CanConnect(m_nPort))
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
        Stop();
    }
    return false;
}

void Rv_TestNginx::Stop()
{
    if (m_Pid <= 0)
        return;
    kill(m_Pid, SIGTERM);
    for (int nWait = 0; nWait < 400; ++nWait) {
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

std::string Rv_TestNginx::Url(const std::string& strPath) const
{
    return "http://127.0.0.1:" + std::to_string(m_nPort) + strPath;
}

std::vector<std::string> Rv_TestNginx::AccessLog(size_t nAtLeast, unsigned uTimeoutMs) const
{
    std::vector<std::string> vecLines;
    for (unsigned uWaited = 0;; uWaited += 20) {
        vecLines.clear();
        std::ifstream log(m_strWorkDir + "/nginx-access.log");
        std::string strLine;
        while (std::getline(log, strLine))
            vecLines.push_back(strLine);
        if (vecLines.size() >= nAtLeast || uWaited >= uTimeoutMs)
            return vecLines;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}
