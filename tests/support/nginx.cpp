// Starting and stopping a private nginx for a test, and reading its access log.
#include "tests/support/nginx.h"
#include "tests/support/daemon.h"

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
        m_nPort = Rv_TestFreeLoopbackPort();
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
        // An exit means the port was taken or nginx is missing: try again.
        if (Rv_TestWaitListening(&m_Pid, m_nPort))
            return true;
        Stop();
    }
    return false;
}

void Rv_TestNginx::Stop()
{
    Rv_TestStopDaemon(&m_Pid);
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
