// The loopback HTTP/1.1 test server: accept loop, one thread per connection,
// request parsing, file serving with ranges, and the scripted faults.
#include "tests/support/http_server.h"
#include "tests/support/tcp_peer.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const size_t s_uMaxHead = 64 * 1024;
const size_t s_uMaxBody = 64 * 1024 * 1024;
const int s_nIdleMs = 30000;  // a connection quiet this long is closed

const char* ReasonOf(int nStatus)
{
    switch (nStatus) {
    case 100: return "Continue";
    case 200: return "OK";
    case 204: return "No Content";
    case 206: return "Partial Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 303: return "See Other";
    case 307: return "Temporary Redirect";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 416: return "Requested Range Not Satisfiable";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Status";
    }
}

std::string Lower(std::string str)
{
    for (char& c : str)
        c = (char)tolower((unsigned char)c);
    return str;
}

std::string Trim(const std::string& str)
{
    size_t uBegin = str.find_first_not_of(" \t");
    if (uBegin == std::string::npos)
        return "";
    size_t uEnd = str.find_last_not_of(" \t");
    return str.substr(uBegin, uEnd - uBegin + 1);
}

std::string HttpDate(time_t tTime)
{
    struct tm tmTime;
    char szBuffer[64];
    gmtime_r(&tTime, &tmTime);
    static const char* s_aszDay[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* s_aszMonth[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    snprintf(szBuffer, sizeof(szBuffer), "%s, %02d %s %04d %02d:%02d:%02d GMT", s_aszDay[tmTime.tm_wday],
             tmTime.tm_mday, s_aszMonth[tmTime.tm_mon], tmTime.tm_year + 1900, tmTime.tm_hour, tmTime.tm_min,
             tmTime.tm_sec);
    return szBuffer;
}

// Parses "bytes=a-b", "bytes=a-" and "bytes=-n" against a size. false when
// not a single byte range we understand (then the whole file is served).
// *pbUnsatisfiable when the range lies past the end.
bool ParseRange(const std::string& strValue, long long llSize, long long* pllFirst, long long* pllLast,
                bool* pbUnsatisfiable)
{
    *pbUnsatisfiable = false;
    std::string str = Trim(strValue);
    if (str.compare(0, 6, "bytes=") != 0 || str.find(',') != std::string::npos)
        return false;
    str = str.substr(6);
    size_t uDash = str.find('-');
    if (uDash == std::string::npos)
        return false;
    std::string strFirst = Trim(str.substr(0, uDash));
    std::string strLast = Trim(str.substr(uDash + 1));
    auto IsNumber = [](const std::string& s) {
        return !s.empty() && s.size() < 19 && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    if (strFirst.empty()) {
        if (!IsNumber(strLast))
            return false;
        long long llSuffix = atoll(strLast.c_str());
        if (llSuffix == 0) {
            *pbUnsatisfiable = true;
            return true;
        }
        *pllFirst = std::max(0LL, llSize - llSuffix);
        *pllLast = llSize - 1;
    } else {
        if (!IsNumber(strFirst) || (!strLast.empty() && !IsNumber(strLast)))
            return false;
        *pllFirst = atoll(strFirst.c_str());
        *pllLast = strLast.empty() ? llSize - 1 : std::min(atoll(strLast.c_str()), llSize - 1);
        if (!strLast.empty() && atoll(strLast.c_str()) < *pllFirst)
            return false;
    }
    if (*pllFirst >= llSize)
        *pbUnsatisfiable = true;
    return true;
}

}  // namespace

std::string Rv_TestHttpRequest::Header(const std::string& strName) const
{
    for (const auto& header : vecHeaders)
        if (strcasecmp(header.first.c_str(), strName.c_str()) == 0)
            return header.second;
    return "";
}

bool Rv_TestHttpRequest::HasHeader(const std::string& strName) const
{
    for (const auto& header : vecHeaders)
        if (strcasecmp(header.first.c_str(), strName.c_str()) == 0)
            return true;
    return false;
}

Rv_TestHttpServer::Rv_TestHttpServer(const std::string& strRoot) : m_strRoot(strRoot)
{
}

Rv_TestHttpServer::~Rv_TestHttpServer()
{
    Stop();
}

void Rv_TestHttpServer::Start()
{
    m_nListenFd = Rv_TestListenOnLoopback(64, &m_nPort);
    m_bStop = false;
    m_AcceptThread = std::thread([this] { _AcceptLoop(); });
}

void Rv_TestHttpServer::Stop()
{
    std::vector<std::thread> vecThreads;
    m_bStop = true;
    m_Changed.notify_all();
    if (m_AcceptThread.joinable())
        m_AcceptThread.join();
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        for (int nFd : m_vecConnFds)
            shutdown(nFd, SHUT_RDWR);
        vecThreads.swap(m_vecThreads);
    }
    for (std::thread& thread : vecThreads)
        thread.join();
    if (m_nListenFd >= 0) {
        close(m_nListenFd);
        m_nListenFd = -1;
    }
}

std::string Rv_TestHttpServer::Url(const std::string& strPath) const
{
    return "http://" + HostPort() + strPath;
}

std::string Rv_TestHttpServer::HostPort() const
{
    return "127.0.0.1:" + std::to_string(m_nPort);
}

void Rv_TestHttpServer::SetFault(const std::string& strPath, const Rv_TestHttpFault& fault)
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_mapFaults[strPath] = fault;
}

