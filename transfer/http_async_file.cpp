// Background single-file download over the web-client library and the URL
// download, with the user's abort honoured by every way.
#include "transfer/http_async_file.h"

#include "foundation/log.h"
#include "platform/file.h"
#include "platform/web_client.h"
#include "transfer/http_common.h"

#include <climits>
#include <cstdio>

enum {
    RV_HTTP_ASYNC_FILE_RECEIVE_TIMEOUT = 20000,
    RV_HTTP_ASYNC_FILE_READ_SIZE = 1024,
};

Rv_HttpAsyncFile::~Rv_HttpAsyncFile()
{
    m_WorkTread.Wait();
}

int Rv_HttpAsyncFile::Init(const char* cszFileURL, const char* cszFileName, uint64_t ullMaxSize)
{
    int nResult = 0;

    RVLOG_PROCESS_ERROR(cszFileURL);
    RVLOG_PROCESS_ERROR(cszFileURL[0]);
    RVLOG_PROCESS_ERROR(cszFileName);
    RVLOG_PROCESS_ERROR(cszFileName[0]);

    // A worker of an earlier run still reads the names.
    m_WorkTread.Wait();
    m_strFileURL = cszFileURL;
    m_strFileName = cszFileName;
    m_ullMaxSize = ullMaxSize;
    m_pfnGetFileSizeEx = (Pf_GetFileSizeExFunction)Pf_GetSystemCall("kernel32.dll", "GetFileSizeEx");

    nResult = 1;
Exit0:
    return nResult;
}

int Rv_HttpAsyncFile::StartDownload()
{
    int nResult = 0;
    int nRetCode = 0;
    int nStatus = 0;

    // The earlier worker ends before the new run's status is set, so that it
    // cannot write its own result over the new run.
    m_WorkTread.Wait();
    m_Stop.Reset();
    m_nStatusCode = RV_HADSC_DOWNLOADING;
    m_nContentLength = 0;
    m_nDownloadedBytes = 0;

    nRetCode = m_WorkTread.Create(&Rv_HttpAsyncFile::_ThreadFunction, this);
    RVLOG_PROCESS_ERROR(nRetCode && "m_WorkTread.Create()");

    nResult = 1;
Exit0:
    if (!nResult) {
        nStatus = m_nStatusCode;
        while (nStatus < RV_HADSC_ERROR_UNKNOWN && !m_nStatusCode.compare_exchange_weak(nStatus, RV_HADSC_ERROR_UNKNOWN)) {
        }
    }
    return nResult;
}

void Rv_HttpAsyncFile::Abort()
{
    int nStatus = RV_HADSC_DOWNLOADING;
    while (nStatus < RV_HADSC_SUCCESS && !m_nStatusCode.compare_exchange_weak(nStatus, RV_HADSC_ERROR_ABORT)) {
    }
    m_Stop.Stop();
}

void Rv_HttpAsyncFile::_ThreadFunction(void* pvThis)
{
    Rv_HttpAsyncFile* pThis = (Rv_HttpAsyncFile*)pvThis;

    // An abort ends the run before the next way; its status stays.
    if (pThis->_IsAborted() || pThis->_DownloadByWinINet(PF_WEB_ACCESS_PRECONFIG))
        return;
    if (pThis->_IsAborted() || pThis->_DownloadByWinINet(PF_WEB_ACCESS_DIRECT))
        return;
    if (pThis->_IsAborted() || pThis->_URLDownloadToFile())
        return;
    pThis->_SetStatus(RV_HADSC_ERROR_UNKNOWN);
}

int Rv_HttpAsyncFile::_ShouldAbort(void* pvThis)
{
    return ((const Rv_HttpAsyncFile*)pvThis)->_IsAborted();
}

void Rv_HttpAsyncFile::_SetStatus(int nStatus)
{
    int nOld = m_nStatusCode;
    while (nOld != RV_HADSC_ERROR_ABORT && !m_nStatusCode.compare_exchange_weak(nOld, nStatus)) {
    }
}

void Rv_HttpAsyncFile::_RemoveTarget()
{
    Pf_DeleteNormalFile(m_strFileName);
}

