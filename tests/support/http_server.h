// A loopback HTTP/1.1 server for tests: serves a folder (GET and HEAD, Range
// with 206, Last-Modified), keeps a log of every request, and plays scripted
// faults per path (a status, a dropped connection, a delay, a body without
// Content-Length, a chunked body, a redirect, a Range ignored or answered
// from the wrong byte, a body that stalls, a body held part way).
//
// One server per test, on 127.0.0.1 with a port chosen by the system; each
// connection is served on its own thread; Stop (or the destructor) closes
// everything and joins the threads.
#pragma once
#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

// What the server does for one path instead of (or while) serving the file.
struct Rv_TestHttpFault {
    int nStatus = 0;                    // answer this status with strBody (0: serve the file)
    std::string strBody;                // body of a status answer
    std::string strLocation;            // redirect: Location header (status 302 unless nStatus)
    long long llDropAfter = -1;         // close the connection after this many body bytes
    bool bReset = false;                // drop with a reset instead of an orderly close
    unsigned uDelayMs = 0;              // wait before the answer (cut short by Stop)
    bool bHold = false;                 // wait before the answer until ReleaseHeld (or Stop)
    long long llTrickleAfter = -1;      // after this many body bytes, one byte every 20 ms
    long long llHoldAfter = -1;         // after this many body bytes, wait until ReleaseHeld (or Stop)
    unsigned uPieceDelayMs = 0;         // wait before each piece of the body (64 KiB, or one chunk)
    bool bNoContentLength = false;      // no Content-Length: the close ends the body
    bool bChunked = false;              // Transfer-Encoding: chunked
    bool bIgnoreRange = false;          // answer 200 with the whole file even to a Range request
    long long llRangeStartServed = -1;  // answer a Range request with 206 from this byte, whatever was asked
    long long llStallAfter = -1;        // after this many body bytes send nothing more, until the client closes
    unsigned uChunkSize = 1000;         // size of each chunk of a chunked body
    std::vector<std::string> vecExtraHeaders;  // whole lines without CRLF, e.g. "X-A: b"
    std::string strServePath;           // serve this file of the folder instead of the requested one
    int nTimes = -1;                    // requests it applies to; -1 always, then plain serving
};

// One request as received.
struct Rv_TestHttpRequest {
    std::string strMethod;
    std::string strTarget;              // as on the request line (path and query)
    std::string strPath;                // the target without its query
    std::string strRequestLine;         // without CRLF
    std::string strHead;                // request line and headers, byte for byte, with the blank line
    std::vector<std::pair<std::string, std::string>> vecHeaders;
    std::string strBody;
    // The value of the first header of this name (any case); "" when absent.
    std::string Header(const std::string& strName) const;
    bool HasHeader(const std::string& strName) const;
};

class Rv_TestHttpServer {
public:
    explicit Rv_TestHttpServer(const std::string& strRoot);
    ~Rv_TestHttpServer();
    Rv_TestHttpServer(const Rv_TestHttpServer&) = delete;
    Rv_TestHttpServer& operator=(const Rv_TestHttpServer&) = delete;

    // Binds 127.0.0.1 port 0 and starts accepting; throws on failure.
    void Start();
    void Stop();
    int Port() const { return m_nPort; }
    // "http://127.0.0.1:<port>" + strPath.
    std::string Url(const std::string& strPath) const;
    // "127.0.0.1:<port>".
    std::string HostPort() const;

    // strPath as on the request line without the query ("/a/b.bin"); a path
    // ending in '*' matches every path that begins with the rest (an exact
    // path goes first).
    void SetFault(const std::string& strPath, const Rv_TestHttpFault& fault);
    void ClearFaults();
    // Ends every hold, present and future.
    void ReleaseHeld();

    std::vector<Rv_TestHttpRequest> Requests() const;
    // Requests of one path only.
    std::vector<Rv_TestHttpRequest> RequestsFor(const std::string& strPath) const;
    // Waits up to uTimeoutMs until at least nCount requests were logged.
    bool WaitForRequests(size_t nCount, unsigned uTimeoutMs) const;

private:
    void _AcceptLoop();
    void _Serve(int nFd);
    bool _Answer(int nFd, const Rv_TestHttpRequest& request, bool* pbKeepOpen);
    bool _TakeFault(const std::string& strPath, Rv_TestHttpFault* pFault);
    bool _Sleep(unsigned uMs);
    bool _WaitReleased();

    std::string m_strRoot;
    int m_nListenFd = -1;
    int m_nPort = 0;
    std::atomic<bool> m_bStop{false};
    std::thread m_AcceptThread;

    mutable std::mutex m_Mutex;
    mutable std::condition_variable m_Changed;
    std::map<std::string, Rv_TestHttpFault> m_mapFaults;
    std::vector<Rv_TestHttpRequest> m_vecRequests;
    bool m_bReleased = false;
    std::vector<int> m_vecConnFds;
    std::vector<std::thread> m_vecThreads;
};