void Rv_TestHttpServer::ClearFaults()
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_mapFaults.clear();
}

std::vector<Rv_TestHttpRequest> Rv_TestHttpServer::Requests() const
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_vecRequests;
}

std::vector<Rv_TestHttpRequest> Rv_TestHttpServer::RequestsFor(const std::string& strPath) const
{
    std::vector<Rv_TestHttpRequest> vecResult;
    std::lock_guard<std::mutex> lock(m_Mutex);
    for (const Rv_TestHttpRequest& request : m_vecRequests)
        if (request.strPath == strPath)
            vecResult.push_back(request);
    return vecResult;
}

bool Rv_TestHttpServer::WaitForRequests(size_t nCount, unsigned uTimeoutMs) const
{
    std::unique_lock<std::mutex> lock(m_Mutex);
    return m_Changed.wait_for(lock, std::chrono::milliseconds(uTimeoutMs),
                              [&] { return m_vecRequests.size() >= nCount; });
}

bool Rv_TestHttpServer::_TakeFault(const std::string& strPath, Rv_TestHttpFault* pFault)
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    auto it = m_mapFaults.find(strPath);
    if (it == m_mapFaults.end()) {
        // A key ending in '*' stands for every path that begins with the rest.
        for (it = m_mapFaults.begin(); it != m_mapFaults.end(); ++it) {
            const std::string& strKey = it->first;
            if (!strKey.empty() && strKey.back() == '*' && strPath.compare(0, strKey.size() - 1, strKey, 0,
                                                                           strKey.size() - 1) == 0)
                break;
        }
    }
    if (it == m_mapFaults.end() || it->second.nTimes == 0)
        return false;
    *pFault = it->second;
    if (it->second.nTimes > 0)
        --it->second.nTimes;
    return true;
}

void Rv_TestHttpServer::ReleaseHeld()
{
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_bReleased = true;
    }
    m_Changed.notify_all();
}

bool Rv_TestHttpServer::_WaitReleased()
{
    std::unique_lock<std::mutex> lock(m_Mutex);
    // Stop sets its flag without the lock: look again now and then.
    while (!m_bReleased && !m_bStop)
        m_Changed.wait_for(lock, std::chrono::milliseconds(50));
    return !m_bStop;
}

bool Rv_TestHttpServer::_Sleep(unsigned uMs)
{
    std::unique_lock<std::mutex> lock(m_Mutex);
    m_Changed.wait_for(lock, std::chrono::milliseconds(uMs), [&] { return m_bStop.load(); });
    return !m_bStop;
}

