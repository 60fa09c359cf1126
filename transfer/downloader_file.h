// One file of the multi-file downloader: its URL, local path, sizes and
// status, and the thread body that fetches it with its own socket client,
// retrying lost transfers and checking the free disk space on each report.
#pragma once
#include "platform/thread.h"
#include "transfer/download_interfaces.h"
#include "transfer/http_download.h"

#include <atomic>
#include <cstdint>
#include <string>

// Attempts of one file before its failure stands, and the wait between them.
enum { NY_HTTP_MAX_RETRIES = 5, NY_HTTP_RETRY_WAIT_MS = 5000 };

class NyHttpFile : public IHttpFile, public IHttpDownloadProgress {
public:
    // szFileUrl and szSavePath are not empty (checked by the downloader).
    NyHttpFile(const char* szFileUrl, const char* szSavePath, IHttpFileAsyncCallback* pCallback);
    ~NyHttpFile() override = default;
    NyHttpFile(const NyHttpFile&) = delete;
    NyHttpFile& operator=(const NyHttpFile&) = delete;

    const char* GetFileName() override;
    int64_t GetFileSize() override;
    int64_t GetDownloadedSize() override;
    DownloadErrorCode GetStatus() override { return (DownloadErrorCode)m_nStatus.load(); }

    // The thread body; 1 when the file ended complete.
    int Download();
    // 1 when the rest of the file fits the free space; otherwise status 6.
    int CheckDiskSpace();
    // From the client: the sizes, the disk check, then the downloader's callback.
    void OnProgress(int64_t llTotal, int64_t llDownloaded, int nValue) override;

    // A stop request to this file's clients (from any thread): a running size
    // query or transfer ends now.
    void RequestStop();
    // Marks a file whose thread could not be started.
    void SetStatus(DownloadErrorCode eStatus) { m_nStatus = eStatus; }
    const std::string& GetURL() const { return m_strURL; }

private:
    int _QueryFileInfo();
    int _IsCompleteOnDisk();

    std::atomic<int> m_nStatus{dec_running};
    std::string m_strURL;
    std::string m_strSaveFolder;
    // Built once from the URL; empty when the URL names no usable file.
    std::string m_strLocalPath;
    std::atomic<int64_t> m_llSize{0};
    std::atomic<int64_t> m_llDownloaded{0};
    // The size came from a stated length (a query or a transfer).
    std::atomic<int> m_bKnownSize{0};
    // Set when the file's thread starts: from then on the thread alone sizes the file.
    std::atomic<int> m_bStarted{0};
    Pf_Mutex m_QueryLock;
    IHttpFileAsyncCallback* m_pCallback = nullptr;
    CHttpDownload m_Client;
    // Asks for the size; used under m_QueryLock.
    CHttpDownload m_SizeClient;
    std::atomic<int> m_bStopRequested{0};
};
