// Background single-file download: one file fetched to a local path on a
// worker thread, trying the web-client library with the system's proxy
// settings, then without a proxy, then the URL download. The user polls the
// status and may abort by writing RV_HADSC_ERROR_ABORT into it (noticed
// within about a second) or through Abort (at once), then joins the worker
// (m_WorkTread.Wait, or the destructor).
#pragma once
#include "foundation/thread.h"
#include "platform/system_call.h"
#include "platform/web_client.h"

#include <atomic>
#include <cstdint>
#include <string>

enum RvHttpAsyncDownloadStatus {
    RV_HADSC_IDLE = 0,
    RV_HADSC_DOWNLOADING = 1,
    RV_HADSC_SUCCESS = 2,
    RV_HADSC_ERROR_UNKNOWN = 3,     // every way failed, or the worker did not start
    RV_HADSC_ERROR_ABORT = 4,       // written by the user
};

class Rv_HttpAsyncFile {
public:
    Rv_HttpAsyncFile() = default;
    ~Rv_HttpAsyncFile();            // joins the worker without time-out
    Rv_HttpAsyncFile(const Rv_HttpAsyncFile&) = delete;
    Rv_HttpAsyncFile& operator=(const Rv_HttpAsyncFile&) = delete;

    // Stores the URL and the local target (after joining a worker still held)
    // and looks up the file-size call the URL download needs. A body of more
    // than ullMaxSize bytes (0: no bound) fails the way that receives it.
    int Init(const char* cszFileURL, const char* cszFileName, uint64_t ullMaxSize = 0);
    // Joins a previous worker, sets the status to RV_HADSC_DOWNLOADING and
    // starts a new one. 0 (status raised to RV_HADSC_ERROR_UNKNOWN) when the
    // thread does not start.
    int StartDownload();
    // Writes RV_HADSC_ERROR_ABORT unless the run has ended, and stops its
    // transfer at once, whatever it waits for.
    void Abort();

    // Bytes written so far, counted across the ways of a run and not reset between them.
    int GetDownloadedBytes() const { return m_nDownloadedBytes; }
    // The Content-Length of the last answer that had one; 0 when none was read.
    int GetContentLength() const { return m_nContentLength; }

    // RvHttpAsyncDownloadStatus: 2 done, below 2 running, 3 or more failed.
    std::atomic<int> m_nStatusCode{RV_HADSC_IDLE};
    Rv_Thread m_WorkTread;

private:
    static void _ThreadFunction(void* pvThis);
    int _DownloadByWinINet(int nAccessType);
    int _URLDownloadToFile();

    int _IsAborted() const { return m_nStatusCode == RV_HADSC_ERROR_ABORT; }
    static int _ShouldAbort(void* pvThis);
    // Writes nStatus unless the user has aborted.
    void _SetStatus(int nStatus);
    void _RemoveTarget();

    std::string m_strFileURL;
    std::string m_strFileName;
    std::atomic<int> m_nContentLength{0};
    std::atomic<int> m_nDownloadedBytes{0};
    Pf_GetFileSizeExFunction m_pfnGetFileSizeEx = nullptr;
    uint64_t m_ullMaxSize = 0;
    Pf_WebStop m_Stop;
};
