// The web-client library: a session (agent, proxy use, time-outs), requests
// opened on it (GET of a URL with extra headers, or a request with a verb, a
// body and an HTTP version), status and Content-Length queries, pull-style
// reads of the decoded body, abort from another thread and a stop shared by
// several transfers, both of which end a transfer at once; and the URL
// download straight into a file, with a bound on its size.
//
// Redirects are followed, except by requests that send a body: for those
// the redirect is the answer. Nothing is cached. A read fills the buffer unless
// the body ends; a body cut short (connection lost, time-out) makes a read
// fail, never look like its end.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

enum {
    PF_WEB_ACCESS_PRECONFIG = 0,    // the environment's proxy settings
    PF_WEB_ACCESS_DIRECT = 1,       // no proxy
};

// Error numbers of the web-client library (what GetLastError gives).
enum {
    PF_WEB_ERROR_TIMEOUT = 12002,
    PF_WEB_ERROR_INTERNAL = 12004,
    PF_WEB_ERROR_INVALID_URL = 12005,
    PF_WEB_ERROR_NAME_NOT_RESOLVED = 12007,
    PF_WEB_ERROR_OPERATION_CANCELLED = 12017,
    PF_WEB_ERROR_INCORRECT_HANDLE_STATE = 12019,
    PF_WEB_ERROR_CANNOT_CONNECT = 12029,
    PF_WEB_ERROR_CONNECTION_ABORTED = 12030,
    PF_WEB_ERROR_CONNECTION_RESET = 12031,
    PF_WEB_ERROR_HEADER_NOT_FOUND = 12150,
};

// Results of the URL download.
enum : uint32_t {
    PF_URLDL_S_OK = 0,
    PF_URLDL_E_ABORT = 0x80004004u,
    PF_URLDL_E_FAIL = 0x80004005u,
    PF_URLDL_E_RESOURCE_NOT_FOUND = 0x800C0005u,
    PF_URLDL_E_DOWNLOAD_FAILURE = 0x800C0008u,
};

// The last error of a web-client call on this thread.
int Pf_WebGetLastError();

// Asked from time to time while a transfer runs; a non-zero answer stops it.
typedef int (*Pf_WebAbortCheck)(void* pvContext);

struct Pf_WebStopState;

// A stop for the transfers it is given to: Stop, from any thread, ends each
// of them at once, whether it waits for the answer, for body bytes or for
// its reader; transfers started later end at once too, until Reset.
class Pf_WebStop {
public:
    Pf_WebStop();
    ~Pf_WebStop();
    Pf_WebStop(const Pf_WebStop&) = delete;
    Pf_WebStop& operator=(const Pf_WebStop&) = delete;
    void Stop();
    void Reset();
    int IsStopped() const;
    std::shared_ptr<Pf_WebStopState> State() const { return m_pState; }

private:
    std::shared_ptr<Pf_WebStopState> m_pState;
};

class Pf_WebSession {
public:
    // The agent text and PF_WEB_ACCESS_*. Fails for an unknown access type.
    int Open(const std::string& strAgent, int nAccessType);
    int IsOpen() const { return m_bOpen; }
    void SetReceiveTimeout(uint32_t uMs) { m_uReceiveTimeoutMs = uMs; }
    void SetSendTimeout(uint32_t uMs) { m_uSendTimeoutMs = uMs; }
    void SetConnectTimeout(uint32_t uMs) { m_uConnectTimeoutMs = uMs; }
    // Requests opened on the session ask pfnShouldAbort(pvContext) while they
    // wait for the answer and while the body arrives; a non-zero answer
    // aborts them as Pf_WebRequest::Abort does.
    void SetAbortCheck(Pf_WebAbortCheck pfnShouldAbort, void* pvContext)
    {
        m_pfnShouldAbort = pfnShouldAbort;
        m_pvAbortContext = pvContext;
    }
    // Requests opened on the session end at once when pStop is stopped
    // (nullptr: none). The stop outlives the requests.
    void SetStop(const Pf_WebStop* pStop) { m_pStop = pStop; }
    const Pf_WebStop* Stop() const { return m_pStop; }
    int ShouldAbort() const
    {
        return (m_pStop && m_pStop->IsStopped()) || (m_pfnShouldAbort && m_pfnShouldAbort(m_pvAbortContext));
    }
    Pf_WebAbortCheck AbortCheck() const { return m_pfnShouldAbort; }
    void* AbortContext() const { return m_pvAbortContext; }

