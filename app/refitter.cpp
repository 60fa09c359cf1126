// The top object: command-line modes, folders, named event, run and shut-down.
#include "app/refitter.h"

#include "app/feln_help_updater.h"
#include "app/log_cleanup.h"
#include "app/load_string.h"
#include "app/ny_refitter.h"
#include "app/self_updater.h"
#include "app/update_steps.h"
#include "app/updater_codes.h"
#include "foundation/process_count.h"
#include "foundation/system_helpers.h"
#include "config/application_path.h"
#include "foundation/log.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "platform/ini.h"
#include "platform/message_box.h"
#include "platform/process.h"
#include "platform/terminal_mode.h"
#include "platform/thread.h"
#include "resources/movie.h"
#include "telemetry/client_report.h"

#include <cstdio>
#include <cstring>
#include <strings.h>

static const char* const s_cszFelnEventName = "Global\\feln_qv7update_{0C941A6A}";
// How long a killed window copy may take to be gone.
static const uint32_t s_uKilledCopyWaitMs = 2000;

// Reads one handle value of "%p": blanks, then hexadecimal digits.
static int _ReadHandle(const char** ppcText, uint64_t* pullRetValue)
{
    const char* p = *ppcText;
    while (*p == ' ' || *p == '\t')
        ++p;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X'))
        p += 2;
    uint64_t ullValue = 0;
    int nDigits = 0;
    for (;; ++p, ++nDigits) {
        char c = *p;
        int nDigit = (c >= '0' && c <= '9') ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : (c >= 'A' && c <= 'F') ? c - 'A' + 10 : -1;
        if (nDigit < 0)
            break;
        if (nDigits >= 16)
            return 0;
        ullValue = ullValue * 16 + (uint64_t)nDigit;
    }
    if (nDigits == 0)
        return 0;
    *ppcText = p;
    *pullRetValue = ullValue;
    return 1;
}

int Rv_Refitter::_AnalyzeCommandLine(const char* cszCommandLine)
{
    int nResult = 0;
    int nRetCode = 0;
    size_t uLen = 0;
    const char* pcText = nullptr;
    uint64_t ullSuccess = 0;
    uint64_t ullFailed = 0;

    RvLog_Write(RVLOG_INFO, "Command line : %s", cszCommandLine);
    m_Parameter.nType = 0;
    m_Parameter.szManualPatchFileName[0] = '\0';
    RVLOG_PROCESS_SUCCESS(cszCommandLine[0] == '\0');
    if (strncasecmp(cszCommandLine, "-w", 2) == 0) {
        m_Parameter.nType = 1;
        pcText = cszCommandLine + 2;
        RVLOG_PROCESS_ERROR(_ReadHandle(&pcText, &ullSuccess) && _ReadHandle(&pcText, &ullFailed));
        RVLOG_PROCESS_ERROR(ullSuccess != 0 && ullFailed != 0);
        // Values that are not two events of ours leave both events unset:
        // the window runs, and its wait for the self-update fails.
        nRetCode = ullSuccess != ullFailed &&
                   Pf_AttachInheritedEvent(ullSuccess, 0, &m_Parameter.hSuccessSelfUpdateEvent) &&
                   Pf_AttachInheritedEvent(ullFailed, 0, &m_Parameter.hFailedSelfUpdateEvent);
        if (!nRetCode) {
            RvLog_Write(RVLOG_ERROR, "The handles %08llX and %08llX are not the self-update's events.",
                        (unsigned long long)ullSuccess, (unsigned long long)ullFailed);
            m_Parameter.hSuccessSelfUpdateEvent.Close();
            m_Parameter.hFailedSelfUpdateEvent.Close();
        }
    } else if (strncasecmp(cszCommandLine, "-a", 2) == 0) {
        m_Parameter.nType = 2;
    } else if (strncasecmp(cszCommandLine, "-q", 2) == 0) {
        m_Parameter.nType = 3;
    } else if (strncasecmp(cszCommandLine, "/felnupdate", 11) == 0) {
        m_Parameter.nType = 5;
    } else {
        m_Parameter.nType = 4;
        pcText = cszCommandLine;
        if (*pcText == '"')
            ++pcText;
        uLen = strlen(pcText);
        RVLOG_PROCESS_ERROR(uLen > 0);
        if (pcText[uLen - 1] == '"')
            --uLen;
        RVLOG_PROCESS_ERROR(uLen < sizeof(m_Parameter.szManualPatchFileName));
        memcpy(m_Parameter.szManualPatchFileName, pcText, uLen);
        m_Parameter.szManualPatchFileName[uLen] = '\0';
    }
Exit1:
    nResult = 1;
Exit0:
    if (!nResult) {
        m_Parameter.hSuccessSelfUpdateEvent.Close();
        m_Parameter.hFailedSelfUpdateEvent.Close();
    }
    return nResult;
}

