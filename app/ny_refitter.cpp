// The updater object: set-up and tear-down, the table of the movie's calls,
// the status and error routines with the first-error rule, the close routine,
// and the progress texts (see ny_refitter.h).
#include "app/ny_refitter.h"

#include <cstring>
#include <strings.h>

#include "app/load_string.h"
#include "app/update_steps.h"
#include "config/application_path.h"
#include "foundation/countof.h"
#include "foundation/log.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "platform/message_box.h"
#include "platform/screen.h"
#include "telemetry/client_report.h"

namespace {

enum {
    COLOR_KEY_LOW_DEPTH = 0x313063,
    COLOR_KEY = 0x333366,
};

} // namespace

NyRefitter::NyRefitter() : m_strUpdatingLabel(_LoadText(RV_IDS_UPDATING))
{
    m_szManualPatchFileName[0] = '\0';
}

NyRefitter::~NyRefitter()
{
    _JoinRefresher();
    m_DevMessageThread.Wait();
    m_WorkThread.Wait();
}

std::string NyRefitter::_LoadText(unsigned uId)
{
    char szBuffer[RVU_STRING_BUFFER_SIZE];
    return RVU_LoadString(szBuffer, uId);
}

int NyRefitter::Init(const char* cszMoviePath)
{
    int nResult = 0;
    int nRetCode = 0;
    std::string strApplicationName;
    std::string::size_type uPos = 0;
    Pf_ScreenInfo screen{};
    uint32_t uColorKey = 0;
    std::string strTitle;

    RVLOG_PROCESS_ERROR(cszMoviePath);
    RVLOG_PROCESS_ERROR(cszMoviePath[0]);

    nRetCode = Rv_GetApplicationName(&strApplicationName);
    if (!nRetCode || strApplicationName.size() > 259) {
        RvLog_Write(RVLOG_ERROR, "Failed to init NyRefitter, Error code: %d", Pf_GetLastError());
        goto Exit0;
    }
    uPos = strApplicationName.find_last_of("\\/");
    m_strApplicationPath = uPos == std::string::npos ? std::string() : strApplicationName.substr(0, uPos + 1);

    nRetCode = Pf_GetScreenInfo(&screen);
    RVLOG_PROCESS_ERROR(nRetCode);
    uColorKey = screen.nBitsPerPixel <= 16 ? COLOR_KEY_LOW_DEPTH : COLOR_KEY;

    strTitle = _LoadText(RV_IDS_WINDOW_TITLE);
    nRetCode = m_FlashWindow.Create(cszMoviePath, this, "QV7Refitter", strTitle.c_str(),
                                    (screen.nWidth - NY_FLASH_WIDTH) / 2, (screen.nHeight - NY_FLASH_HEIGHT) / 2,
                                    uColorKey);
    RVLOG_PROCESS_ERROR(nRetCode && "m_FlashWindow.Create()");

    nRetCode = _StartAutoRefreshShowVersion();
    RVLOG_PROCESS_ERROR(nRetCode);

    nResult = 1;
Exit0:
    if (!nResult)
        RvLog_Write(RVLOG_ERROR, "Failed to init NyRefitter, Error code: %d", Pf_GetLastError());
    return nResult;
}

int NyRefitter::AutoUpdate(Pf_Event* phSuccessSelfUpdateEvent, Pf_Event* phFailedSelfUpdateEvent)
{
    int nResult = 0;

    RVLOG_PROCESS_ERROR((phSuccessSelfUpdateEvent && phFailedSelfUpdateEvent) ||
                        (!phSuccessSelfUpdateEvent && !phFailedSelfUpdateEvent));
    m_phSuccessSelfUpdateEvent = phSuccessSelfUpdateEvent;
    m_phFailedSelfUpdateEvent = phFailedSelfUpdateEvent;
    m_FlashWindow.RunMessageLoop();
    nResult = 1;
Exit0:
    return nResult;
}