    const std::string& Agent() const { return m_strAgent; }
    int AccessType() const { return m_nAccessType; }
    uint32_t ReceiveTimeoutMs() const { return m_uReceiveTimeoutMs; }
    uint32_t SendTimeoutMs() const { return m_uSendTimeoutMs; }
    uint32_t ConnectTimeoutMs() const { return m_uConnectTimeoutMs; }

private:
    std::string m_strAgent;
    int m_nAccessType = PF_WEB_ACCESS_PRECONFIG;
    int m_bOpen = 0;
    uint32_t m_uReceiveTimeoutMs = 60000;
    uint32_t m_uSendTimeoutMs = 60000;
    uint32_t m_uConnectTimeoutMs = 60000;
    Pf_WebAbortCheck m_pfnShouldAbort = nullptr;
    void* m_pvAbortContext = nullptr;
    const Pf_WebStop* m_pStop = nullptr;
};

struct Pf_WebTransfer;

class Pf_WebRequest {
public:
    Pf_WebRequest();
    ~Pf_WebRequest();               // aborts and closes
    Pf_WebRequest(const Pf_WebRequest&) = delete;
    Pf_WebRequest& operator=(const Pf_WebRequest&) = delete;

    // GET strUrl. strHeaders: extra request header lines, each ending in
    // CRLF (an empty line ends them). Returns once the answer's headers are
    // in (any status), 0 when no answer came.
    int OpenUrl(const Pf_WebSession& session, const std::string& strUrl, const std::string& strHeaders);
    // Sends strVerb to strUrl with the given HTTP version ("HTTP/1.0" or
    // "HTTP/1.1"), extra header lines and body; waits for the answer's headers.
    int SendRequest(const Pf_WebSession& session, const std::string& strVerb, const std::string& strUrl,
                    const std::string& strVersion, const std::string& strHeaders, const std::string& strBody);

    // The final answer's status code.
    int QueryStatusCode(uint32_t* puRetStatus);
    // The final answer's Content-Length; fails when the header is missing
    // (chunked or close-delimited bodies) or not a number within 32 bits.
    int QueryContentLength(uint32_t* puRetLength);
    // Reads up to uSize bytes of the decoded body; *puRetRead < uSize only at
    // the end of the body (0 when it has ended). Fails when the body is cut
    // short, the receive time-out passes or the request was aborted.
    int Read(void* pvBuffer, uint32_t uSize, uint32_t* puRetRead);
    // Stops the transfer from any thread; a waiting or later read fails.
    void Abort();
    void Close();

private:
    int _Start(const Pf_WebSession& session, const std::string& strVerb, const std::string& strUrl,
               const std::string& strVersion, const std::string& strHeaders, const std::string* pstrBody);

    std::shared_ptr<Pf_WebTransfer> m_pTransfer;
};

// pfnShouldAbort is asked as for a session, and pStop ends it as it ends a
// session's requests. Downloads strUrl (redirects followed, the environment's
// proxy settings, nothing cached) into strFileName, replacing it. A body of
// more than ullMaxBytes bytes (0: no bound) is stopped when it passes the
// bound, or at once when its announced length does. Returns PF_URLDL_S_OK or
// a failure code (an HTTP error status fails). A failed download may leave a
// partial file for the caller to remove.
uint32_t Pf_UrlDownloadToFile(const std::string& strUrl, const std::string& strFileName,
                              Pf_WebAbortCheck pfnShouldAbort = nullptr, void* pvContext = nullptr,
                              const Pf_WebStop* pStop = nullptr, uint64_t ullMaxBytes = 0);
