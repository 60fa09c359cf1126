// Whole-file download over the web-client library and the URL download.
#include "transfer/http_file.h"

#include "foundation/log.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "platform/web_client.h"
#include "transfer/http_common.h"

#include <atomic>
#include <cstdio>
#include <vector>

static std::atomic<uint32_t> s_uRefreshCounter{0};

enum { RV_HTTP_FILE_READ_SIZE = 65536 };

static int _DownloadByWinINet(const char* cszURL, const char* cszFileName, int nAccessType, uint64_t ullMaxSize)
{
    int nResult = 0;
    int nRetCode = 0;
    int hSession = 0;
    int hInternetFile = 0;
    Pf_WebSession session;
    Pf_WebRequest request;
    uint32_t dwStatusCode = 0;
    uint32_t dwReadSize = 0;
    uint32_t dwTotalReadSize = 0;
    uint32_t dwTotalFileSize = 0;
    int bLengthRead = 0;
    FILE* fpLocalFile = nullptr;
    std::vector<char> vecBuffer(RV_HTTP_FILE_READ_SIZE);

    hSession = session.Open(RV_HTTP_AGENT, nAccessType);
    RVLOG_PROCESS_ERROR(hSession);
    session.SetReceiveTimeout(60000);

    hInternetFile = request.OpenUrl(session, cszURL, RV_HTTP_ACCEPT_HEADER);
    RVLOG_PROCESS_ERROR(hInternetFile);

    nRetCode = request.QueryStatusCode(&dwStatusCode);
    RVLOG_PROCESS_ERROR(nRetCode && "HttpQueryInfo()");
    if (dwStatusCode != 200) {
        RvLog_Write(RVLOG_DEBUG, "Response status code : %d\n", (int)dwStatusCode);
        RVLOG_PROCESS_ERROR(false);
    }

    bLengthRead = request.QueryContentLength(&dwTotalFileSize);
    if (bLengthRead && ullMaxSize)
        RVLOG_PROCESS_ERROR(dwTotalFileSize <= ullMaxSize && "Content-Length");

    Pf_SetReadOnly(cszFileName, 0);
    fpLocalFile = Pf_FOpen(cszFileName, "wb");
    RVLOG_PROCESS_ERROR(fpLocalFile);

    while (true) {
        nRetCode = request.Read(vecBuffer.data(), RV_HTTP_FILE_READ_SIZE, &dwReadSize);
        RVLOG_PROCESS_ERROR(nRetCode && "InternetReadFile()");
        if (dwReadSize == 0)
            break;
        // Past the bound nothing more is written or fetched: the body cannot be the file.
        if (ullMaxSize)
            RVLOG_PROCESS_ERROR((uint64_t)dwTotalReadSize + dwReadSize <= ullMaxSize);
        nRetCode = (int)fwrite(vecBuffer.data(), 1, dwReadSize, fpLocalFile);
        RVLOG_PROCESS_ERROR(nRetCode == (int)dwReadSize);
        dwTotalReadSize += dwReadSize;
    }
    if (bLengthRead)
        RVLOG_PROCESS_ERROR(dwTotalFileSize == dwTotalReadSize && "Incomplete file.");

    nRetCode = fclose(fpLocalFile);
    fpLocalFile = nullptr;
    RVLOG_PROCESS_ERROR(nRetCode == 0 && "fclose()");

    nResult = 1;
Exit0:
    if (fpLocalFile)
        fclose(fpLocalFile);
    if (!nResult && hSession) {
        RvLog_Write(RVLOG_DEBUG,
                    "[_DownloadByWinINet]Failed to download `%s` to `%s` with access type(%d), Error code : %d\n",
                    cszURL, cszFileName, nAccessType, Pf_WebGetLastError());
        Pf_DeleteNormalFile(cszFileName);
    }
    return nResult;
}

