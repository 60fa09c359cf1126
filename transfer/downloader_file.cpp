// One file of the multi-file downloader: sizing, the retry loop of its
// thread, the free-space check and its progress reports.
#include "transfer/downloader_file.h"
#include "foundation/log.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "transfer/buf_socket.h"

// The local name is the URL's last element; a name that the client would
// replace by its stand-in (or "." and "..") names no usable file: "".
static std::string _LocalPathOf(const std::string& strURL, const std::string& strFolder)
{
    size_t uSlash = strURL.rfind('/');
    std::string strName;
    if (uSlash == std::string::npos || uSlash + 1 == strURL.size())
        return std::string();
    strName = strURL.substr(uSlash + 1);
    if (CHttpDownload::GetFileNameFromURL("/" + strName) != strName)
        return std::string();
    return strFolder + strName;
}

NyHttpFile::NyHttpFile(const char* szFileUrl, const char* szSavePath, IHttpFileAsyncCallback* pCallback)
    : m_strURL(szFileUrl), m_strSaveFolder(szSavePath), m_pCallback(pCallback)
{
    if (m_strSaveFolder.empty() || m_strSaveFolder.back() != '\\')
        m_strSaveFolder += '\\';
    m_strLocalPath = _LocalPathOf(m_strURL, m_strSaveFolder);
}

const char* NyHttpFile::GetFileName()
{
    if (!m_bStarted)
        _QueryFileInfo();
    return m_strLocalPath.c_str();
}

int64_t NyHttpFile::GetFileSize()
{
    if (!m_bStarted)
        _QueryFileInfo();
    return m_llSize;
}

int64_t NyHttpFile::GetDownloadedSize()
{
    if (!m_bStarted)
        _QueryFileInfo();
    return m_llDownloaded;
}

// Sizes the file once: the remote size and what of it is already on disk.
// Serialised, because getters run on any thread while the file's own thread
// may be sizing it.
int NyHttpFile::_QueryFileInfo()
{
    int nResult = 0;
    int nRemote = 0;
    int nLocal = 0;
    int bKnown = 0;
    Pf_MutexGuard guard(m_QueryLock);
    if (m_strLocalPath.empty()) {
        m_nStatus = dec_err_url;
        goto Exit0;
    }
    if (m_bKnownSize || m_bStopRequested)
        goto Exit1;
    if (!m_SizeClient.QueryFileSize(m_strURL.c_str(), m_strSaveFolder.c_str(), &nRemote, &nLocal, &bKnown) || !bKnown)
        goto Exit1;
    if (nLocal > nRemote) {
        // The server's file became shorter than the partial one: start again.
        RvLog_Write(RVLOG_INFO, "partial file of %s is longer than the remote file, restarting", m_strLocalPath.c_str());
        Pf_DeleteFile(m_strLocalPath + ".tmp");
        nLocal = 0;
    }
    m_llSize = nRemote;
    m_llDownloaded = nLocal;
    m_bKnownSize = 1;
Exit1:
    nResult = 1;
Exit0:
    return nResult;
}

void NyHttpFile::RequestStop()
{
    m_bStopRequested = 1;
    m_SizeClient.RequestStop();
    m_Client.RequestStop();
}

// The final file is in place with the known size.
int NyHttpFile::_IsCompleteOnDisk()
{
    uint64_t ullSize = 0;
    if (!m_bKnownSize || m_llSize <= 0 || m_llSize != m_llDownloaded)
        return 0;
    return Pf_GetFileSize(m_strLocalPath, &ullSize) && ullSize == (uint64_t)m_llSize.load();
}

