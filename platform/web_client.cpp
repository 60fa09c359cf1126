// The web-client library over libcurl. Each request runs its transfer on a
// worker thread that feeds a bounded queue; the caller's reads take from it,
// so reading is pull-style and the worker waits while the queue is full.
#include "platform/web_client.h"
#include "platform/file.h"

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <curl/curl.h>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

namespace {

const size_t s_uQueueCap = 1024 * 1024;
const long s_nMaxRedirects = 20;
const char s_szAllowedProtocols[] = "http,https";

thread_local int t_nLastError = 0;

void GlobalInit()
{
    static std::once_flag s_Once;
    std::call_once(s_Once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

int ErrorOfCurl(CURLcode nCode, bool bAborted)
{
    if (bAborted)
        return PF_WEB_ERROR_OPERATION_CANCELLED;
    switch (nCode) {
    case CURLE_OK: return 0;
    case CURLE_OPERATION_TIMEDOUT: return PF_WEB_ERROR_TIMEOUT;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY: return PF_WEB_ERROR_NAME_NOT_RESOLVED;
    case CURLE_COULDNT_CONNECT: return PF_WEB_ERROR_CANNOT_CONNECT;
    case CURLE_URL_MALFORMAT:
    case CURLE_UNSUPPORTED_PROTOCOL: return PF_WEB_ERROR_INVALID_URL;
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR: return PF_WEB_ERROR_CONNECTION_RESET;
    case CURLE_PARTIAL_FILE:
    case CURLE_GOT_NOTHING: return PF_WEB_ERROR_CONNECTION_ABORTED;
    case CURLE_ABORTED_BY_CALLBACK: return PF_WEB_ERROR_OPERATION_CANCELLED;
    default: return PF_WEB_ERROR_INTERNAL;
    }
}

// Splits "A: b\r\nC: d\r\n\r\n" into header lines.
curl_slist* HeaderList(const std::string& strHeaders, bool bNoCache)
{
    curl_slist* pList = nullptr;
    size_t uPos = 0;
    while (uPos < strHeaders.size()) {
        size_t uEnd = strHeaders.find('\n', uPos);
        if (uEnd == std::string::npos)
            uEnd = strHeaders.size();
        std::string strLine = strHeaders.substr(uPos, uEnd - uPos);
        if (!strLine.empty() && strLine.back() == '\r')
            strLine.pop_back();
        uPos = uEnd + 1;
        if (!strLine.empty())
            pList = curl_slist_append(pList, strLine.c_str());
    }
    if (bNoCache) {
        pList = curl_slist_append(pList, "Pragma: no-cache");
        pList = curl_slist_append(pList, "Cache-Control: no-cache");
    }
    pList = curl_slist_append(pList, "Expect:");     // the body goes at once, no interim answer
    return pList;
}

bool StartsWithNoCase(const char* pchLine, size_t uSize, const char* cszPrefix)
{
    size_t uLen = strlen(cszPrefix);
    return uSize >= uLen && strncasecmp(pchLine, cszPrefix, uLen) == 0;
}

// Applies what every transfer shares: agent, proxy use, time-outs, redirects.
void SetCommonOptions(CURL* pCurl, const std::string& strAgent, int nAccessType, uint32_t uConnectMs,
                      uint32_t uStallMs)
{
    curl_easy_setopt(pCurl, CURLOPT_NOSIGNAL, 1L);
    if (!strAgent.empty())
        curl_easy_setopt(pCurl, CURLOPT_USERAGENT, strAgent.c_str());
    if (nAccessType == PF_WEB_ACCESS_DIRECT)
        curl_easy_setopt(pCurl, CURLOPT_PROXY, "");     // no proxy, whatever the environment says
    curl_easy_setopt(pCurl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(pCurl, CURLOPT_MAXREDIRS, s_nMaxRedirects);
    curl_easy_setopt(pCurl, CURLOPT_PROTOCOLS_STR, s_szAllowedProtocols);
    curl_easy_setopt(pCurl, CURLOPT_REDIR_PROTOCOLS_STR, s_szAllowedProtocols);
    curl_easy_setopt(pCurl, CURLOPT_CONNECTTIMEOUT_MS, (long)(uConnectMs ? uConnectMs : 60000));
    // A transfer that moves nothing for the time-out fails.
    long nStallSeconds = (long)((uStallMs ? uStallMs : 60000) + 999) / 1000;
    curl_easy_setopt(pCurl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(pCurl, CURLOPT_LOW_SPEED_TIME, nStallSeconds);
}

// Runs pCurl on pMulti until the transfer ends or fnStopped() holds. The
// wait between passes is woken at once by curl_multi_wakeup, so a stop does
// not wait for the transfer's next callback; curl's own time-outs bound it.
CURLcode PerformWoken(CURLM* pMulti, CURL* pCurl, const std::function<bool()>& fnStopped)
{
    CURLcode nResult = CURLE_OK;
    int nRunning = 0;

    if (!pMulti || curl_multi_add_handle(pMulti, pCurl) != CURLM_OK)
        return CURLE_FAILED_INIT;
    for (;;) {
        if (fnStopped()) {
            nResult = CURLE_ABORTED_BY_CALLBACK;
            break;
        }
        if (curl_multi_perform(pMulti, &nRunning) != CURLM_OK) {
            nResult = CURLE_FAILED_INIT;
            break;
        }
        if (nRunning == 0) {
            int nLeft = 0;
            CURLMsg* pMessage = nullptr;
            nResult = CURLE_GOT_NOTHING;
            while ((pMessage = curl_multi_info_read(pMulti, &nLeft)) != nullptr) {
                if (pMessage->msg == CURLMSG_DONE && pMessage->easy_handle == pCurl)
                    nResult = pMessage->data.result;
            }
            break;
        }
        if (curl_multi_poll(pMulti, nullptr, 0, 1000, nullptr) != CURLM_OK) {
            nResult = CURLE_FAILED_INIT;
            break;
        }
    }
    curl_multi_remove_handle(pMulti, pCurl);
    return nResult;
}

}  // namespace

// What a Pf_WebStop shares with the transfers it was given to.
struct Pf_WebStopState {
    std::mutex Mutex;
    std::atomic<bool> bStopped{false};      // read without the lock: abort checks ask it
    uint64_t ullNextId = 1;
    std::map<uint64_t, std::function<void()>> mapTargets;     // called by Stop, under Mutex
};

namespace {

// Keeps fnOnStop registered with a stop while it lives; it is called at once
// when the stop is already set. Ending the registration waits for a call in
// progress, so the target may go away right after.
class StopRegistration {
public:
    StopRegistration(const Pf_WebStop* pStop, std::function<void()> fnOnStop)
    {
        if (!pStop)
            return;
        m_pState = pStop->State();
        std::lock_guard<std::mutex> lock(m_pState->Mutex);
        m_ullId = m_pState->ullNextId++;
        m_pState->mapTargets[m_ullId] = fnOnStop;
        if (m_pState->bStopped)
            fnOnStop();
    }
    ~StopRegistration() { End(); }
    StopRegistration(const StopRegistration&) = delete;
    StopRegistration& operator=(const StopRegistration&) = delete;
    void End()
    {
        if (!m_pState)
            return;
        std::lock_guard<std::mutex> lock(m_pState->Mutex);
        m_pState->mapTargets.erase(m_ullId);
        m_pState.reset();
    }

private:
    std::shared_ptr<Pf_WebStopState> m_pState;
    uint64_t m_ullId = 0;
};

}  // namespace

Pf_WebStop::Pf_WebStop() : m_pState(std::make_shared<Pf_WebStopState>()) {}

Pf_WebStop::~Pf_WebStop() = default;

void Pf_WebStop::Stop()
{
    m_pState->bStopped = true;
    std::lock_guard<std::mutex> lock(m_pState->Mutex);
    for (auto& target : m_pState->mapTargets)
        target.second();
}

void Pf_WebStop::Reset()
{
    m_pState->bStopped = false;
}

int Pf_WebStop::IsStopped() const
{
    return m_pState->bStopped;
}

int Pf_WebGetLastError()
{
    return t_nLastError;
}

int Pf_WebSession::Open(const std::string& strAgent, int nAccessType)
{
    if (nAccessType != PF_WEB_ACCESS_PRECONFIG && nAccessType != PF_WEB_ACCESS_DIRECT) {
        t_nLastError = PF_WEB_ERROR_INTERNAL;
        return 0;
    }
    GlobalInit();
    m_strAgent = strAgent;
    m_nAccessType = nAccessType;
    m_bOpen = 1;
    return 1;
}

struct Pf_WebTransfer {
    CURL* pCurl = nullptr;
    CURLM* pMulti = nullptr;        // runs pCurl, so that an abort can wake it
    curl_slist* pHeaders = nullptr;
    std::string strBody;            // what a request sends
    uint32_t uReceiveTimeoutMs = 60000;
    Pf_WebAbortCheck pfnShouldAbort = nullptr;     // the session's, asked by the worker
    void* pvAbortContext = nullptr;

    std::mutex Mutex;
    std::condition_variable Changed;
    std::string strQueue;           // received body bytes not yet read, from uQueueHead
    size_t uQueueHead = 0;
    bool bHeadersDone = false;
    bool bFinished = false;
    bool bAbort = false;
    CURLcode nResult = CURLE_OK;
    long nStatus = 0;
    bool bLengthKnown = false;
    uint64_t ullLength = 0;

    // A request that sends a body takes a redirect as its answer.
    bool bFollowRedirects = true;
    // Of the answer whose headers are arriving.
    bool bLocationSeen = false;
    bool bChunked = false;
    std::string strLength;

    std::thread Worker;
    std::unique_ptr<StopRegistration> pStopRegistration;    // the session's stop, if any

    ~Pf_WebTransfer()
    {
        if (pStopRegistration)
            pStopRegistration->End();
        Abort();
        if (Worker.joinable())
            Worker.join();
        if (pMulti)
            curl_multi_cleanup(pMulti);
        if (pCurl)
            curl_easy_cleanup(pCurl);
        curl_slist_free_all(pHeaders);
    }

    // Ends the transfer at once: readers and a worker waiting for its
    // reader wake up, and so does the worker's wait for the network.
    void Abort()
    {
        {
            std::lock_guard<std::mutex> lock(Mutex);
            bAbort = true;
        }
        Changed.notify_all();
        if (pMulti)
            curl_multi_wakeup(pMulti);
    }

    size_t Available() const { return strQueue.size() - uQueueHead; }

    void MarkHeadersDone()
    {
        if (bHeadersDone)
            return;
        bHeadersDone = true;
        curl_easy_getinfo(pCurl, CURLINFO_RESPONSE_CODE, &nStatus);
        bLengthKnown = false;
        if (!bChunked && !strLength.empty() && strLength.size() <= 10 &&
            strLength.find_first_not_of("0123456789") == std::string::npos) {
            ullLength = strtoull(strLength.c_str(), nullptr, 10);
            bLengthKnown = ullLength <= 0xFFFFFFFFull;
        }
    }

    static size_t OnHeader(char* pchData, size_t uSize, size_t uCount, void* pvThis)
    {
        Pf_WebTransfer* pThis = (Pf_WebTransfer*)pvThis;
        size_t uLen = uSize * uCount;
        std::lock_guard<std::mutex> lock(pThis->Mutex);
        if (pThis->bAbort)
            return 0;
        if (StartsWithNoCase(pchData, uLen, "HTTP/")) {
            pThis->bLocationSeen = false;
            pThis->bChunked = false;
            pThis->strLength.clear();
        } else if (StartsWithNoCase(pchData, uLen, "location:")) {
            pThis->bLocationSeen = true;
        } else if (StartsWithNoCase(pchData, uLen, "content-length:")) {
            std::string strValue(pchData + 15, uLen - 15);
            size_t uBegin = strValue.find_first_not_of(" \t");
            size_t uEnd = strValue.find_last_not_of(" \t\r\n");
            pThis->strLength = uBegin == std::string::npos ? "" : strValue.substr(uBegin, uEnd - uBegin + 1);
        } else if (StartsWithNoCase(pchData, uLen, "transfer-encoding:")) {
            std::string strValue(pchData, uLen);
            for (char& c : strValue)
                c = (char)tolower((unsigned char)c);
            pThis->bChunked = strValue.find("chunked") != std::string::npos;
        } else if ((uLen == 2 && pchData[0] == '\r') || (uLen == 1 && pchData[0] == '\n')) {
            long nCode = 0;
            curl_easy_getinfo(pThis->pCurl, CURLINFO_RESPONSE_CODE, &nCode);
            bool bRedirect = pThis->bFollowRedirects && pThis->bLocationSeen && (nCode == 301 || nCode == 302 || nCode == 303 ||
                                                      nCode == 307 || nCode == 308);
            if (nCode >= 200 && !bRedirect) {
                pThis->MarkHeadersDone();
                pThis->Changed.notify_all();
            }
        }
        return uLen;
    }

    static size_t OnWrite(char* pchData, size_t uSize, size_t uCount, void* pvThis)
    {
        Pf_WebTransfer* pThis = (Pf_WebTransfer*)pvThis;
        size_t uLen = uSize * uCount;
        std::unique_lock<std::mutex> lock(pThis->Mutex);
        pThis->MarkHeadersDone();
        pThis->Changed.notify_all();
        pThis->Changed.wait(lock, [&] { return pThis->bAbort || pThis->Available() < s_uQueueCap; });
        if (pThis->bAbort)
            return 0;
        if (pThis->uQueueHead > 0 && pThis->uQueueHead == pThis->strQueue.size()) {
            pThis->strQueue.clear();
            pThis->uQueueHead = 0;
        } else if (pThis->uQueueHead > s_uQueueCap) {
            pThis->strQueue.erase(0, pThis->uQueueHead);
            pThis->uQueueHead = 0;
        }
        pThis->strQueue.append(pchData, uLen);
        pThis->Changed.notify_all();
        return uLen;
    }

    // The check is asked without the lock: it may stop the session's stop.
    static int OnProgress(void* pvThis, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
    {
        Pf_WebTransfer* pThis = (Pf_WebTransfer*)pvThis;
        {
            std::lock_guard<std::mutex> lock(pThis->Mutex);
            if (pThis->bAbort)
                return 1;
        }
        if (pThis->pfnShouldAbort && pThis->pfnShouldAbort(pThis->pvAbortContext))
            pThis->Abort();
        std::lock_guard<std::mutex> lock(pThis->Mutex);
        return pThis->bAbort ? 1 : 0;
    }

    void Run()
    {
        CURLcode nCode = PerformWoken(pMulti, pCurl, [this] {
            std::lock_guard<std::mutex> lock(Mutex);
            return bAbort;
        });
        std::lock_guard<std::mutex> lock(Mutex);
        nResult = nCode;
        if (nCode == CURLE_OK)
            MarkHeadersDone();
        bFinished = true;
        Changed.notify_all();
    }
};

Pf_WebRequest::Pf_WebRequest() = default;

Pf_WebRequest::~Pf_WebRequest()
{
    Close();
}

int Pf_WebRequest::_Start(const Pf_WebSession& session, const std::string& strVerb, const std::string& strUrl,
                          const std::string& strVersion, const std::string& strHeaders, const std::string* pstrBody)
{
    std::shared_ptr<Pf_WebTransfer> pTransfer;
    bool bPost = pstrBody != nullptr;
    uint32_t uStallMs = session.ReceiveTimeoutMs();
    bool bGot = false;

    Close();
    if (!session.IsOpen()) {
        t_nLastError = PF_WEB_ERROR_INCORRECT_HANDLE_STATE;
        return 0;
    }
    pTransfer = std::make_shared<Pf_WebTransfer>();
    pTransfer->pCurl = curl_easy_init();
    if (!pTransfer->pCurl) {
        t_nLastError = PF_WEB_ERROR_INTERNAL;
        return 0;
    }
    pTransfer->pMulti = curl_multi_init();
    if (!pTransfer->pMulti) {
        t_nLastError = PF_WEB_ERROR_INTERNAL;
        return 0;
    }
    CURL* pCurl = pTransfer->pCurl;
    if (bPost)
        uStallMs = std::max(session.SendTimeoutMs(), session.ReceiveTimeoutMs());
    SetCommonOptions(pCurl, session.Agent(), session.AccessType(), session.ConnectTimeoutMs(), uStallMs);
    pTransfer->uReceiveTimeoutMs = uStallMs ? uStallMs : 60000;
    pTransfer->pfnShouldAbort = session.AbortCheck();
    pTransfer->pvAbortContext = session.AbortContext();
    curl_easy_setopt(pCurl, CURLOPT_URL, strUrl.c_str());
    pTransfer->pHeaders = HeaderList(strHeaders, !bPost);
    curl_easy_setopt(pCurl, CURLOPT_HTTPHEADER, pTransfer->pHeaders);
    curl_easy_setopt(pCurl, CURLOPT_HTTP_VERSION,
                     strVersion == "HTTP/1.0" ? (long)CURL_HTTP_VERSION_1_0 : (long)CURL_HTTP_VERSION_1_1);
    if (bPost) {
        // Following would send the request again elsewhere without its body
        // (and with a Content-Length that no longer holds).
        pTransfer->bFollowRedirects = false;
        curl_easy_setopt(pCurl, CURLOPT_FOLLOWLOCATION, 0L);
        pTransfer->strBody = *pstrBody;
        curl_easy_setopt(pCurl, CURLOPT_POST, 1L);
        curl_easy_setopt(pCurl, CURLOPT_POSTFIELDS, pTransfer->strBody.data());
        curl_easy_setopt(pCurl, CURLOPT_POSTFIELDSIZE_LARGE, (curl_off_t)pTransfer->strBody.size());
        if (strVerb != "POST")
            curl_easy_setopt(pCurl, CURLOPT_CUSTOMREQUEST, strVerb.c_str());
    } else if (strVerb == "HEAD") {
        curl_easy_setopt(pCurl, CURLOPT_NOBODY, 1L);
    } else if (strVerb != "GET") {
        curl_easy_setopt(pCurl, CURLOPT_CUSTOMREQUEST, strVerb.c_str());
    }
    curl_easy_setopt(pCurl, CURLOPT_HEADERFUNCTION, &Pf_WebTransfer::OnHeader);
    curl_easy_setopt(pCurl, CURLOPT_HEADERDATA, pTransfer.get());
    curl_easy_setopt(pCurl, CURLOPT_WRITEFUNCTION, &Pf_WebTransfer::OnWrite);
    curl_easy_setopt(pCurl, CURLOPT_WRITEDATA, pTransfer.get());
    curl_easy_setopt(pCurl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(pCurl, CURLOPT_XFERINFOFUNCTION, &Pf_WebTransfer::OnProgress);
    curl_easy_setopt(pCurl, CURLOPT_XFERINFODATA, pTransfer.get());

    pTransfer->pStopRegistration =
        std::make_unique<StopRegistration>(session.Stop(), [p = pTransfer.get()] { p->Abort(); });
    pTransfer->Worker = std::thread([p = pTransfer.get()] { p->Run(); });
    {
        // curl's own time-outs end the worker; the wait's limit is a backstop.
        std::unique_lock<std::mutex> lock(pTransfer->Mutex);
        uint64_t ullLimitMs = (uint64_t)session.ConnectTimeoutMs() + pTransfer->uReceiveTimeoutMs + 5000;
        bGot = pTransfer->Changed.wait_for(lock, std::chrono::milliseconds(ullLimitMs), [&] {
            return pTransfer->bHeadersDone || pTransfer->bFinished || pTransfer->bAbort;
        });
        if (!bGot) {
            t_nLastError = PF_WEB_ERROR_TIMEOUT;
            return 0;               // the transfer is aborted as it goes out of scope
        }
        if (!pTransfer->bHeadersDone) {
            t_nLastError = ErrorOfCurl(pTransfer->nResult, pTransfer->bAbort);
            return 0;
        }
    }
    m_pTransfer = pTransfer;
    return 1;
}

int Pf_WebRequest::OpenUrl(const Pf_WebSession& session, const std::string& strUrl, const std::string& strHeaders)
{
    return _Start(session, "GET", strUrl, "HTTP/1.1", strHeaders, nullptr);
}

int Pf_WebRequest::SendRequest(const Pf_WebSession& session, const std::string& strVerb, const std::string& strUrl,
                               const std::string& strVersion, const std::string& strHeaders,
                               const std::string& strBody)
{
    return _Start(session, strVerb, strUrl, strVersion, strHeaders, &strBody);
}

int Pf_WebRequest::QueryStatusCode(uint32_t* puRetStatus)
{
    if (!m_pTransfer || !puRetStatus) {
        t_nLastError = PF_WEB_ERROR_INCORRECT_HANDLE_STATE;
        return 0;
    }
    std::lock_guard<std::mutex> lock(m_pTransfer->Mutex);
    *puRetStatus = (uint32_t)m_pTransfer->nStatus;
    return 1;
}

int Pf_WebRequest::QueryContentLength(uint32_t* puRetLength)
{
    if (!m_pTransfer || !puRetLength) {
        t_nLastError = PF_WEB_ERROR_INCORRECT_HANDLE_STATE;
        return 0;
    }
    std::lock_guard<std::mutex> lock(m_pTransfer->Mutex);
    if (!m_pTransfer->bLengthKnown) {
        t_nLastError = PF_WEB_ERROR_HEADER_NOT_FOUND;
        return 0;
    }
    *puRetLength = (uint32_t)m_pTransfer->ullLength;
    return 1;
}

int Pf_WebRequest::Read(void* pvBuffer, uint32_t uSize, uint32_t* puRetRead)
{
    Pf_WebTransfer* pTransfer = m_pTransfer.get();
    uint32_t uDone = 0;
    if (!pTransfer || !puRetRead || (!pvBuffer && uSize)) {
        t_nLastError = PF_WEB_ERROR_INCORRECT_HANDLE_STATE;
        return 0;
    }
    *puRetRead = 0;
    std::unique_lock<std::mutex> lock(pTransfer->Mutex);
    while (uDone < uSize) {
        bool bReady = pTransfer->Changed.wait_for(
            lock, std::chrono::milliseconds((uint64_t)pTransfer->uReceiveTimeoutMs + 5000),
            [&] { return pTransfer->bAbort || pTransfer->Available() > 0 || pTransfer->bFinished; });
        if (pTransfer->bAbort) {
            t_nLastError = PF_WEB_ERROR_OPERATION_CANCELLED;
            return 0;
        }
        if (!bReady) {
            t_nLastError = PF_WEB_ERROR_TIMEOUT;
            return 0;
        }
        size_t uTake = std::min<size_t>(pTransfer->Available(), uSize - uDone);
        if (uTake > 0) {
            memcpy((char*)pvBuffer + uDone, pTransfer->strQueue.data() + pTransfer->uQueueHead, uTake);
            pTransfer->uQueueHead += uTake;
            uDone += (uint32_t)uTake;
            pTransfer->Changed.notify_all();
            continue;
        }
        // Nothing queued and the transfer has ended.
        if (pTransfer->nResult != CURLE_OK) {
            t_nLastError = ErrorOfCurl(pTransfer->nResult, false);
            return 0;
        }
        break;
    }
    *puRetRead = uDone;
    return 1;
}

void Pf_WebRequest::Abort()
{
    std::shared_ptr<Pf_WebTransfer> pTransfer = m_pTransfer;
    if (pTransfer)
        pTransfer->Abort();
}

void Pf_WebRequest::Close()
{
    m_pTransfer.reset();
}

namespace {

struct UrlDownload {
    FILE* pFile = nullptr;
    bool bWriteFailed = false;
    bool bTooLarge = false;
    bool bAborted = false;
    std::atomic<bool> bStopped{false};
    Pf_WebAbortCheck pfnShouldAbort = nullptr;
    void* pvContext = nullptr;
    uint64_t ullMaxBytes = 0;
    uint64_t ullWritten = 0;

    static size_t OnWrite(char* pchData, size_t uSize, size_t uCount, void* pvThis)
    {
        UrlDownload* pThis = (UrlDownload*)pvThis;
        size_t uLen = uSize * uCount;
        if (pThis->ullMaxBytes && pThis->ullWritten + uLen > pThis->ullMaxBytes) {
            pThis->bTooLarge = true;
            return 0;
        }
        pThis->ullWritten += uLen;
        if (fwrite(pchData, 1, uLen, pThis->pFile) != uLen) {
            pThis->bWriteFailed = true;
            return 0;
        }
        return uLen;
    }

    static int OnProgress(void* pvThis, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
    {
        UrlDownload* pThis = (UrlDownload*)pvThis;
        if (pThis->pfnShouldAbort && pThis->pfnShouldAbort(pThis->pvContext))
            pThis->bAborted = true;
        return pThis->bAborted ? 1 : 0;
    }

    // Runs the transfer; pStop ends it at once.
    CURLcode Perform(CURL* pCurl, const Pf_WebStop* pStop)
    {
        CURLcode nCode = CURLE_FAILED_INIT;
        CURLM* pMulti = curl_multi_init();
        if (!pMulti)
            return nCode;
        {
            StopRegistration registration(pStop, [this, pMulti] {
                bStopped = true;
                curl_multi_wakeup(pMulti);
            });
            nCode = PerformWoken(pMulti, pCurl, [this] { return bStopped.load(); });
        }
        curl_multi_cleanup(pMulti);
        if (bStopped)
            bAborted = true;
        return nCode;
    }
};

}  // namespace

uint32_t Pf_UrlDownloadToFile(const std::string& strUrl, const std::string& strFileName,
                              Pf_WebAbortCheck pfnShouldAbort, void* pvContext, const Pf_WebStop* pStop,
                              uint64_t ullMaxBytes)
{
    UrlDownload download;
    CURL* pCurl = nullptr;
    CURLcode nCode = CURLE_OK;
    long nStatus = 0;
    uint32_t uResult = PF_URLDL_E_DOWNLOAD_FAILURE;
    curl_slist* pHeaders = HeaderList("", true);

    GlobalInit();
    download.pfnShouldAbort = pfnShouldAbort;
    download.pvContext = pvContext;
    download.ullMaxBytes = ullMaxBytes;
    if ((pStop && pStop->IsStopped()) || (pfnShouldAbort && pfnShouldAbort(pvContext))) {
        uResult = PF_URLDL_E_ABORT;
        goto Exit;
    }
    download.pFile = Pf_FOpen(strFileName, "wb");
    if (!download.pFile) {
        uResult = PF_URLDL_E_FAIL;
        goto Exit;
    }
    pCurl = curl_easy_init();
    if (!pCurl)
        goto Exit;
    SetCommonOptions(pCurl, "", PF_WEB_ACCESS_PRECONFIG, 60000, 60000);
    curl_easy_setopt(pCurl, CURLOPT_URL, strUrl.c_str());
    curl_easy_setopt(pCurl, CURLOPT_HTTPHEADER, pHeaders);
    curl_easy_setopt(pCurl, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(pCurl, CURLOPT_WRITEFUNCTION, &UrlDownload::OnWrite);
    curl_easy_setopt(pCurl, CURLOPT_WRITEDATA, &download);
    curl_easy_setopt(pCurl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(pCurl, CURLOPT_XFERINFOFUNCTION, &UrlDownload::OnProgress);
    curl_easy_setopt(pCurl, CURLOPT_XFERINFODATA, &download);
    if (ullMaxBytes)
        curl_easy_setopt(pCurl, CURLOPT_MAXFILESIZE_LARGE, (curl_off_t)ullMaxBytes);
    nCode = download.Perform(pCurl, pStop);
    curl_easy_getinfo(pCurl, CURLINFO_RESPONSE_CODE, &nStatus);
    if (download.bAborted)
        uResult = PF_URLDL_E_ABORT;
    else if (download.bWriteFailed)
        uResult = PF_URLDL_E_FAIL;
    else if (download.bTooLarge || nCode == CURLE_FILESIZE_EXCEEDED)
        uResult = PF_URLDL_E_DOWNLOAD_FAILURE;
    else if (nCode == CURLE_HTTP_RETURNED_ERROR && nStatus == 404)
        uResult = PF_URLDL_E_RESOURCE_NOT_FOUND;
    else if (nCode == CURLE_OK)
        uResult = PF_URLDL_S_OK;
    t_nLastError = ErrorOfCurl(nCode, download.bAborted);
Exit:
    if (download.pFile && fclose(download.pFile) != 0 && uResult == PF_URLDL_S_OK)
        uResult = PF_URLDL_E_FAIL;
    if (pCurl)
        curl_easy_cleanup(pCurl);
    curl_slist_free_all(pHeaders);
    return uResult;
}