int Rv_HttpAsyncFile::_DownloadByWinINet(int nAccessType)
{
    int nResult = 0;
    int nRetCode = 0;
    int hSession = 0;
    int nRetryCount = 0;
    int bLengthRead = 0;
    uint32_t dwStatusCode = 0;
    uint32_t dwContentLength = 0;
    uint32_t dwReadSize = 0;
    uint64_t ullWayReadSize = 0;     // this way's bytes alone
    FILE* fpLocalFile = nullptr;
    char szBuffer[RV_HTTP_ASYNC_FILE_READ_SIZE];
    Pf_WebSession session;
    Pf_WebRequest request;

    hSession = session.Open(RV_HTTP_AGENT, nAccessType);
    RVLOG_PROCESS_ERROR(hSession);
    session.SetReceiveTimeout(RV_HTTP_ASYNC_FILE_RECEIVE_TIMEOUT);
    // The abort also ends a wait for the answer or for the next bytes.
    session.SetAbortCheck(&Rv_HttpAsyncFile::_ShouldAbort, this);
    session.SetStop(&m_Stop);

    nRetCode = RVU_OpenUrlWithRetry(session, m_strFileURL, RV_HTTP_ACCEPT_HEADER, &request, &nRetryCount);
    RVLOG_PROCESS_ERROR(nRetryCount <= RV_HTTP_CONNECT_RETRY_MAX_COUNT && "InternetOpenUrl()");

    nRetCode = request.QueryStatusCode(&dwStatusCode);
    RVLOG_PROCESS_ERROR(nRetCode && "HttpQueryInfo()");
    if (dwStatusCode != 200) {
        RvLog_Write(RVLOG_DEBUG, "Response status code : %d\n", (int)dwStatusCode);
        RVLOG_PROCESS_ERROR(false);
    }

    bLengthRead = request.QueryContentLength(&dwContentLength);
    if (bLengthRead)
        m_nContentLength = dwContentLength > (uint32_t)INT_MAX ? INT_MAX : (int)dwContentLength;
    if (bLengthRead && m_ullMaxSize)
        RVLOG_PROCESS_ERROR(dwContentLength <= m_ullMaxSize && "Content-Length");

    Pf_SetReadOnly(m_strFileName, 0);
    fpLocalFile = Pf_FOpen(m_strFileName, "wb");
    RVLOG_PROCESS_ERROR(fpLocalFile);

    while (true) {
        RVLOG_PROCESS_ERROR(m_nStatusCode != RV_HADSC_ERROR_ABORT);
        nRetCode = request.Read(szBuffer, sizeof(szBuffer), &dwReadSize);
        RVLOG_PROCESS_ERROR(nRetCode && "InternetReadFile()");
        if (dwReadSize == 0)
            break;
        // Past the bound nothing more is written or fetched: the body cannot be the file.
        if (m_ullMaxSize)
            RVLOG_PROCESS_ERROR(ullWayReadSize + dwReadSize <= m_ullMaxSize);
        nRetCode = (int)fwrite(szBuffer, 1, dwReadSize, fpLocalFile);
        RVLOG_PROCESS_ERROR(nRetCode == (int)dwReadSize);
        m_nDownloadedBytes += (int)dwReadSize;
        ullWayReadSize += dwReadSize;
    }
    if (bLengthRead)
        RVLOG_PROCESS_ERROR(ullWayReadSize == dwContentLength && "Incomplete file.");

    nRetCode = fclose(fpLocalFile);
    fpLocalFile = nullptr;
    RVLOG_PROCESS_ERROR(nRetCode == 0 && "fclose()");

    _SetStatus(RV_HADSC_SUCCESS);
    nResult = 1;
Exit0:
    if (fpLocalFile)
        fclose(fpLocalFile);
    if (!nResult) {
        RvLog_Write(RVLOG_DEBUG, "[_DownloadByWinINet]Failed to download `%s`, Error Code %d. dwAccessType = %d",
                    m_strFileURL.c_str(), Pf_WebGetLastError(), nAccessType);
        _RemoveTarget();
    }
    return nResult;
}

int Rv_HttpAsyncFile::_URLDownloadToFile()
{
    int nResult = 0;
    int nRetCode = 0;
    HRESULT hRetCode = E_FAIL;
    int hFile = -1;
    int64_t llFileSize = 0;

    RVLOG_PROCESS_ERROR(m_pfnGetFileSizeEx);

    _SetStatus(RV_HADSC_DOWNLOADING);
    hRetCode = (HRESULT)Pf_UrlDownloadToFile(m_strFileURL, m_strFileName, &Rv_HttpAsyncFile::_ShouldAbort, this,
                                               &m_Stop, m_ullMaxSize);
    RVLOG_PROCESS_ERROR(hRetCode == S_OK);

    hFile = Pf_OpenExistingForRead(m_strFileName);
    if (hFile < 0) {
        RvLog_Write(RVLOG_DEBUG, "Failed to open file `%s`, Error code : %d\n", m_strFileName.c_str(),
                    Pf_GetLastError());
        goto Exit0;
    }
    nRetCode = m_pfnGetFileSizeEx(hFile, &llFileSize);
    if (!nRetCode) {
        RvLog_Write(RVLOG_DEBUG, "Failed to GetFileSizeEx `%s`, Error code : %d\n", m_strFileName.c_str(),
                    Pf_GetLastError());
        goto Exit0;
    }
    m_nDownloadedBytes += (int)(uint32_t)llFileSize;

    _SetStatus(RV_HADSC_SUCCESS);
    nResult = 1;
Exit0:
    Pf_CloseFile(hFile);
    if (!nResult) {
        RvLog_Write(RVLOG_DEBUG, "[_URLDownloadToFile]Failed to download `%s` to `%s`, Error code : 0x%X\n",
                    m_strFileURL.c_str(), m_strFileName.c_str(), (uint32_t)hRetCode);
        _RemoveTarget();
    }
    return nResult;
}