int NyRefitter::ManualUpdate(const char* cszPatchFileName)
{
    int nResult = 0;
    size_t uLength = 0;

    RVLOG_PROCESS_ERROR(cszPatchFileName);
    RVLOG_PROCESS_ERROR(cszPatchFileName[0]);
    // Copied with the rest of the buffer zeroed; a path that fills it leaves no terminator.
    uLength = strnlen(cszPatchFileName, sizeof(m_szManualPatchFileName));
    memset(m_szManualPatchFileName, 0, sizeof(m_szManualPatchFileName));
    memcpy(m_szManualPatchFileName, cszPatchFileName, uLength);
    RVLOG_PROCESS_ERROR(m_szManualPatchFileName[_countof(m_szManualPatchFileName) - 1] == '\0');
    m_FlashWindow.RunMessageLoop();
    nResult = 1;
Exit0:
    if (!nResult)
        m_szManualPatchFileName[0] = '\0';
    return nResult;
}

void NyRefitter::_PostQuit()
{
    m_FlashWindow.PostQuit();
    if (m_FlashWindow.GetErrorCode() != 0)
        RvLog_Write(RVLOG_INFO, "Destroy window. err = %d", m_FlashWindow.GetErrorCode());
}

void NyRefitter::_JoinRefresher()
{
    Pf_MutexGuard guard(m_RefreshJoinLock);
    m_RefreshThread.Wait();
}

int NyRefitter::UnInit()
{
    if (m_bDownloading) {
        _StopDownloaders();
        m_bDownloading = 0;
    }
    m_bStop = 1;
    m_DevMessageThread.Wait();
    _JoinRefresher();
    _PostQuit();
    return 1;
}

int NyRefitter::FlashCallback(const std::string& strName, const std::vector<std::string>& vecArgs)
{
    static const CallEntry s_aCalls[] = {
        {"_FlashWindowReady_", &NyRefitter::_OnBeginUpdate},
        {"CheckQuit", &NyRefitter::_OnCheckQuit},
        {"StartGame", &NyRefitter::_OnStartGame},
        {"CloseWindow", &NyRefitter::_OnCloseWindow},
        {"OptionGame", &NyRefitter::_OnConfigGame},
        {"CanMove", nullptr},
        {"MinWindow", nullptr},
        {"Print", &NyRefitter::_OnPrintFlahLog},
        {"ReportControlClick", &NyRefitter::_OnReportControlClick},
        {"SetSkinID", &NyRefitter::_OnSetSkinID},
    };
    int nRetCode = 0;

    for (const CallEntry& entry : s_aCalls) {
        if (strcasecmp(entry.cszName, strName.c_str()) != 0)
            continue;
        if (!entry.pfnHandler)
            return 0;
        nRetCode = (this->*entry.pfnHandler)(vecArgs);
        if (!nRetCode) {
            RvLog_WriteCheck("RVLOG_PROCESS_ERROR(%s) at line %d in %s\n", "nRetCode", __LINE__, __PRETTY_FUNCTION__);
            return 0;
        }
        return 1;
    }
    RvLog_Write(RVLOG_ERROR, "Unknown callback function name: %s", strName.c_str());
    return 0;
}

int NyRefitter::_OnCheckQuit(const std::vector<std::string>&)
{
    if (m_bQuit)
        _CloseWindow();
    return 1;
}

int NyRefitter::_OnCloseWindow(const std::vector<std::string>&)
{
    return _CloseWindow();
}

int NyRefitter::_OnPrintFlahLog(const std::vector<std::string>& vecArgs)
{
    int nResult = 0;
    RVLOG_PROCESS_ERROR(vecArgs.size() > 0);
    nResult = 1;
Exit0:
    return nResult;
}

int NyRefitter::_OnReportControlClick(const std::vector<std::string>& vecArgs)
{
    int nResult = 0;
    RVLOG_PROCESS_ERROR(vecArgs.size() > 0);
    RVLOG_CHECK_ERROR(g_ClientReport.ReportControlClick(vecArgs[0].c_str(), vecArgs.size() > 1 ? vecArgs[1].c_str() : ""));
    nResult = 1;
Exit0:
    return nResult;
}