int Rv_Refitter::_NotifyFelnEvent()
{
    int nResult = 0;
    RVLOG_PROCESS_ERROR(!m_hNotifyFelnEvent.IsValid());
    if (m_hNotifyFelnEvent.Open(s_cszFelnEventName)) {
        RVLOG_PROCESS_ERROR(m_hNotifyFelnEvent.Set());
        Pf_Sleep(500);
    } else {
        RVLOG_PROCESS_ERROR(m_hNotifyFelnEvent.Create(s_cszFelnEventName));
    }
    nResult = 1;
Exit0:
    return nResult;
}

int Rv_Refitter::Init(const char* cszCommandLine)
{
    int nResult = 0;
    std::string strPath;
    RVLOG_PROCESS_ERROR(cszCommandLine);
    RVLOG_PROCESS_ERROR(_AnalyzeCommandLine(cszCommandLine));
    RVLOG_PROCESS_ERROR(Rv_GetApplicationName(&strPath));
    if (m_Parameter.nType != 0)
        RVLOG_PROCESS_ERROR(Rv_AdjustApplicationPath(&strPath));
    m_strApplicationName = strPath;
    RVLOG_PROCESS_ERROR(Rv_CutAfterLastSeparator(strPath, &m_strApplicationPath));
    m_strUpdatePath = m_strApplicationPath + "update\\";
    RVLOG_PROCESS_ERROR(Rv_CreateDirOrFindExisting(m_strUpdatePath));
    if (m_Parameter.nType != 5) {
        RVLOG_PROCESS_ERROR(_NotifyFelnEvent());
        RVLOG_CHECK_ERROR(g_ClientReport.Init());
    }
    if (Pf_IniReadInt(m_strApplicationPath + "config.ini", "Log", "AutoDeleteUnnecessaryLogs", 0) != 0)
        RVLOG_CHECK_ERROR(_RemoveAllUnnecessaryLogs());
    nResult = 1;
Exit0:
    return nResult;
}

// The logs are written under the current folder, so that is where they are pruned.
int Rv_Refitter::_RemoveAllUnnecessaryLogs()
{
    int nResult = 0;
    std::string strCurrent;
    RVLOG_PROCESS_ERROR(Rv_GetCurrentDir(&strCurrent));
    RVLOG_PROCESS_ERROR(Rv_RemoveAllUnnecessaryLogs(strCurrent + "logs\\"));
    nResult = 1;
Exit0:
    return nResult;
}

