// Real proxies for tests: a private tinyproxy (HTTP proxy, optionally with
// Basic authentication) or danted (SOCKS4 and SOCKS5, optionally with the
// user/password method) on a free loopback port, configured by a file
// written into the test's folder, stopped at the end.
#pragma once
#include <string>
#include <sys/types.h>

class Rv_TestProxy {
public:
    enum Kind { TINYPROXY, DANTE };
    // With a user, tinyproxy asks for Basic authentication and danted for
    // the SOCKS5 user/password method (checked against the system's users).
    Rv_TestProxy(Kind kind, const std::string& strWorkDir, const std::string& strUser = "",
                 const std::string& strPassword = "");
    ~Rv_TestProxy();
    Rv_TestProxy(const Rv_TestProxy&) = delete;
    Rv_TestProxy& operator=(const Rv_TestProxy&) = delete;

    // Starts the proxy and waits until it accepts connections.
    bool Start();
    void Stop();
    int Port() const { return m_nPort; }
    // The proxy's log so far.
    std::string Log() const;

private:
    std::string _WriteConfig() const;

    Kind m_Kind;
    std::string m_strWorkDir;
    std::string m_strUser;
    std::string m_strPassword;
    int m_nPort = 0;
    pid_t m_Pid = -1;
};