static int _URLDownloadToFile(const char* cszURL, const char* cszFileName, uint64_t ullMaxSize)
{
    int nResult = 0;
    HRESULT hRetCode = (HRESULT)Pf_UrlDownloadToFile(cszURL, cszFileName, nullptr, nullptr, nullptr, ullMaxSize);

    RVLOG_COM_PROCESS_ERROR(hRetCode);

    nResult = 1;
Exit0:
    if (!nResult) {
        RvLog_Write(RVLOG_DEBUG, "[_URLDownloadToFile]Failed to download `%s` to `%s`, Error code : 0x%X\n", cszURL,
                    cszFileName, (uint32_t)hRetCode);
        Pf_DeleteNormalFile(cszFileName);
    }
    return nResult;
}

int RVU_DownloadHttpFile(const char* cszURL, const char* cszFileName, uint64_t ullMaxSize)
{
    int nResult = 0;
    int nRetCode = 0;

    RVLOG_PROCESS_ERROR(cszURL);
    RVLOG_PROCESS_ERROR(cszURL[0]);
    RVLOG_PROCESS_ERROR(cszFileName);
    RVLOG_PROCESS_ERROR(cszFileName[0]);

    nRetCode = _DownloadByWinINet(cszURL, cszFileName, PF_WEB_ACCESS_PRECONFIG, ullMaxSize);
    RVLOG_PROCESS_SUCCESS(nRetCode);
    nRetCode = _DownloadByWinINet(cszURL, cszFileName, PF_WEB_ACCESS_DIRECT, ullMaxSize);
    RVLOG_PROCESS_SUCCESS(nRetCode);
    nRetCode = _URLDownloadToFile(cszURL, cszFileName, ullMaxSize);
    RVLOG_PROCESS_SUCCESS(nRetCode);
    goto Exit0;

Exit1:
    nResult = 1;
Exit0:
    if (!nResult && cszURL && cszFileName)
        RvLog_Write(RVLOG_DEBUG, "Failed to download `%s` to `%s`.\n", cszURL, cszFileName);
    return nResult;
}

int Rv_GenerateRefreshEveryTimeString(std::string* pRetString)
{
    int nResult = 0;
    char szBuffer[64];

    RVLOG_PROCESS_ERROR(pRetString);
    snprintf(szBuffer, sizeof(szBuffer), "/%d%u.RefreshEveryTime", (int32_t)(uint32_t)Pf_GetUnixTime(),
             s_uRefreshCounter.fetch_add(1));
    *pRetString = szBuffer;

    nResult = 1;
Exit0:
    return nResult;
}

int RVU_DownloadHttpFileForceRefresh(const char* cszFileURL, const char* cszFileName, uint64_t ullMaxSize)
{
    int nResult = 0;
    int nRetCode = 0;
    std::string strSuffix;
    std::string strServerFileURL;

    RVLOG_PROCESS_ERROR(cszFileURL);
    RVLOG_PROCESS_ERROR(cszFileName);
    nRetCode = Rv_GenerateRefreshEveryTimeString(&strSuffix);
    RVLOG_PROCESS_ERROR(nRetCode);

    strServerFileURL = std::string(cszFileURL) + strSuffix;
    nRetCode = RVU_DownloadHttpFile(strServerFileURL.c_str(), cszFileName, ullMaxSize);
    if (!nRetCode) {
        strServerFileURL = cszFileURL;
        nRetCode = RVU_DownloadHttpFile(strServerFileURL.c_str(), cszFileName, ullMaxSize);
        RVLOG_PROCESS_ERROR(nRetCode && "Rv_DownloadHttpFile()");
    }

    nResult = 1;
Exit0:
    if (!strServerFileURL.empty() || cszFileURL)
        RvLog_Write(RVLOG_INFO, "RVU_DownloadHttpFile, strServerFileURL = %s, cszFileName = %s",
                    strServerFileURL.c_str(), cszFileName ? cszFileName : "");
    return nResult;
}