// The windowless self-update: a window copy is started at once and waits
// on two inherited events for the outcome; when the updater's own files are
// replaced, the window copy is ended and a new copy of the new executable
// runs the ordinary update. On a terminal this process ends with the copy
// that goes on.
int Rv_Refitter::_SelfUpdate()
{
    int nResult = 0;
    int nRetCode = 0;
    int nNeedUpdateFlag = 0;
    unsigned uProcessCount = 0;
    char szText[RVU_STRING_BUFFER_SIZE];
    char szCaption[RVU_STRING_BUFFER_SIZE];
    char szArguments[128];
    Rv_SelfUpdater SelfUpdater;
    Pf_Event hSuccessEvent;
    Pf_Event hFailedEvent;
    Pf_Event* apInherit[2] = {&hSuccessEvent, &hFailedEvent};
    Pf_Process WindowProcess;
    Pf_Process NewProcess;
    // The window copy shares the terminal and is ended without a chance to
    // put back its mode.
    Pf_SavedTerminalMode TerminalMode;

    nRetCode = Rv_GetProcessCount(m_strApplicationName.c_str(), &uProcessCount);
    if (nRetCode && uProcessCount > 1) {
        Pf_MessageBox(RVU_LoadString(szText, RV_IDS_SELF_UPDATE_RUNNING),
                      RVU_LoadString(szCaption, RV_IDS_SELF_UPDATE_CAPTION), PF_MB_OK);
        RVLOG_PROCESS_ERROR(false && "Rv_GetProcessCount()");
    }

    nRetCode = hSuccessEvent.Init(0, 0, 1);
    RVLOG_PROCESS_ERROR(nRetCode && "CreateEvent(hSuccessEvent)");
    nRetCode = hFailedEvent.Init(0, 0, 1);
    RVLOG_PROCESS_ERROR(nRetCode && "CreateEvent(hFailedEvent)");

    nRetCode = snprintf(szArguments, sizeof(szArguments), "%s %s %s", "-w", Pf_EventHandleText(hSuccessEvent).c_str(),
                        Pf_EventHandleText(hFailedEvent).c_str());
    RVLOG_PROCESS_ERROR(nRetCode > 0 && nRetCode < (int)sizeof(szArguments));

    Pf_Sleep(1000);

    TerminalMode.Save();
    nRetCode = _CreateNewApplicationProcess(szArguments, apInherit, 2, &WindowProcess);
    RVLOG_CHECK_ERROR(nRetCode && "_CreateNewApplicationProcess(-w)");

    nRetCode = SelfUpdater.Init(m_strApplicationPath.c_str(), m_strUpdatePath.c_str());
    RVLOG_PROCESS_ERROR(nRetCode && "SelfUpdater.Init()");

    nRetCode = SelfUpdater.CheckNeedUpdate(&nNeedUpdateFlag);
    RVLOG_PROCESS_ERROR(nRetCode && "SelfUpdater.CheckNeedUpdate()");
    if (!nNeedUpdateFlag) {
        RvLog_Write(RVLOG_INFO, "The refitter is the latest, no self update needed.");
        RVLOG_PROCESS_ERROR(hSuccessEvent.Set());
        goto Exit1;
    }

    nRetCode = SelfUpdater.DownloadFiles();
    if (!nRetCode) {
        _ReportStartUpdaterError();
        RVLOG_PROCESS_ERROR(nRetCode && "SelfUpdater.DownloadFiles()");
    }

    // The window copy goes before its files are replaced; nobody waits for
    // the events from here on.
    if (WindowProcess.IsValid()) {
        RVLOG_CHECK_ERROR(WindowProcess.Terminate());
        // Gone for sure before its terminal's mode goes back.
        WindowProcess.Wait(s_uKilledCopyWaitMs);
        WindowProcess.Close();
        TerminalMode.Restore();
    }

    nRetCode = SelfUpdater.UpdateFiles();
    if (!nRetCode) {
        _ReportStartUpdaterError();
        // The window copy is gone: the files that are in place now (the old
        // ones where a replacement failed) run the ordinary update, so the
        // player is not left without an updater.
        RVLOG_CHECK_ERROR(_CreateNewApplicationProcess("-a", nullptr, 0, &NewProcess));
        RVLOG_PROCESS_ERROR(nRetCode && "SelfUpdater.UpdateFiles()");
    }

    nRetCode = _CreateNewApplicationProcess("-a", nullptr, 0, &NewProcess);
    RVLOG_PROCESS_ERROR(nRetCode && "_CreateNewApplicationProcess(-a)");
    RVLOG_CHECK_ERROR(hSuccessEvent.Set());

Exit1:
    nResult = 1;
Exit0:
    if (!nResult && hFailedEvent.IsValid())
        hFailedEvent.Set();
    hSuccessEvent.Close();
    hFailedEvent.Close();
    // On a terminal the person's shell waits for this process only: it stays
    // until the copy that goes on has ended, so that the copy keeps the
    // terminal's keys and prompts instead of drawing behind the shell.
    if (Pf_IsTerminal()) {
        if (WindowProcess.IsValid())
            WindowProcess.Wait(PF_WAIT_INFINITE);
        else
            NewProcess.Wait(PF_WAIT_INFINITE);
    }
    return nResult;
}

void Rv_Refitter::_ReportStartUpdaterError()
{
    g_ClientReport.m_nStartUpdaterError = 1;
    RVLOG_CHECK_ERROR(g_ClientReport.ReportStartUpdaterInfo());
}

// Starts the executable again with these arguments in the same current
// folder; only the events in ppInherit reach the new process.
int Rv_Refitter::_CreateNewApplicationProcess(const char* cszArguments, Pf_Event* const* ppInherit, int nInherit,
                                              Pf_Process* pRetProcess)
{
    int nResult = 0;
    int nRetCode = 0;
    char szCommandLine[772];

    RVLOG_PROCESS_ERROR(cszArguments);
    RVLOG_PROCESS_ERROR(pRetProcess);
    nRetCode = snprintf(szCommandLine, sizeof(szCommandLine), "\"%s\" %s", m_strApplicationName.c_str(), cszArguments);
    RVLOG_PROCESS_ERROR(nRetCode > 0 && nRetCode < (int)sizeof(szCommandLine));
    nRetCode = pRetProcess->Start(szCommandLine, "", ppInherit, nInherit);
    if (!nRetCode) {
        RvLog_Write(RVLOG_ERROR, "Failed to create process `%s`, Error code : %d.", szCommandLine, Pf_GetLastError());
        RVLOG_PROCESS_ERROR(false && "CreateProcess()");
    }
    RvLog_Write(RVLOG_INFO, "Started `%s`.", szCommandLine);
    nResult = 1;
Exit0:
    return nResult;
}

