// The interfaces between the multi-file downloader, its files and the one
// object told of their progress, and the status codes of a downloaded file.
// Plain abstract classes: the owner deletes an object through its destructor.
#pragma once
#include <cstdint>

// Status of one file of the downloader.
enum DownloadErrorCode {
    dec_ok = 0,                 // complete
    dec_running = 1,            // queued or running
    dec_err_stop = 2,           // stopped by a stop request
    dec_err_url = 3,            // the URL names no usable file
    dec_err_connect = 4,        // cannot connect (redirect to ftp, unexpected result)
    dec_err_disconnect = 5,     // the transfer failed, a failed connection included
    dec_err_disk_space = 6,     // not enough free disk space for the rest of the file
    dec_err_write_file = 7,     // named by the application's error mapping only
    dec_err_not_found = 8,      // named by the application's error mapping only
};

class IDownloader {
public:
    // Totals over every queued file.
    virtual int64_t GetFileSize() = 0;
    virtual int64_t GetDownloadedSize() = 0;
    virtual ~IDownloader() = default;
};

class IHttpFile {
public:
    // The local path (owned by the file).
    virtual const char* GetFileName() = 0;
    virtual int64_t GetFileSize() = 0;
    virtual int64_t GetDownloadedSize() = 0;
    virtual DownloadErrorCode GetStatus() = 0;
    virtual ~IHttpFile() = default;
};

// nValue in both: the bytes of the read that triggered the report, 0 for a
// file's final report.
class IHttpFileAsyncCallback {
public:
    virtual void OnProgress(IHttpFile* pFile, int nValue) = 0;

protected:
    ~IHttpFileAsyncCallback() = default;
};

class IDownloaderNotification {
public:
    virtual void OnProgress(IDownloader* pDownloader, IHttpFile* pFile, int nValue) = 0;

protected:
    ~IDownloaderNotification() = default;
};