int NyRefitter::_OnSetSkinID(const std::vector<std::string>& vecArgs)
{
    int nResult = 0;
    int nRetCode = 0;

    RVLOG_PROCESS_ERROR(vecArgs.size() > 0);
    {
        Pf_MutexGuard guard(m_ConfigLock);
        nRetCode = m_Config.SetSkinID(vecArgs[0].c_str());
    }
    RVLOG_PROCESS_ERROR(nRetCode);
    nResult = 1;
Exit0:
    return nResult;
}

int NyRefitter::_CallFlash(const char* cszCommand, const char* cszParameter)
{
    int nResult = 0;

    RVLOG_PROCESS_ERROR(cszCommand);
    RVLOG_PROCESS_ERROR(cszCommand[0]);
    RVLOG_PROCESS_ERROR(cszParameter);
    RVLOG_PROCESS_ERROR(cszParameter[0]);
    nResult = m_FlashWindow.SendCommandToFlash(cszCommand, {cszParameter});
Exit0:
    return nResult;
}

int NyRefitter::_SetStatusCode(int nStatus)
{
    int nResult = 0;
    int nRetCode = 0;
    const char* cszState = nullptr;
    unsigned uStringId = 0;
    std::string strText;
    std::string strWarning;

    if (nStatus == UPDATE_STATUS_COMPLETE) {
        nRetCode = _UpdateShowVersion();
        RVLOG_CHECK_ERROR(nRetCode);
        nRetCode = Rv_RunAfterUpdate(&strWarning);
        RVLOG_CHECK_ERROR(nRetCode && "Rv_RunAfterUpdate()");
        if (!strWarning.empty())
            _CallFlash("SetStatusWarnning", strWarning.c_str());
        if (m_Progress.GetAverageSpeed() > 0) {
            nRetCode = g_ClientReport.ReportDownloadSpeed(m_Progress.GetPeakSpeed(), m_Progress.GetAverageSpeed());
            RVLOG_CHECK_ERROR(nRetCode && "ReportDownloadSpeed()");
        }
        m_bQuit = m_bQuitWhenDone.load();
    } else if (nStatus == UPDATE_STATUS_LATEST) {
        nRetCode = Rv_RunIfNotNeedUpdate();
        RVLOG_CHECK_ERROR(nRetCode && "Rv_RunIfNotNeedUpdate()");
        m_bQuit = m_bQuitWhenDone.load();
    }

    m_nStatusCode = nStatus;

    nRetCode = Rv_GetStatusDisplay(nStatus, &cszState, &uStringId);
    if (!nRetCode) {
        RvLog_Write(RVLOG_ERROR, "Unexpected statuscode:%d", nStatus);
        goto Exit0;
    }
    _CallFlash("SetUpdateState", cszState);
    strText = _LoadText(uStringId);
    nResult = _CallFlash("SetTxtM", strText.c_str());
Exit0:
    return nResult;
}

int NyRefitter::_SetErrorCode(int nError)
{
    int nResult = 0;
    int nExpected = UPDATE_ERROR_NONE;
    unsigned uStringId = 0;
    std::string strText;

    // Only the first error of a run stays and is shown.
    if (!m_nErrorCode.compare_exchange_strong(nExpected, nError))
        return 1;
    if (nError == UPDATE_ERROR_NONE)
        return 1;

    m_bStop = 1;
    _JoinRefresher();

    uStringId = Rv_GetErrorStringId(nError);
    if (!uStringId) {
        RvLog_Write(RVLOG_ERROR, "Unexpected errcode:%d", nError);
        goto Exit0;
    }
    strText = _LoadText(uStringId);
    _CallFlash("SetTxtVersion", strText.c_str());
    nResult = _CallFlash("SetUpdateState", "1");
Exit0:
    return nResult;
}

