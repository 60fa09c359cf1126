// The updater object's worker: the manual patch, the automatic update
// (patch list, wait for the game client, downloads with the MD5 check and
// one re-download, the DirectX package, extraction in chain order), the
// reload of the configuration and the file synchronisation.
#include "app/ny_refitter.h"

#include <strings.h>

#include "app/patch_extractor.h"
#include "telemetry/client_report.h"
#include "app/patch_extractor_names.h"
#include "foundation/system_helpers.h"
#include "foundation/log.h"
#include "foundation/md5.h"
#include "foundation/process_count.h"
#include "foundation/zip.h"
#include "platform/clock.h"
#include "platform/crash_point.h"
#include "platform/file.h"
#include "platform/message_box.h"
#include "platform/process.h"
#include "telemetry/client_report.h"

namespace {

enum {
    WAIT_OBJECT_0 = 0,
    WAIT_FAILED = -1,
    // How often the wait for the self-updating parent looks whether it still runs.
    SELF_UPDATE_POLL_MS = 500,
    CLIENT_GRACE_MS = 2000,
};

const char* const s_cszClientExe = "QV7Client.exe";
const char* const s_cszClientX64Exe = "bin64\\QV7ClientX64.exe";

// The text after the last "/" or "\".
std::string _GetFileName(const std::string& strPath)
{
    std::string::size_type uPos = strPath.find_last_of("/\\");
    return uPos == std::string::npos ? strPath : strPath.substr(uPos + 1);
}

// Removes a file the update is done with, read-only or not.
void _RemoveUsedFile(const std::string& strPath)
{
    Pf_CrashPoint();
    Pf_DeleteNormalFile(strPath);
}

} // namespace

void NyRefitter::_WorkThreadFunction(void* pvThis)
{
    NyRefitter* pThis = (NyRefitter*)pvThis;
    pThis->_ThreadFunction();
    pThis->m_bWorkerEnded = 1;
    pThis->m_FlashWindow.PostWorkEnded();
}

int NyRefitter::_ThreadFunction()
{
    int nRetCode = _RunUpdateFlows();
    if (!nRetCode)
        _SetErrorCode(UPDATE_ERROR_UPDATE_FAILED);
    return nRetCode;
}

int NyRefitter::_RunUpdateFlows()
{
    int nResult = 0;
    int nRetCode = 0;

    if (m_szManualPatchFileName[0]) {
        nRetCode = _ManualUpdate();
        RVLOG_PROCESS_ERROR(nRetCode && "_ManualUpdate()");
    }
    nRetCode = _AutoUpdate();
    RVLOG_PROCESS_ERROR(nRetCode && "_AutoUpdate()");
    {
        Pf_MutexGuard guard(m_ConfigLock);
        nRetCode = m_Config.LoadConfigParameters(0);
    }
    RVLOG_PROCESS_ERROR(nRetCode && "LoadConfigParameters()");
    nRetCode = _SyncFunction();
    RVLOG_PROCESS_ERROR(nRetCode && "_SyncFunction()");

    nResult = 1;
Exit0:
    return nResult;
}

void NyRefitter::_GetConfigCopy(NyConfig* pRetConfig)
{
    Pf_MutexGuard guard(m_ConfigLock);
    *pRetConfig = m_Config;
}

// The update report. A failed run first gets the general error 208 (kept
// only when no error is set yet) and stores the error shown to the user as
// the reporter's update error; a successful one leaves it at 0.
void NyRefitter::_ReportUpdateOutcome(int bFailed)
{
    if (bFailed) {
        _SetErrorCode(UPDATE_ERROR_UPDATE_FAILED);
        g_ClientReport.m_nUpdateError = GetErrorCode();
    }
    RVLOG_CHECK_ERROR(g_ClientReport.ReportUpdateInfo());
}

