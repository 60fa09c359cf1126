// Ranged block reader over the web-client library.
#include "transfer/http_sync_block.h"

#include "foundation/log.h"
#include "platform/web_client.h"
#include "transfer/http_common.h"

#include <algorithm>
#include <cstdio>

enum { RV_HTTP_SYNC_BLOCK_RECEIVE_TIMEOUT = 20000 };

int Rv_HttpSyncBlock::Init(const char* cszFileURL)
{
    int nResult = 0;

    RVLOG_PROCESS_ERROR(cszFileURL);
    RVLOG_PROCESS_ERROR(cszFileURL[0]);
    m_strFileURL = cszFileURL;
    m_BlockInfoVector.clear();

    nResult = 1;
Exit0:
    return nResult;
}

int Rv_HttpSyncBlock::AddBlock(uint32_t uOffset, uint32_t uSize, void* pvRetBuffer)
{
    int nResult = 0;

    RVLOG_PROCESS_ERROR(uSize);
    RVLOG_PROCESS_ERROR(pvRetBuffer);
    m_BlockInfoVector.push_back(Rv_HttpBlockInfo{uOffset, uSize, pvRetBuffer});

    nResult = 1;
Exit0:
    return nResult;
}

int Rv_HttpSyncBlock::Download()
{
    int nResult = 0;
    int nRetCode = 0;
    size_t uIndex = 0;

    std::stable_sort(m_BlockInfoVector.begin(), m_BlockInfoVector.end(),
                     [](const Rv_HttpBlockInfo& a, const Rv_HttpBlockInfo& b) { return a.uOffset < b.uOffset; });
    while (uIndex < m_BlockInfoVector.size()) {
        nRetCode = _DownloadContinuousBlock(&uIndex);
        RVLOG_PROCESS_ERROR(nRetCode && "_DownloadContinuousBlock()");
    }

    nResult = 1;
Exit0:
    return nResult;
}

int Rv_HttpSyncBlock::_DownloadContinuousBlock(size_t* puIndex)
{
    int nResult = 0;
    int nRetCode = 0;
    int hSession = 0;
    int nRetryCount = 0;
    size_t uFirst = *puIndex;
    size_t uEnd = uFirst;
    uint64_t ullStart = 0;
    uint64_t ullLength = 0;
    uint64_t ullLast = 0;
    uint32_t dwStatusCode = 0;
    uint32_t dwTotalReadSize = 0;
    uint32_t dwReadSize = 0;
    char szHeader[256];
    Pf_WebSession session;
    Pf_WebRequest request;

    RVLOG_PROCESS_ERROR(uFirst < m_BlockInfoVector.size());
    ullStart = m_BlockInfoVector[uFirst].uOffset;
    ullLength = m_BlockInfoVector[uFirst].uSize;
    for (uEnd = uFirst + 1; uEnd < m_BlockInfoVector.size(); ++uEnd) {
        if (m_BlockInfoVector[uEnd].uOffset != ullStart + ullLength)
            break;
        ullLength += m_BlockInfoVector[uEnd].uSize;
    }
    // The last byte of the run must still be a 32-bit offset.
    ullLast = ullStart + ullLength - 1;
    RVLOG_PROCESS_ERROR(ullLast <= 0xFFFFFFFFull && "Range end within 32 bits");

    nRetCode = snprintf(szHeader, sizeof(szHeader), "Accept: */*\r\nRange: bytes=%u-%u\r\n\r\n",
                        (uint32_t)ullStart, (uint32_t)ullLast);
    RVLOG_PROCESS_ERROR(nRetCode > 0);
    RVLOG_PROCESS_ERROR(nRetCode < (int)sizeof(szHeader));

    hSession = session.Open(RV_HTTP_AGENT, PF_WEB_ACCESS_PRECONFIG);
    RVLOG_PROCESS_ERROR(hSession);
    session.SetReceiveTimeout(RV_HTTP_SYNC_BLOCK_RECEIVE_TIMEOUT);

    nRetCode = RVU_OpenUrlWithRetry(session, m_strFileURL, szHeader, &request, &nRetryCount);
    RVLOG_PROCESS_ERROR(nRetryCount <= RV_HTTP_CONNECT_RETRY_MAX_COUNT && "InternetOpenUrl()");

    nRetCode = request.QueryStatusCode(&dwStatusCode);
    RVLOG_PROCESS_ERROR(nRetCode && "HttpQueryInfo()");
    // A 200 answer carries the file from its first byte: right only for a run that starts there.
    if (dwStatusCode != 206 && !(dwStatusCode == 200 && ullStart == 0)) {
        RvLog_Write(RVLOG_DEBUG, "Response status code : %d\n", (int)dwStatusCode);
        RVLOG_PROCESS_ERROR(false);
    }

    if (request.QueryContentLength(&dwTotalReadSize))
        RVLOG_PROCESS_ERROR(dwTotalReadSize == ullLength && "Incomplete file.");

    for (size_t i = uFirst; i < uEnd; ++i) {
        nRetCode = request.Read(m_BlockInfoVector[i].pvRetBuffer, m_BlockInfoVector[i].uSize, &dwReadSize);
        RVLOG_PROCESS_ERROR(nRetCode && "InternetReadFile()");
        RVLOG_PROCESS_ERROR(dwReadSize == m_BlockInfoVector[i].uSize);
    }

    *puIndex = uEnd;
    nResult = 1;
Exit0:
    if (!nResult)
        RvLog_Write(RVLOG_DEBUG, "Failed to download `%s`, GetLastError()=%d.", m_strFileURL.c_str(),
                    Pf_WebGetLastError());
    return nResult;
}
