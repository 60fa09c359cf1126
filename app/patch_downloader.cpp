// The patch-chain downloader: set-up, the patch list and the chain's queries.
#include "app/patch_downloader.h"
#include "foundation/log.h"
#include "platform/file.h"
#include "platform/path.h"

Rv_PatchDownloader::Rv_PatchDownloader() = default;

Rv_PatchDownloader::~Rv_PatchDownloader() = default;

void Rv_PatchDownloader::_FailRun()
{
    int nExpected = 1;
    m_nLastErrorCode.compare_exchange_strong(nExpected, -1);
}

int Rv_PatchDownloader::Init(const char* cszURLPrefix, const char* cszSaveFilePath,
                             const char* cszCurrentVersionNumber)
{
    int nResult = 0;
    int nRetCode = 0;

    RVLOG_PROCESS_ERROR(cszURLPrefix && cszURLPrefix[0]);
    RVLOG_PROCESS_ERROR(cszSaveFilePath && cszSaveFilePath[0]);
    RVLOG_PROCESS_ERROR(cszCurrentVersionNumber && cszCurrentVersionNumber[0]);

    m_strURLPrefix = Pf_WithSeparator(cszURLPrefix, '/');
    m_strSaveFilePath = Pf_WithSeparator(cszSaveFilePath);

    nRetCode = m_CurrentVersionNumber.ParseString(cszCurrentVersionNumber);
    RVLOG_PROCESS_ERROR(nRetCode && "m_CurrentVersionNumber.ParseString()");

    nResult = 1;
Exit0:
    if (!nResult)
        m_nLastErrorCode = -1;
    return nResult;
}

int Rv_PatchDownloader::_GetDownloadPatchList(const char* cszListFile)
{
    return Rv_ReadPatchList(cszListFile, m_CurrentVersionNumber, m_LatestVersionNumber, &m_PatchList);
}

int Rv_PatchDownloader::ReadListFile(const char* cszListFile, int* pnRetNeedDownloadFlag,
                                     std::string* pstrRetLatestVersion)
{
    int nResult = 0;
    int nRetCode = 0;
    std::string strLatest;

    RVLOG_PROCESS_ERROR(pnRetNeedDownloadFlag);
    *pnRetNeedDownloadFlag = 0;

    nRetCode = Rv_ReadPatchListValue(cszListFile, "Version", "LatestVersion", 128, &strLatest);
    RVLOG_PROCESS_ERROR(nRetCode > 0 && "Failed to load [Version]LatestVersion");
    nRetCode = m_LatestVersionNumber.ParseString(strLatest.c_str());
    RVLOG_PROCESS_ERROR(nRetCode && "m_LatestVersionNumber.ParseString()");

    if (m_LatestVersionNumber > m_CurrentVersionNumber) {
        nRetCode = _GetDownloadPatchList(cszListFile);
        RVLOG_PROCESS_ERROR(nRetCode && "_GetDonwloadPatchList()");
        *pnRetNeedDownloadFlag = 1;
    }
    if (pstrRetLatestVersion)
        *pstrRetLatestVersion = strLatest;

    nResult = 1;
Exit0:
    if (!nResult)
        _FailRun();
    return nResult;
}

int Rv_PatchDownloader::GetDXInstallerFile(std::string* pstrRetFile)
{
    int nResult = 0;
    int nRetCode = 0;
    std::string strFile;

    RVLOG_PROCESS_ERROR(pstrRetFile);
    RVLOG_PROCESS_ERROR(m_nDownloadDXFlag);
    strFile = m_strSaveFilePath + "dx9_43.zip";
    nRetCode = Pf_FileExists(strFile);
    RVLOG_PROCESS_ERROR(nRetCode);
    *pstrRetFile = strFile;

    nResult = 1;
Exit0:
    return nResult;
}

int Rv_PatchDownloader::GetDownloadedPatchNameList(Rv_PatchFileInfoList* pRetPatchNameList)
{
    int nResult = 0;

    RVLOG_PROCESS_ERROR(pRetPatchNameList);
    pRetPatchNameList->clear();
    GetPatchInfoList(*pRetPatchNameList);

    nResult = 1;
Exit0:
    return nResult;
}

int Rv_PatchDownloader::GetPatchInfoList(Rv_PatchFileInfoList& List)
{
    for (const Rv_PatchRecord& Record : m_PatchList)
        List.push_back(static_cast<const Rv_PatchFileInfo&>(Record));
    return 1;
}

int Rv_PatchDownloader::CanUpdateToLatest()
{
    if (m_CurrentVersionNumber >= m_LatestVersionNumber)
        return 1;
    if (!m_PatchList.empty() && m_PatchList.back().VersionTo >= m_LatestVersionNumber)
        return 1;
    _FailRun();
    return 0;
}