int NyRefitter::_CloseWindow()
{
    int nStatus = m_nStatusCode;
    int bNoError = m_nErrorCode == UPDATE_ERROR_NONE;
    int nAnswer = 0;

    if (bNoError && (nStatus == UPDATE_STATUS_DOWNLOADING || nStatus == UPDATE_STATUS_SYNCHRONISING)) {
        unsigned uQuestion = nStatus == UPDATE_STATUS_DOWNLOADING ? RV_IDS_ASK_STOP_DOWNLOAD : RV_IDS_ASK_STOP_SYNC;
        nAnswer = Pf_MessageBox(_LoadText(uQuestion), _LoadText(RV_IDS_CAPTION), PF_MB_YESNO | PF_MB_ICONQUESTION);
        if (nAnswer == PF_IDNO)
            return 1;
    } else if (bNoError && !m_bWorkerEnded &&
               (nStatus == UPDATE_STATUS_PREPARING || nStatus == UPDATE_STATUS_UPDATING)) {
        // The window stays while the update is prepared or applied.
        return 1;
    }

    RvLog_Write(RVLOG_INFO, "%u:Receive quit signal !\n", Pf_GetTickCount());
    if (m_bDownloading)
        _StopDownloaders();
    if (m_bSynchronising)
        m_SyncFile.Abort();
    m_WorkThread.Wait();
    _PostQuit();
    return 1;
}

void NyRefitter::_StopDownloaders()
{
    // Both downloaders: a close during a re-download must end it too.
    m_PatchDownloader.Stop();
}

void NyRefitter::OnProgress(IDownloader* pDownloader, IHttpFile*, int)
{
    OnDownloadProgress(pDownloader, pDownloader->GetFileSize(), pDownloader->GetDownloadedSize());
}

void NyRefitter::OnDownloadProgress(const void* pvDownloader, int64_t llTotal, int64_t llDownloaded)
{
    int nRetCode = 0;
    RvProgressUpdate update;

    nRetCode = m_Progress.OnProgress(pvDownloader, llTotal, llDownloaded, Pf_GetTickCount(), m_strUpdatingLabel.c_str(),
                                     &update);
    RVLOG_PROCESS_ERROR(nRetCode);
    if (!update.strPercent.empty()) {
        _CallFlash("ProgressPercent", update.strPercent.c_str());
        _CallFlash("SetTxtM", update.strText.c_str());
    }
Exit0:
    return;
}

int NyRefitter::SetPercentRate(float fPercent)
{
    int nRetCode = SetProgressPercent(fPercent);
    RVLOG_CHECK_ERROR(nRetCode);
    return nRetCode;
}

int NyRefitter::SetProgressPercent(float fPercent)
{
    int nResult = 0;
    int nRetCode = 0;
    std::string strPercent;

    nRetCode = Rv_FormatPercent(fPercent, &strPercent);
    RVLOG_PROCESS_ERROR(nRetCode > 0 && strPercent.size() < 260);
    nResult = _CallFlash("ProgressPercent", strPercent.c_str());
Exit0:
    return nResult;
}

int NyRefitter::_SetShowVersion(const char* cszDescribe, const char* cszCurrent, const char* cszLatest, int bFlag)
{
    int nResult = 0;
    int nRetCode = 0;
    std::string strText;
    std::string strCurrentLabel = _LoadText(RV_IDS_CURRENT);
    std::string strLatestLabel = _LoadText(RV_IDS_LATEST);

    nRetCode = m_VersionText.Format(cszDescribe, cszCurrent, cszLatest, bFlag, m_nErrorCode != UPDATE_ERROR_NONE,
                                    strCurrentLabel.c_str(), strLatestLabel.c_str(), &strText);
    RVLOG_PROCESS_ERROR(nRetCode);
    nResult = _CallFlash("SetTxtVersion", strText.c_str());
Exit0:
    return nResult;
}