int NyRefitter::_ManualUpdate()
{
    int nResult = 0;
    int nRetCode = 0;
    NyConfig config;
    Rv_VersionNumber Installed;
    Rv_VersionNumber From;
    Rv_VersionNumber To;
    std::string strPatchPath = m_szManualPatchFileName;
    std::string strName;

    RvLog_Write(RVLOG_INFO, "---------------------- begin manual update --------------------------");
    {
        Pf_MutexGuard guard(m_ConfigLock);
        nRetCode = m_Config.LoadConfigParameters(1);
        config = m_Config;
    }
    RVLOG_PROCESS_ERROR(nRetCode && "LoadConfigParameters()");
    RvLog_Write(RVLOG_INFO, "Current version=%s_%s", config.m_strVersion.c_str(), config.m_strVersionType.c_str());

    nRetCode = Installed.ParseString(config.m_strVersion.c_str());
    if (!nRetCode) {
        _SetErrorCode(UPDATE_ERROR_CONFIG_INCOMPLETE);
        RVLOG_PROCESS_ERROR(false && "package not match.");
    }

    strName = _GetFileName(strPatchPath);
    nRetCode = Rv_ParsePatchVersionInfo(strName.c_str(), &From, &To);
    if (!nRetCode) {
        _SetErrorCode(UPDATE_ERROR_PATCH_MISMATCH);
        RVLOG_PROCESS_ERROR(nRetCode && "Rv_ParsePatchVersionInfo()");
    }
    if (Installed == To)
        RVLOG_PROCESS_SUCCESS(true && "No new version.");
    if (Installed < From || Installed > To) {
        _SetErrorCode(UPDATE_ERROR_PATCH_MISMATCH);
        RVLOG_PROCESS_ERROR(false && "package not match.");
    }

    _SetStatusCode(UPDATE_STATUS_UPDATING);
    nRetCode = _ExtractUpdatePackage(strPatchPath);
    RVLOG_PROCESS_ERROR(nRetCode && "_ExtractUpdatePackage()");
    nRetCode = _UpdateShowVersion();
    RVLOG_PROCESS_ERROR(nRetCode && "_UpdateShowVersion()");
    _ReportUpdateOutcome(0);

Exit1:
    nResult = 1;
Exit0:
    if (!nResult) {
        _ReportUpdateOutcome(1);
    }
    RvLog_Write(RVLOG_INFO, "---------------------- end manual update --------------------------");
    return nResult;
}

int NyRefitter::_WaitForSelfUpdate()
{
    Pf_Event* apEvents[2] = {m_phSuccessSelfUpdateEvent, m_phFailedSelfUpdateEvent};
    int nIndex = 0;

    if (!apEvents[0]->IsValid() || !apEvents[1]->IsValid())
        return WAIT_FAILED;
    while (true) {
        if (Pf_WaitForAny(apEvents, 2, SELF_UPDATE_POLL_MS, &nIndex))
            return WAIT_OBJECT_0 + nIndex;
        // A parent that ended without a word never will: the wait fails.
        if (Pf_ParentProcessHasEnded()) {
            RvLog_Write(RVLOG_ERROR, "The self-updating process ended without a signal.");
            return WAIT_FAILED;
        }
    }
}

int NyRefitter::_WaitForGameClient()
{
    int nResult = 0;
    int nRetCode = 0;
    NyConfig config;
    std::string strClient;
    std::string strClientX64;
    unsigned uCount = 0;
    unsigned uCountX64 = 0;

    _GetConfigCopy(&config);
    strClient = config.m_strApplicationPath + s_cszClientExe;
    strClientX64 = config.m_strApplicationPath + s_cszClientX64Exe;
    for (int nPass = 0;; ++nPass) {
        nRetCode = Rv_GetProcessCount(strClient.c_str(), &uCount);
        RVLOG_PROCESS_ERROR(nRetCode);
        nRetCode = Rv_GetProcessCount(strClientX64.c_str(), &uCountX64);
        RVLOG_PROCESS_ERROR(nRetCode);
        if (uCount == 0 && uCountX64 == 0)
            break;
        if (nPass == 0) {
            Pf_Sleep(CLIENT_GRACE_MS);
            continue;
        }
        nRetCode = Pf_MessageBox(_LoadText(RV_IDS_CLOSE_CLIENT), _LoadText(RV_IDS_CAPTION),
                                 PF_MB_RETRYCANCEL | PF_MB_ICONWARNING);
        RVLOG_PROCESS_ERROR(nRetCode != PF_IDCANCEL);
    }
    nResult = 1;
Exit0:
    return nResult;
}