// The window copy: the movie written beside the update folder, the updater
// object built on it, the movie file removed once loaded, then the window
// runs until it closes.
int Rv_Refitter::_PatchUpdate()
{
    int nResult = 0;
    int nRetCode = 0;
    int bInitDone = 0;
    NyRefitter updater;
    std::string strMoviePath = m_strUpdatePath + "update.swf";

    RvLog_Write(RVLOG_INFO, "Update with the window, mode %d.", m_Parameter.nType);
    nRetCode = Rv_RunBeforeUpdate();
    RVLOG_CHECK_ERROR(nRetCode && "Rv_RunBeforeUpdate()");

    nRetCode = _WriteSwfFile(strMoviePath);
    RVLOG_PROCESS_ERROR(nRetCode);

    nRetCode = updater.Init(strMoviePath.c_str());
    RVLOG_PROCESS_ERROR(nRetCode);
    bInitDone = 1;

    nRetCode = g_ClientReport.SetRefitter(&updater);
    RVLOG_PROCESS_ERROR(nRetCode);

    Pf_DeleteNormalFile(strMoviePath);

    if (m_Parameter.nType >= 1 && m_Parameter.nType <= 3) {
        updater.SetQuitWhenDone(m_Parameter.nType == 3);
        if (m_Parameter.nType == 1)
            nRetCode = updater.AutoUpdate(&m_Parameter.hSuccessSelfUpdateEvent, &m_Parameter.hFailedSelfUpdateEvent);
        else
            nRetCode = updater.AutoUpdate(nullptr, nullptr);
    } else {
        nRetCode = updater.ManualUpdate(m_Parameter.szManualPatchFileName);
    }
    RVLOG_PROCESS_ERROR(nRetCode);

    nResult = 1;
Exit0:
    Pf_DeleteNormalFile(strMoviePath);
    if (bInitDone)
        updater.UnInit();
    return nResult;
}

// Writes the movie compiled into the executable, byte for byte.
int Rv_Refitter::_WriteSwfFile(const std::string& strPath)
{
    int nResult = 0;
    int nRetCode = 0;
    const char* pcData = Rv_GetMovieData();
    unsigned uSize = Rv_GetMovieSize();

    RVLOG_PROCESS_ERROR(pcData);
    RVLOG_PROCESS_ERROR(uSize > 0);
    Pf_SetReadOnly(strPath, 0);
    nRetCode = Pf_WriteFileAtomic(strPath, std::string(pcData, uSize));
    RVLOG_PROCESS_ERROR(nRetCode);
    nResult = 1;
Exit0:
    if (!nResult)
        RvLog_Write(RVLOG_ERROR, "Failed to write swf file, GetLastError() = %d", Pf_GetLastError());
    return nResult;
}

// The security-product check: answers whether patches are pending.
int Rv_Refitter::_FelnHelpUpdate()
{
    int nResult = 0;
    int nRetCode = 0;
    NyFelnHelpUpdater Updater;

    nRetCode = Updater.init();
    RVLOG_PROCESS_ERROR(nRetCode && "Updater.init()");
    nRetCode = Updater.run();
    RVLOG_PROCESS_ERROR(nRetCode && "Updater.run()");
    nResult = 1;
Exit0:
    return nResult;
}

int Rv_Refitter::Run()
{
    int nResult = 0;
    switch (m_Parameter.nType) {
    case 0:
        RVLOG_PROCESS_ERROR(_SelfUpdate());
        break;
    case 1:
    case 2:
    case 3:
    case 4:
        RVLOG_PROCESS_ERROR(_PatchUpdate());
        break;
    case 5:
        RVLOG_PROCESS_ERROR(_FelnHelpUpdate());
        break;
    default:
        RVLOG_PROCESS_ERROR(false && "Unknown parameter type.");
    }
    nResult = 1;
Exit0:
    return nResult;
}

int Rv_Refitter::UnInit()
{
    m_Parameter.hSuccessSelfUpdateEvent.Close();
    m_Parameter.hFailedSelfUpdateEvent.Close();
    m_hNotifyFelnEvent.Close();
    RvLog_Write(RVLOG_INFO, "%u:Close CRThread ...", Pf_GetTickCount());
    g_ClientReport.UnInit();
    RvLog_Write(RVLOG_INFO, "%u:Close CRThread done.", Pf_GetTickCount());
    return 1;
}
