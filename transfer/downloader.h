// The multi-file downloader: a queue of files fetched in parallel, at most
// five at a time, each on its own thread with its own socket client. Each
// StartAndWait returns the next file that finished, in finishing order;
// progress from every file reaches one notification target, one at a time.
#pragma once
#include "platform/thread.h"
#include "transfer/download_interfaces.h"
#include "transfer/downloader_file.h"

#include <atomic>
#include <deque>
#include <memory>
#include <vector>

class NyHttpDownloader : public IDownloader {
public:
    NyHttpDownloader();
    // Stops and joins running threads, then deletes every file.
    ~NyHttpDownloader() override;
    NyHttpDownloader(const NyHttpDownloader&) = delete;
    NyHttpDownloader& operator=(const NyHttpDownloader&) = delete;

    // Queues one file to be saved in the folder szSavePath. 1 on success.
    int AddFile(const char* szFileUrl, const char* szSavePath);
    // Starts queued files up to the limit, then waits for one to finish and
    // returns it; null when none is running.
    IHttpFile* StartAndWait();
    // Asks every file to stop and waits for every running thread. The
    // stopped files are still returned by later StartAndWait calls.
    void Stop();

    int64_t GetFileSize() override;
    int64_t GetDownloadedSize() override;

    // The object told of progress; set before a run, cleared after it.
    void SetNotification(IDownloaderNotification* pNotification) { m_Callback.m_pNotification = pNotification; }

protected:
    // Starts the thread of one file (a seam for tests of a failed start).
    virtual int _StartThread(Pf_Thread* pThread, Pf_ThreadFunction pfnFunction, void* pvArg);
    // Waits for the first of the running files to end (a seam for tests of a
    // wait that answers with no running file).
    virtual int _WaitForAny(Pf_Event** apEvents, int nCount, int* pnRetIndex);

private:
    struct _Running {
        Pf_Thread Thread;
        Pf_Event Done;          // manual reset, set when the thread body returned
        NyHttpFile* pFile = nullptr;
    };
    class NyHttpFileCallback : public IHttpFileAsyncCallback {
    public:
        void OnProgress(IHttpFile* pFile, int nValue) override;
        NyHttpDownloader* m_pOwner = nullptr;
        std::atomic<IDownloaderNotification*> m_pNotification{nullptr};
        Pf_Mutex m_Lock;
    };

    void BatchDownload();
    static void _ThreadFunction(void* pvRunning);

    size_t m_uNextFile = 0;
    int m_nMaxParallel = 5;
    std::vector<std::unique_ptr<NyHttpFile>> m_vecFiles;
    // Started and not yet collected, in start order.
    std::vector<std::shared_ptr<_Running>> m_DownloadingFiles;
    // Files whose thread could not start, returned before any waiting.
    std::deque<NyHttpFile*> m_FailedToStart;
    Pf_Mutex m_Lock;
    NyHttpFileCallback m_Callback;
};