int NyRefitter::_AutoUpdate()
{
    int nResult = 0;
    int nRetCode = 0;
    NyConfig config;
    int nNeedUpdateFlag = 0;
    int nNeedDownloadDX = 0;
    int bHasUpdateFileWithWrong = 0;
    std::string strLatest;
    std::string strDXPackage;
    Rv_PatchFileInfoList PatchList;

    RvLog_Write(RVLOG_INFO, "---------------------- begin auto update --------------------------");
    {
        Pf_MutexGuard guard(m_ConfigLock);
        nRetCode = m_Config.LoadConfigParameters(1);
        config = m_Config;
    }
    RVLOG_PROCESS_ERROR(nRetCode && "LoadConfigParameters()");
    RvLog_Write(RVLOG_INFO, "Current version=%s_%s", config.m_strVersion.c_str(), config.m_strVersionType.c_str());

    _SetStatusCode(UPDATE_STATUS_PREPARING);

    if (m_phSuccessSelfUpdateEvent && m_phFailedSelfUpdateEvent) {
        nRetCode = _WaitForSelfUpdate();
        RVLOG_PROCESS_ERROR(nRetCode == WAIT_OBJECT_0);
    }
    RVLOG_CHECK_ERROR(g_ClientReport.ReportStartUpdaterInfo());

    nRetCode = m_PatchDownloader.Init(config.m_strDownloadURL.c_str(), config.m_strUpdatePath.c_str(),
                                      config.m_strVersion.c_str());
    if (!nRetCode) {
        _MapDownloadError();
        RVLOG_PROCESS_ERROR(nRetCode && "m_PatchDownloader.Init()");
    }

    m_bDownloading = 1;
    RVLOG_CHECK_ERROR(g_ClientReport.SetRefitter(this));
    _ShowDevMessageWindow();
    RvLog_Write(RVLOG_INFO, "---before _CheckNeedUpdate()");

    nRetCode = m_PatchDownloader.CheckNeedUpdate(&nNeedUpdateFlag, &strLatest);
    if (!nRetCode) {
        _MapDownloadError();
        RVLOG_PROCESS_ERROR(nRetCode && "m_PatchDownloader.CheckNeedUpdate()");
    }
    {
        Pf_MutexGuard guard(m_ConfigLock);
        m_strLatestVersion = strLatest;
    }
    RvLog_Write(RVLOG_INFO, "nNeedUpdateFlag = %d, strLastVersion = %s", nNeedUpdateFlag, strLatest.c_str());

    nNeedDownloadDX = RVU_IsDirectXPackageNeeded();
    if (nNeedDownloadDX)
        m_PatchDownloader.m_nDownloadDXFlag = 1;
    RvLog_Write(RVLOG_ERROR, " if (!nNeedUpdateFlag && !nNeedDownloadDX) nNeedUpdateFlag = %d nNeedDownloadDX = %d",
                nNeedUpdateFlag, nNeedDownloadDX);
    if (!nNeedUpdateFlag && !nNeedDownloadDX) {
        _SetStatusCode(UPDATE_STATUS_LATEST);
        goto Exit1;
    }

    _SetShowVersion(config.m_strVersionName.c_str(), config.m_strVersion.c_str(), strLatest.c_str(), 0);
    _SetStatusCode(UPDATE_STATUS_DOWNLOADING);

    nRetCode = _WaitForGameClient();
    RVLOG_PROCESS_ERROR(nRetCode && "_WaitForGameClient()");

    nRetCode = m_PatchDownloader.Download(this);
    if (!nRetCode) {
        _MapDownloadError();
        RVLOG_PROCESS_ERROR(nRetCode && "m_PatchDownloader.Download()");
    }
    if (nNeedDownloadDX) {
        nRetCode = m_PatchDownloader.GetDXInstallerFile(&strDXPackage);
        if (!nRetCode) {
            _MapDownloadError();
            RVLOG_PROCESS_ERROR(nRetCode && "m_PatchDownloader.GetDXInstallerFile()");
        }
    }
    nRetCode = m_PatchDownloader.GetDownloadedPatchNameList(&PatchList);
    if (!nRetCode) {
        _MapDownloadError();
        RVLOG_PROCESS_ERROR(nRetCode && "m_PatchDownloader.GetDownloadedPatchNameList()");
    }

    nRetCode = _CheckDownloadFileMD5(PatchList, &bHasUpdateFileWithWrong);
    RVLOG_PROCESS_ERROR(nRetCode && "_CheckDownloadFileMD5()");
    if (bHasUpdateFileWithWrong) {
        nRetCode = m_PatchDownloader.ReDownload(this);
        RVLOG_PROCESS_ERROR(nRetCode && "m_PatchDownloader.ReDownload()");
        nRetCode = _CheckDownloadFileMD5(PatchList, &bHasUpdateFileWithWrong);
        RVLOG_PROCESS_ERROR(nRetCode && "_CheckDownloadFileMD5()");
        RVLOG_PROCESS_ERROR(bHasUpdateFileWithWrong == 0);
    }

    _SetStatusCode(UPDATE_STATUS_UPDATING);

    if (nNeedDownloadDX) {
        nRetCode = _ExtractDirectXInstaller(strDXPackage);
        RVLOG_PROCESS_ERROR(nRetCode && "_ExtractDirectXInstaller()");
        _RemoveUsedFile(strDXPackage);
    }
    for (const Rv_PatchFileInfo& Patch : PatchList) {
        std::string strPatch = config.m_strUpdatePath + Patch.strFileName;
        nRetCode = _ExtractUpdatePackage(strPatch);
        RVLOG_PROCESS_ERROR(nRetCode && "_ExtractUpdatePackage()");
        _RemoveUsedFile(strPatch);
    }

    nRetCode = m_PatchDownloader.CanUpdateToLatest();
    if (!nRetCode) {
        _SetErrorCode(UPDATE_ERROR_NO_USABLE_PATCH);
        RVLOG_PROCESS_ERROR(false && "Can not update latest.");
    }
    _ReportUpdateOutcome(0);

Exit1:
    nResult = 1;
Exit0:
    if (!nResult) {
        _ReportUpdateOutcome(1);
    }
    RvLog_Write(RVLOG_INFO, "---------------------- end auto update --------------------------");
    return nResult;
}

