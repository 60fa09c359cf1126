// The system's own HTTP/1.1 client: fetches one URL with GET into
// "<local path>.tmp", resumes a partial file with a Range request, follows
// redirects, moves the finished file into place and stamps it with the
// server's Last-Modified time. Direct, or through an HTTP or SOCKS proxy.
#pragma once
#include "platform/thread.h"
#include "transfer/buf_socket.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

// Told of the progress of a transfer (the multi-file downloader's file).
class IHttpDownloadProgress {
public:
    virtual ~IHttpDownloadProgress() = default;
    // nValue: the bytes of the read that triggered the report, 0 for the last one.
    virtual void OnProgress(int64_t llTotal, int64_t llDownloaded, int nValue) = 0;
};

enum {
    RV_HTTP_PROXY_NONE = 0,
    RV_HTTP_PROXY_HTTP = 1,
    RV_HTTP_PROXY_SOCKS4 = 3,
    RV_HTTP_PROXY_SOCKS4A = 4,
    RV_HTTP_PROXY_SOCKS5 = 5,
};

// Results of Download.
enum {
    RV_HTTP_COMPLETE = 0,
    RV_HTTP_UP_TO_DATE = 1,
    RV_HTTP_STOPPED = 2,
    RV_HTTP_FAILED = 3,
    RV_HTTP_FTP_REDIRECT = 4,
};

// Redirects followed by one request before it fails.
enum { RV_HTTP_MAX_REDIRECTS = 20 };

class CHttpDownload {
public:
    CHttpDownload();
    virtual ~CHttpDownload();
    CHttpDownload(const CHttpDownload&) = delete;
    CHttpDownload& operator=(const CHttpDownload&) = delete;

    // Fetches the URL to the local path (a path ending in "\" names a folder:
    // the file name of the URL is appended). Returns RV_HTTP_*.
    int Download(const char* cszURL, const char* cszLocalPath);
    // Asks for the remote size and what of it is already in the folder.
    // 1 when the request was answered; *pbRetKnownSize tells whether the
    // answer stated a length.
    int QueryFileSize(const char* cszURL, const char* cszLocalFolder, int* pnRetRemoteSize, int* pnRetLocalSize,
                      int* pbRetKnownSize = nullptr);
    // Stop request from any thread: the flag, then the event.
    void RequestStop();

    // Helpers, public for their tests.
    static int ParseURL(const std::string& strURL, std::string* pstrRetHost, std::string* pstrRetObject, int* pnRetPort);
    // A Last-Modified value (lower case) in one of the three HTTP forms, in
    // seconds since 1970; llNow places a two-digit year. 0 for anything else.
    static int ParseHttpDate(const std::string& strLowerValue, int64_t llNow, int64_t* pllRetTime);
    static std::string GetFileNameFromURL(const std::string& strObject);
    static int IsValidFileName(const std::string& strName);
    static std::string Base64Encode(const std::string& strText);

    // Settings, written by the owner before or during a transfer.
    std::atomic<int> m_nStopFlag{0};
    std::string m_strReferer;
    std::string m_strUserAgent = "RMXUpdate/1.0";
    int m_nConnectTimeout = 60000;
    int m_nRecvTimeout = 60000;
    int m_nSendTimeout = 60000;
    int m_nRetryMode = 0;
    int m_nRetryWait = 0;
    int m_nMaxRetries = 0;
    IHttpDownloadProgress* m_pProgressOwner = nullptr;
    int m_bSiteAuth = 0;
    std::string m_strSiteUser;
    std::string m_strSitePassword;
    std::string m_strProxyHost;
    int m_nProxyPort = 0;
    int m_nProxyType = RV_HTTP_PROXY_NONE;
    int m_bProxyAuth = 0;
    std::string m_strProxyUser;
    std::string m_strProxyPassword;
    std::string m_strCookie;

    // State of the last transfer, readable by the owner and tests.
    std::string m_strURL;
    std::string m_strLocalPath;
    std::string m_strTempPath;
    int m_bAppend = 0;
    int m_nTotalSize = 0;
    int m_nBytesInFile = 0;
    int m_nResponseLength = 0;
    unsigned m_uBytesOfResponse = 0;
    int m_nHeaderLength = 0;
    std::string m_strHeader;
    int64_t m_llLastModified = 0;
    int m_nRetryCount = 0;
    std::string m_strHost;
    std::string m_strObject;
    std::string m_strFileName;
    int m_nPort = 80;

private:
    int _SendRequest();
    int _ReadHeader(std::string* pstrRetHeader);
    int _ParseResponseHeader(const std::string& strHeader, int* pnRetLength, int* pnRetStatus);
    int _Redirect(const std::string& strLocation);
    int _ConnectToServer();
    int _ConnectSocks4(int bAllowName);
    int _ConnectSocks5();
    int _ReadBody(FILE* pFile);
    int _ReadChunked(FILE* pFile);
    int _ReadPiece(FILE* pFile, int nMax);
    int _Finish();
    int _IsUpToDate();
    int _SetURL(const std::string& strURL);

    int m_bWriteBody = 1;
    int m_bStopEventValid = 0;
    Pf_Event m_StopEvent;
    int m_bHaveLength = 0;
    int m_bChunked = 0;
    // First byte of the answer's Content-Range; -1 without one, -2 unreadable.
    int64_t m_llContentRangeFirst = -1;
    int m_nLastReport = 0;
    std::vector<char> m_Buffer;
    CBufSocket m_Socket;
};
