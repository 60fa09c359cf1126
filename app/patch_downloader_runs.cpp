// The patch-chain downloader's network work: the update check that fetches
// the patch list, the download and re-download runs over the multi-file
// downloader, the remote sizes of the chain, and the stop from the owner.
#include "app/patch_downloader.h"
#include "foundation/log.h"
#include "platform/file.h"
#include "transfer/http_download.h"
#include "transfer/http_file.h"

namespace {

const char* const s_cszPatchListName = "autoupdateentry.txt";
const char* const s_cszDXPackageName = "dx9_43.zip";

// Points the downloader's progress at the target for the length of a run.
class _NotificationScope {
public:
    _NotificationScope(NyHttpDownloader* pClient, IDownloaderNotification* pNotify) : m_pClient(pClient)
    {
        m_pClient->SetNotification(pNotify);
    }
    ~_NotificationScope() { m_pClient->SetNotification(nullptr); }

private:
    NyHttpDownloader* m_pClient;
};

} // namespace

int Rv_PatchDownloader::CheckNeedUpdate(int* pnRetNeedDownloadFlag, std::string* pstrRetLatestVersion)
{
    int nResult = 0;
    int nRetCode = 0;
    std::string strURL = m_strURLPrefix + s_cszPatchListName;
    std::string strLocal = m_strSaveFilePath + s_cszPatchListName;

    RVLOG_PROCESS_ERROR(pnRetNeedDownloadFlag);

    nRetCode = RVU_DownloadHttpFileForceRefresh(strURL.c_str(), strLocal.c_str());
    RVLOG_PROCESS_ERROR(nRetCode && "RVU_DownloadHttpFileForceRefresh");

    nRetCode = ReadListFile(strLocal.c_str(), pnRetNeedDownloadFlag, pstrRetLatestVersion);
    RVLOG_PROCESS_ERROR(nRetCode);

    nResult = 1;
Exit0:
    Pf_DeleteNormalFile(strLocal);
    if (!nResult)
        _FailRun();
    return nResult;
}

int Rv_PatchDownloader::_RunDownload(NyHttpDownloader* pClient, IDownloaderNotification* pNotify,
                                     const std::vector<std::string>& vecURLs)
{
    int nResult = 0;
    int nRetCode = 0;
    IHttpFile* pFile = nullptr;
    _NotificationScope scope(pClient, pNotify);

    RVLOG_PROCESS_ERROR(pNotify);
    nRetCode = m_PatchList.empty();
    RVLOG_PROCESS_SUCCESS(nRetCode && !m_nDownloadDXFlag);

    for (const std::string& strURL : vecURLs) {
        nRetCode = pClient->AddFile(strURL.c_str(), m_strSaveFilePath.c_str());
        RVLOG_PROCESS_ERROR(nRetCode && "pClient->AddFile()");
    }
    while (true) {
        RVLOG_PROCESS_ERROR(m_nLastErrorCode != dec_err_stop);
        pFile = pClient->StartAndWait();
        if (!pFile)
            break;
        if (pFile->GetStatus() != dec_ok) {
            m_nLastErrorCode = pFile->GetStatus();
            RVLOG_PROCESS_ERROR(false);
        }
    }

Exit1:
    m_nLastErrorCode = dec_ok;
    nResult = 1;
Exit0:
    if (!nResult) {
        pClient->Stop();
        _FailRun();
    }
    return nResult;
}

int Rv_PatchDownloader::Download(IDownloaderNotification* pNotify)
{
    std::vector<std::string> vecURLs;

    for (const Rv_PatchRecord& Record : m_PatchList)
        vecURLs.push_back(m_strURLPrefix + Record.strFileName);
    if (m_nDownloadDXFlag)
        vecURLs.push_back(m_strURLPrefix + s_cszDXPackageName);
    return _RunDownload(&m_HttpClient, pNotify, vecURLs);
}

int Rv_PatchDownloader::ReDownload(IDownloaderNotification* pNotify)
{
    std::vector<std::string> vecURLs;
    std::string strFrom;
    std::string strTo;

    for (const Rv_PatchRecord& Record : m_PatchList) {
        if (Record.nRedownloadFlag)
            vecURLs.push_back(m_strURLPrefix + Record.strFileName + Record.strRefreshString);
    }
    if (!_RunDownload(&m_ReDownloadHttpClient, pNotify, vecURLs))
        return 0;
    // A patch that cannot take its name back stays under the refresh name.
    for (const Rv_PatchRecord& Record : m_PatchList) {
        if (!Record.nRedownloadFlag)
            continue;
        strFrom = m_strSaveFilePath + Record.strRefreshString;
        strTo = m_strSaveFilePath + Record.strFileName;
        if (!Pf_MoveFile(strFrom, strTo, 1))
            RvLog_Write(RVLOG_ERROR, "rename failed , from '%s' to '%s'", strFrom.c_str(), strTo.c_str());
    }
    return 1;
}

void Rv_PatchDownloader::Stop()
{
    m_nLastErrorCode = dec_err_stop;
    m_HttpClient.Stop();
    m_ReDownloadHttpClient.Stop();
}

int Rv_PatchDownloader::MarkFileToRedownload(Rv_PatchFileInfo Info)
{
    int nResult = 0;
    int nRetCode = 0;

    for (Rv_PatchRecord& Record : m_PatchList) {
        if (Record.strFileName != Info.strFileName)
            continue;
        nRetCode = Rv_GenerateRefreshEveryTimeString(&Record.strRefreshString);
        RVLOG_PROCESS_ERROR(nRetCode);
        Record.nRedownloadFlag = 1;
        break;
    }
    nResult = 1;
Exit0:
    return nResult;
}

int Rv_PatchDownloader::_InitPatchFileSize(Rv_PatchRecord* pRecord)
{
    int nResult = 0;
    int nRetCode = 0;
    int nRemoteSize = 0;
    int nLocalSize = 0;
    CHttpDownload Http;

    RVLOG_PROCESS_ERROR(!m_strURLPrefix.empty());
    RVLOG_PROCESS_ERROR(!m_strSaveFilePath.empty());
    nRetCode = Http.QueryFileSize((m_strURLPrefix + pRecord->strFileName).c_str(), m_strSaveFilePath.c_str(),
                                  &nRemoteSize, &nLocalSize);
    RVLOG_PROCESS_ERROR(nRetCode);
    pRecord->nFileSize = (int64_t)(uint32_t)nRemoteSize;

    nResult = 1;
Exit0:
    return nResult;
}

int Rv_PatchDownloader::InitAllPatchFileSize()
{
    int nResult = 0;
    int nRetCode = 0;

    for (Rv_PatchRecord& Record : m_PatchList) {
        nRetCode = _InitPatchFileSize(&Record);
        RVLOG_PROCESS_ERROR(nRetCode);
    }
    nResult = 1;
Exit0:
    return nResult;
}
