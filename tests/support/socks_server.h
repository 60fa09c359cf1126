// A scripted SOCKS4, SOCKS4A and SOCKS5 proxy for tests: it knows host names
// that the client cannot look up (the test gives them), records every
// request as it came, connects to the target and relays both ways. Beside
// the real proxy of proxy.h, for what that one cannot show: a request that
// carries a host name.
#pragma once
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct Rv_TestSocksRequest {
    int nVersion = 0;           // 4 (SOCKS4 or SOCKS4A) or 5
    std::vector<int> vecMethods;  // SOCKS5: the methods offered
    std::string strHost;        // the host name asked for; "" for an address
    uint32_t uAddress = 0;      // the IPv4 address asked for, network order
    int nPort = 0;
    std::string strUserId;      // SOCKS4 and SOCKS4A
};

class Rv_TestSocksServer {
public:
    Rv_TestSocksServer() = default;
    ~Rv_TestSocksServer();
    Rv_TestSocksServer(const Rv_TestSocksServer&) = delete;
    Rv_TestSocksServer& operator=(const Rv_TestSocksServer&) = delete;

    // A name the proxy resolves to a dotted IPv4 address; others fail.
    void AddName(const std::string& strName, const std::string& strAddress);
    // The SOCKS5 method chosen when no authentication is offered (0), e.g. 255.
    void SetMethod(int nMethod) { m_nMethod = nMethod; }
    // Binds 127.0.0.1 port 0 and starts accepting; throws on failure.
    void Start();
    void Stop();
    int Port() const { return m_nPort; }
    std::vector<Rv_TestSocksRequest> Requests() const;

private:
    void _AcceptLoop();
    void _Serve(int nFd);
    bool _Read(int nFd, void* pvBuffer, size_t uSize);
    bool _ReadText(int nFd, std::string* pstrRetText);
    int _ConnectTarget(const Rv_TestSocksRequest& request);
    void _Relay(int nClientFd, int nTargetFd);

    int m_nListenFd = -1;
    int m_nPort = 0;
    std::atomic<int> m_nMethod{0};
    std::atomic<bool> m_bStop{false};
    std::thread m_AcceptThread;
    mutable std::mutex m_Mutex;
    std::map<std::string, std::string> m_mapNames;
    std::vector<Rv_TestSocksRequest> m_vecRequests;
    std::vector<int> m_vecFds;
    std::vector<std::thread> m_vecThreads;
};