int NyRefitter::_SyncFunction()
{
    int nResult = 0;
    int nRetCode = 0;
    NyConfig config;
    std::string strTempPath;

    _GetConfigCopy(&config);
    if (config.m_strSyncFileURL.empty())
        return 1;
    RvLog_Write(RVLOG_INFO, "Begin sync files ...");
    strTempPath = config.m_strUpdatePath + "/SyncFiles";
    RVLOG_PROCESS_ERROR(strTempPath.size() < 260);

    nRetCode = m_SyncFile.Init(config.m_strRootPath.c_str(), strTempPath.c_str(), config.m_strSyncFileURL.c_str(),
                               this);
    RVLOG_PROCESS_ERROR(nRetCode && "SyncFile.Init()");
    m_bSynchronising = 1;
    _SetStatusCode(UPDATE_STATUS_PREPARING);
    _SetStatusCode(UPDATE_STATUS_SYNCHRONISING);

    nRetCode = m_SyncFile.StartCheck();
    RVLOG_PROCESS_ERROR(nRetCode && "SyncFile.StartCheck()");
    if (!m_SyncFile.m_CorruptFileList.empty()) {
        nRetCode = m_SyncFile.StartSync();
        RVLOG_PROCESS_ERROR(nRetCode && "SyncFile.StartSync()");
    }

    _SetStatusCode(UPDATE_STATUS_UPDATING);
    _SetStatusCode(UPDATE_STATUS_COMPLETE);
    RvLog_Write(RVLOG_INFO, "Finish sync files ...");
    nRetCode = g_ClientReport.ReportSyncInfo();
    RVLOG_CHECK_ERROR(nRetCode && "ReportSyncInfo()");
    nResult = 1;
Exit0:
    if (!nResult) {
        _SetErrorCode(UPDATE_ERROR_SYNC_FAILED);
        g_ClientReport.m_nSyncError = m_nErrorCode;
        nRetCode = g_ClientReport.ReportSyncInfo();
        RVLOG_CHECK_ERROR(nRetCode && "ReportSyncInfo()");
    }
    if (m_bSynchronising) {
        m_SyncFile.Abort();
        m_bSynchronising = 0;
    }
    return nResult;
}

int NyRefitter::_MapDownloadError()
{
    int nError = 0;

    switch (m_PatchDownloader.m_nLastErrorCode) {
    case dec_ok:
    case dec_running:
        return 1;
    case dec_err_url:
    case dec_err_connect:
        nError = UPDATE_ERROR_CONNECT_TIMEOUT;
        break;
    case dec_err_disconnect:
        nError = UPDATE_ERROR_NETWORK_BROKEN;
        break;
    case dec_err_disk_space:
        nError = UPDATE_ERROR_DISK_FULL;
        break;
    case dec_err_write_file:
        nError = UPDATE_ERROR_WRITE_FILE;
        break;
    case dec_err_not_found:
        nError = UPDATE_ERROR_FILE_NOT_FOUND;
        break;
    default:
        nError = UPDATE_ERROR_UPDATE_FAILED;
        break;
    }
    _SetErrorCode(nError);
    return 1;
}