int NyHttpFile::Download()
{
    int nResult = 0;
    int nRetCode = 0;
    int bWinsock = 0;
    int nRetryCount = 0;
    m_bStarted = 1;
    if (m_Client.m_nStopFlag) {
        m_nStatus = dec_err_stop;
        goto Exit0;
    }
    nRetCode = _QueryFileInfo();
    RVLOG_PROCESS_ERROR(nRetCode);
    nRetCode = StartupWinsock();
    RVLOG_PROCESS_ERROR(nRetCode);
    bWinsock = 1;

    m_Client.m_pProgressOwner = this;
    m_Client.m_nSendTimeout = 15000;
    m_Client.m_nRecvTimeout = 15000;
    m_Client.m_nConnectTimeout = 20000;
    for (;;) {
        if (_IsCompleteOnDisk()) {
            m_nStatus = dec_ok;
            break;
        }
        Pf_SetReadOnly(m_strLocalPath, 0);
        nRetCode = m_Client.Download(m_strURL.c_str(), m_strLocalPath.c_str());
        if (m_nStatus != dec_running)
            break;
        if (nRetCode == RV_HTTP_COMPLETE || nRetCode == RV_HTTP_UP_TO_DATE) {
            m_nStatus = dec_ok;
            break;
        }
        if (nRetCode == RV_HTTP_STOPPED) {
            m_nStatus = dec_err_stop;
            break;
        }
        if (nRetCode == RV_HTTP_FAILED) {
            RvLog_Write(RVLOG_INFO, "disconnection retry %d", nRetryCount);
            m_nStatus = dec_err_disconnect;
        } else if (nRetCode == RV_HTTP_FTP_REDIRECT) {
            RvLog_Write(RVLOG_INFO, "cannotconnect retry %d", nRetryCount);
            m_nStatus = dec_err_connect;
        } else {
            m_nStatus = dec_err_connect;
            RVLOG_PROCESS_ERROR(false && "unknow result");
        }
        nRetryCount++;
        // The wait before a retry ends early on a stop request.
        for (int i = 0; i < NY_HTTP_RETRY_WAIT_MS / 50 && !m_bStopRequested; ++i)
            Pf_Sleep(50);
        if (nRetryCount > NY_HTTP_MAX_RETRIES)
            break;
        m_nStatus = dec_running;
    }
    nResult = m_nStatus == dec_ok;
Exit0:
    RvLog_Write(RVLOG_INFO, "download result= %d, filesize = %lld, downloadedsize = %lld, filename = %s",
                m_nStatus.load(), (long long)m_llSize.load(), (long long)m_llDownloaded.load(), m_strLocalPath.c_str());
    if (bWinsock)
        CleanupWinsock();
    return nResult;
}

int NyHttpFile::CheckDiskSpace()
{
    int nResult = 0;
    int nRetCode = 0;
    uint64_t ullAvailableSpace = 0;
    int64_t llSize = m_llSize;
    int64_t llDownloaded = m_llDownloaded;
    // An unsized body reports a size of 0: nothing more is known to come.
    uint64_t ullRest = llSize > llDownloaded ? (uint64_t)(llSize - llDownloaded) : 0;
    // The drive of the file is that of its folder, which exists while the file may not yet.
    nRetCode = !Pf_GetFreeSpace(m_strSaveFolder, &ullAvailableSpace);
    RVLOG_PROCESS_ERROR(!nRetCode);
    if (ullRest >= ullAvailableSpace) {
        RvLog_Write(RVLOG_ERROR, "nAvailableSpace:%llu, nFileSize:%lld; nDownloadedSize:%lld",
                    (unsigned long long)ullAvailableSpace, (long long)llSize, (long long)llDownloaded);
        RVLOG_PROCESS_ERROR(false && "no enough disk space.");
    }
    nResult = 1;
Exit0:
    if (!nResult)
        m_nStatus = dec_err_disk_space;
    return nResult;
}

void NyHttpFile::OnProgress(int64_t llTotal, int64_t llDownloaded, int nValue)
{
    m_llSize = llTotal;
    m_llDownloaded = llDownloaded;
    if (!CheckDiskSpace())
        m_Client.RequestStop();
    if (m_pCallback)
        m_pCallback->OnProgress(this, nValue);
}
