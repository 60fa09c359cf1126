// A real nginx on loopback for tests: one instance per test, configured by a
// file written into the test's folder (free port on 127.0.0.1, pid, error and
// access logs beside it), started in the foreground and stopped at the end.
#pragma once
#include <string>
#include <sys/types.h>
#include <vector>

class Rv_TestNginx {
public:
    // strRoot: the folder served; strWorkDir: where the configuration and logs go.
    // strServerLines: extra lines inside the server block (locations, returns).
    Rv_TestNginx(const std::string& strRoot, const std::string& strWorkDir, const std::string& strServerLines = "");
    ~Rv_TestNginx();
    Rv_TestNginx(const Rv_TestNginx&) = delete;
    Rv_TestNginx& operator=(const Rv_TestNginx&) = delete;

    // Starts nginx and waits until it accepts connections; false when nginx
    // is missing or does not come up.
    bool Start();
    void Stop();
    int Port() const { return m_nPort; }
    std::string Url(const std::string& strPath) const;
    // Access log lines, each "<request line>|<status>|<Range header>|<body bytes sent>".
    // Waits up to uTimeoutMs for at least nAtLeast lines.
    std::vector<std::string> AccessLog(size_t nAtLeast = 0, unsigned uTimeoutMs = 2000) const;

private:
    std::string m_strRoot;
    std::string m_strWorkDir;
    std::string m_strServerLines;
    int m_nPort = 0;
    pid_t m_Pid = -1;
};