int NyRefitter::_CheckDownloadFileMD5(const Rv_PatchFileInfoList& PatchList, int* pbRetHasUpdateFileWithWrong)
{
    int nResult = 0;
    int nRetCode = 0;
    NyConfig config;
    char szMD5[33];
    std::string strPath;

    RVLOG_PROCESS_ERROR(pbRetHasUpdateFileWithWrong);
    *pbRetHasUpdateFileWithWrong = 0;
    _GetConfigCopy(&config);

    for (const Rv_PatchFileInfo& Patch : PatchList) {
        strPath = config.m_strUpdatePath + Patch.strFileName;
        nRetCode = MakeFileMD5(szMD5, strPath.c_str());
        if (!nRetCode) {
            RvLog_Write(RVLOG_INFO, "MakeFileMD5(): %s", strPath.c_str());
            szMD5[0] = '\0';
        }
        if (strcasecmp(szMD5, Patch.strMD5.c_str()) == 0)
            continue;
        RvLog_Write(RVLOG_ERROR, "The Patch %s with error md5.", Patch.strFileName.c_str());
        nRetCode = m_PatchDownloader.MarkFileToRedownload(Patch);
        RVLOG_PROCESS_ERROR(nRetCode && "MarkFileToRedownload()");
        _RemoveUsedFile(strPath);
        *pbRetHasUpdateFileWithWrong = 1;
    }
    nResult = 1;
Exit0:
    return nResult;
}

int NyRefitter::_ExtractUpdatePackage(const std::string& strPatchPath)
{
    int nResult = 0;
    int nRetCode = 0;
    NyConfig config;
    Rv_PatchExtractor PatchExtractor;

    _GetConfigCopy(&config);
    nRetCode = PatchExtractor.Init(config.m_strApplicationPath.c_str(), config.m_strUpdatePath.c_str());
    RVLOG_PROCESS_ERROR(nRetCode && "PatchExtractor.Init()");
    nRetCode = PatchExtractor.Extract(strPatchPath.c_str());
    RVLOG_PROCESS_ERROR(nRetCode && "PatchExtractor.Extract()");
    nResult = 1;
Exit0:
    if (!nResult)
        _SetErrorCode(PatchExtractor.GetErrorCode() == 2 ? UPDATE_ERROR_DISK_FULL : UPDATE_ERROR_UPDATE_FAILED);
    return nResult;
}

int NyRefitter::_ExtractDirectXInstaller(const std::string& strPackagePath)
{
    int nResult = 0;
    int nRetCode = 0;
    ZRESULT zRetCode = ZR_OK;
    ZipHandle* hZip = nullptr;
    ZipEntry Entry{};
    int nCount = 0;
    std::string strTarget;
    std::string strName;

    nRetCode = Rv_GetCurrentDir(&strTarget);
    RVLOG_PROCESS_ERROR(nRetCode);
    strTarget += "..\\..\\3rdParty\\";
    nRetCode = Rv_MakeSureDirExisted(strTarget.c_str());
    RVLOG_PROCESS_ERROR(nRetCode);

    hZip = OpenZip(strPackagePath.c_str());
    RVLOG_PROCESS_ERROR(hZip && "OpenZip()");
    zRetCode = GetZipItem(hZip, -1, &Entry);
    RVLOG_PROCESS_ERROR(zRetCode == ZR_OK && "GetZipItem(-1)");
    nCount = Entry.index;
    for (int i = 0; i < nCount; ++i) {
        zRetCode = GetZipItem(hZip, i, &Entry);
        RVLOG_PROCESS_ERROR(zRetCode == ZR_OK && "GetZipItem(i)");
        // An item must stay inside the target folder.
        strName = Entry.name;
        if ((Entry.attr & ZIP_ATTR_DIRECTORY) && !strName.empty() &&
            (strName.back() == '/' || strName.back() == '\\'))
            strName.pop_back();
        nRetCode = Rv_IsSafeRelativeItemName(strName);
        RVLOG_PROCESS_ERROR(nRetCode && "Rv_IsSafeRelativeItemName()");
        zRetCode = ExtractZipItem(hZip, i, (strTarget + Entry.name).c_str());
        RVLOG_PROCESS_ERROR(zRetCode == ZR_OK);
    }
    nResult = 1;
Exit0:
    if (hZip)
        CloseZipHandle(hZip);
    return nResult;
}