void Rv_TestHttpServer::_AcceptLoop()
{
    while (!m_bStop) {
        struct pollfd pfd = {m_nListenFd, POLLIN, 0};
        int nReady = poll(&pfd, 1, 50);
        if (nReady <= 0)
            continue;
        int nFd = accept4(m_nListenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (nFd < 0)
            continue;
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_vecConnFds.push_back(nFd);
        m_vecThreads.emplace_back([this, nFd] { _Serve(nFd); });
    }
}

void Rv_TestHttpServer::_Serve(int nFd)
{
    std::string strBuffer;
    bool bKeepOpen = true;
    while (bKeepOpen && !m_bStop) {
        Rv_TestHttpRequest request;
        size_t uHeadEnd = std::string::npos;
        int nIdleMs = 0;
        bool bClosed = false;
        while ((uHeadEnd = strBuffer.find("\r\n\r\n")) == std::string::npos) {
            if (strBuffer.size() > s_uMaxHead || m_bStop || nIdleMs >= s_nIdleMs) {
                bClosed = true;
                break;
            }
            struct pollfd pfd = {nFd, POLLIN, 0};
            int nReady = poll(&pfd, 1, 100);
            if (nReady == 0) {
                nIdleMs += 100;
                continue;
            }
            char achRead[16384];
            ssize_t nRead = recv(nFd, achRead, sizeof(achRead), 0);
            if (nRead < 0 && errno == EINTR)
                continue;
            if (nRead <= 0) {
                bClosed = true;
                break;
            }
            strBuffer.append(achRead, (size_t)nRead);
        }
        if (bClosed)
            break;

        request.strHead = strBuffer.substr(0, uHeadEnd + 4);
        strBuffer.erase(0, uHeadEnd + 4);
        size_t uLineEnd = request.strHead.find("\r\n");
        request.strRequestLine = request.strHead.substr(0, uLineEnd);
        size_t uPos = uLineEnd + 2;
        while (uPos < uHeadEnd + 2) {
            size_t uEnd = request.strHead.find("\r\n", uPos);
            std::string strLine = request.strHead.substr(uPos, uEnd - uPos);
            uPos = uEnd + 2;
            size_t uColon = strLine.find(':');
            if (uColon == std::string::npos)
                continue;
            request.vecHeaders.emplace_back(Trim(strLine.substr(0, uColon)), Trim(strLine.substr(uColon + 1)));
        }
        size_t uSpace1 = request.strRequestLine.find(' ');
        size_t uSpace2 = request.strRequestLine.find(' ', uSpace1 == std::string::npos ? 0 : uSpace1 + 1);
        if (uSpace1 == std::string::npos || uSpace2 == std::string::npos) {
            Rv_TestSendAll(nFd, "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
            break;
        }
        request.strMethod = request.strRequestLine.substr(0, uSpace1);
        request.strTarget = request.strRequestLine.substr(uSpace1 + 1, uSpace2 - uSpace1 - 1);
        request.strPath = request.strTarget.substr(0, request.strTarget.find('?'));
        if (request.strPath.compare(0, 7, "http://") == 0) {  // absolute form, as sent to a proxy
            size_t uSlash = request.strPath.find('/', 7);
            request.strPath = uSlash == std::string::npos ? "/" : request.strPath.substr(uSlash);
        }

        if (Lower(request.Header("Expect")) == "100-continue")
            Rv_TestSendAll(nFd, "HTTP/1.1 100 Continue\r\n\r\n");
        std::string strLength = request.Header("Content-Length");
        size_t uBodySize = strLength.empty() ? 0 : (size_t)strtoull(strLength.c_str(), nullptr, 10);
        if (uBodySize > s_uMaxBody)
            break;
        nIdleMs = 0;
        while (strBuffer.size() < uBodySize && !m_bStop && nIdleMs < s_nIdleMs) {
            struct pollfd pfd = {nFd, POLLIN, 0};
            if (poll(&pfd, 1, 100) == 0) {
                nIdleMs += 100;
                continue;
            }
            char achRead[16384];
            ssize_t nRead = recv(nFd, achRead, sizeof(achRead), 0);
            if (nRead < 0 && errno == EINTR)
                continue;
            if (nRead <= 0)
                break;
            strBuffer.append(achRead, (size_t)nRead);
        }
        request.strBody = strBuffer.substr(0, std::min(uBodySize, strBuffer.size()));
        strBuffer.erase(0, request.strBody.size());
        {
            std::lock_guard<std::mutex> lock(m_Mutex);
            m_vecRequests.push_back(request);
        }
        m_Changed.notify_all();
        if (request.strBody.size() < uBodySize)
            break;
        if (!_Answer(nFd, request, &bKeepOpen))
            break;
        if (Lower(request.Header("Connection")) == "close")
            break;
    }
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_vecConnFds.erase(std::remove(m_vecConnFds.begin(), m_vecConnFds.end(), nFd), m_vecConnFds.end());
    close(nFd);
}

bool Rv_TestHttpServer::_Answer(int nFd, const Rv_TestHttpRequest& request, bool* pbKeepOpen)
{
    Rv_TestHttpFault fault;
    bool bHead = request.strMethod == "HEAD";
    int nStatus = 200;
    std::string strHeaders;
    std::string strBody;            // a body held in memory ...
    int nFileFd = -1;               // ... or a range of this file
    long long llOffset = 0;
    long long llLength = 0;
    bool bOk = true;

    _TakeFault(request.strPath, &fault);
    if (fault.uDelayMs > 0 && !_Sleep(fault.uDelayMs))
        return false;
    if (fault.bHold && !_WaitReleased())
        return false;

    if (!fault.strLocation.empty()) {
        nStatus = fault.nStatus ? fault.nStatus : 302;
        strHeaders += "Location: " + fault.strLocation + "\r\n";
        strBody = fault.strBody;
        llLength = (long long)strBody.size();
    } else if (fault.nStatus) {
        nStatus = fault.nStatus;
        strBody = fault.strBody;
        llLength = (long long)strBody.size();
    } else {
        const std::string& strPath = fault.strServePath.empty() ? request.strPath : fault.strServePath;
        std::string strFile = m_strRoot + strPath;
        struct stat st;
        if (strPath.find("..") != std::string::npos || stat(strFile.c_str(), &st) != 0 ||
            !S_ISREG(st.st_mode) || (nFileFd = open(strFile.c_str(), O_RDONLY | O_CLOEXEC)) < 0) {
            nStatus = 404;
            strBody = "<html><body>404 Not Found</body></html>";
            llLength = (long long)strBody.size();
        } else {
            long long llFirst = 0;
            long long llLast = 0;
            bool bUnsatisfiable = false;
            strHeaders += "Last-Modified: " + HttpDate(st.st_mtime) + "\r\n";
            strHeaders += "Accept-Ranges: bytes\r\n";
            llLength = st.st_size;
            if (!fault.bIgnoreRange && request.HasHeader("Range") &&
                ParseRange(request.Header("Range"), st.st_size, &llFirst, &llLast, &bUnsatisfiable)) {
                if (bUnsatisfiable) {
                    nStatus = 416;
                    close(nFileFd);
                    nFileFd = -1;
                    strHeaders += "Content-Range: bytes */" + std::to_string((long long)st.st_size) + "\r\n";
                    llLength = 0;
                } else {
                    nStatus = 206;
                    if (fault.llRangeStartServed >= 0)
                        llFirst = std::min(fault.llRangeStartServed, llLast);
                    llOffset = llFirst;
                    llLength = llLast - llFirst + 1;
                    strHeaders += "Content-Range: bytes " + std::to_string(llFirst) + "-" + std::to_string(llLast) +
                                  "/" + std::to_string((long long)st.st_size) + "\r\n";
                }
            }
        }
    }

    std::string strHead = "HTTP/1.1 " + std::to_string(nStatus) + " " + ReasonOf(nStatus) + "\r\n";
    strHead += "Server: rv-test\r\nDate: " + HttpDate(time(nullptr)) + "\r\n";
    strHead += strHeaders;
    for (const std::string& strLine : fault.vecExtraHeaders)
        strHead += strLine + "\r\n";
    if (fault.bChunked)
        strHead += "Transfer-Encoding: chunked\r\n";
    else if (!fault.bNoContentLength)
        strHead += "Content-Length: " + std::to_string(llLength) + "\r\n";
    if (fault.bNoContentLength || fault.llDropAfter >= 0) {
        strHead += "Connection: close\r\n";
        *pbKeepOpen = false;
    }
    strHead += "\r\n";
    if (!Rv_TestSendAll(nFd, strHead))
        bOk = false;

    long long llLimit = fault.llDropAfter >= 0 ? std::min(fault.llDropAfter, llLength) : llLength;
    if (fault.llStallAfter >= 0)
        llLimit = std::min(fault.llStallAfter, llLimit);
    long long llSent = 0;
    unsigned uChunk = fault.bChunked ? std::max(1u, fault.uChunkSize) : 65536;
    while (bOk && !bHead && llSent < llLimit && !m_bStop) {
        std::string strPiece;
        if (fault.uPieceDelayMs > 0 && !_Sleep(fault.uPieceDelayMs))
            break;
        size_t uWant = (size_t)std::min<long long>(uChunk, llLimit - llSent);
        if (fault.llHoldAfter >= 0 && llSent == fault.llHoldAfter && !_WaitReleased())
            break;
        if (fault.llHoldAfter > llSent && llSent + (long long)uWant > fault.llHoldAfter)
            uWant = (size_t)(fault.llHoldAfter - llSent);
        if (fault.llTrickleAfter >= 0 && llSent + (long long)uWant > fault.llTrickleAfter) {
            if (llSent >= fault.llTrickleAfter) {
                uWant = 1;
                if (!_Sleep(20))
                    break;
            } else {
                uWant = (size_t)(fault.llTrickleAfter - llSent);
            }
        }
        if (nFileFd >= 0) {
            strPiece.resize(uWant);
            ssize_t nRead = pread(nFileFd, strPiece.data(), uWant, llOffset + llSent);
            if (nRead <= 0) {
                bOk = false;
                break;
            }
            strPiece.resize((size_t)nRead);
        } else {
            strPiece = strBody.substr((size_t)llSent, uWant);
        }
        if (fault.bChunked) {
            char szSize[32];
            snprintf(szSize, sizeof(szSize), "%zx\r\n", strPiece.size());
            strPiece = szSize + strPiece + "\r\n";
            bOk = Rv_TestSendAll(nFd, strPiece);
            llSent += (long long)(strPiece.size() - strlen(szSize) - 2);
        } else {
            bOk = Rv_TestSendAll(nFd, strPiece);
            llSent += (long long)strPiece.size();
        }
    }
    if (nFileFd >= 0)
        close(nFileFd);
    if (!bOk || m_bStop)
        return false;
    if (fault.llStallAfter >= 0 && fault.llStallAfter < llLength && !bHead) {
        // Silent until the client gives up and closes (or the server stops).
        while (!m_bStop) {
            struct pollfd pfd = {nFd, POLLIN, 0};
            char achRead[4096];
            if (poll(&pfd, 1, 50) > 0 && recv(nFd, achRead, sizeof(achRead), 0) <= 0)
                break;
        }
        return false;
    }
    if (fault.llDropAfter >= 0 && fault.llDropAfter < llLength && !bHead) {
        if (fault.bReset) {
            struct linger lingerReset = {1, 0};
            setsockopt(nFd, SOL_SOCKET, SO_LINGER, &lingerReset, sizeof(lingerReset));
        }
        return false;               // drop: close without the rest
    }
    if (fault.bChunked && !bHead && !Rv_TestSendAll(nFd, "0\r\n\r\n"))
        return false;
    return *pbKeepOpen;
}
