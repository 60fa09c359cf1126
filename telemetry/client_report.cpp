// The reporter's set-up and shut-down, the report-thread slots and the rule
// by which an operation starts its thread, the once-per-machine flags in the
// updater ini file, and the click queue with its sender.
#include "telemetry/client_report.h"

#include "config/application_path.h"
#include "config/ny_config.h"
#include "foundation/log.h"
#include "platform/clock.h"
#include "platform/ini.h"
#include "telemetry/client_report_common.h"
#include "telemetry/machine_id.h"

#include <cstdio>
#include <cstring>
#include <strings.h>

NyClientReport g_ClientReport;

enum {
    RV_REPORT_PATH_MAX = 259,           // characters of the executable's path
    RV_REPORT_CLICK_RECORD_SIZE = 512,
    RV_REPORT_CLICK_PAUSE_MS = 50,
};

NyClientReport::NyClientReport() = default;

// Every thread still running reads the object: all of them end before any
// field goes.
NyClientReport::~NyClientReport()
{
    m_nRunFlag = 0;
    m_ClickThread.Wait();
    for (int nSlot = RV_REPORT_SLOT_COUNT - 1; nSlot >= 0; --nSlot)
        _WaitReportThread(nSlot);
}

int NyClientReport::Init()
{
    int nResult = 0;
    int nRetCode = 0;
    std::string strPath;
    std::string strStoredUUID;
    std::string strLineName;
    std::string strVersionEx;
    std::string strUpdaterIni;
    std::string strVersionCfg;

    // A second set-up would rewrite what running reports read.
    RVLOG_PROCESS_ERROR(!m_bInitFlag);

    if (!Rv_GetApplicationName(&strPath) || strPath.size() > RV_REPORT_PATH_MAX)
        goto Exit0;
    if (!Rv_CutAfterLastSeparator(strPath, &m_strExeFolder))
        goto Exit0;
    strUpdaterIni = m_strExeFolder + RV_REPORT_UPDATER_INI;
    strVersionCfg = m_strExeFolder + RV_REPORT_VERSION_CFG;

    // A stored value too long for its buffer differs from any identifier.
    if (!Rv_ReadReportIniText(strUpdaterIni, RV_REPORT_MACHINE_SECTION, "UUIDEx", "", RV_REPORT_TEXT_SIZE,
                              &strStoredUUID))
        strStoredUUID.clear();

    nRetCode = Rv_GetFelnUUIDEx(m_szFelnUUIDEx);
    RVLOG_PROCESS_ERROR(nRetCode && "Rv_GetFelnUUIDEx()");

    if (strStoredUUID.empty() || strcasecmp(strStoredUUID.c_str(), m_szFelnUUIDEx) != 0) {
        nRetCode = Pf_IniWriteString(strUpdaterIni, RV_REPORT_MACHINE_SECTION, "UUIDEx", m_szFelnUUIDEx);
        RVLOG_PROCESS_ERROR(nRetCode > 0);
        m_bUUIDChanged = 1;
    }

    LoadMachineUUID();
    m_szMachineUUID[0] = '\0';
    nRetCode = GetMachineUUIDUtf8(RV_REPORT_TEXT_SIZE, m_szMachineUUID);
    if (!nRetCode)
        m_szMachineUUID[0] = '\0';

    // A line name or versionex too long for its buffer fails rather than
    // giving a client type of a cut name.
    nRetCode = Rv_ReadReportIniText(strVersionCfg, "Version", "Talon5.VersionLineName", "", RV_REPORT_TEXT_SIZE,
                                    &strLineName);
    RVLOG_PROCESS_ERROR(nRetCode && "Talon5.VersionLineName");
    if (strLineName.empty())
        goto Exit0;
    nRetCode = Rv_ReadReportIniText(strVersionCfg, "Version", "Talon5.versionex", "", RV_REPORT_TEXT_SIZE,
                                    &strVersionEx);
    RVLOG_PROCESS_ERROR(nRetCode && "Talon5.versionex");

    if (!strVersionEx.empty())
        nRetCode = snprintf(m_szClientType, sizeof(m_szClientType), "QV7:%s-%s", strLineName.c_str(),
                            strVersionEx.c_str());
    else
        nRetCode = snprintf(m_szClientType, sizeof(m_szClientType), "QV7:%s", strLineName.c_str());
    RVLOG_PROCESS_ERROR(nRetCode > 0);
    if (!(nRetCode < _countof(m_szClientType))) {
        m_szClientType[0] = '\0';
        RVLOG_PROCESS_ERROR(nRetCode < _countof(m_szClientType));
    }

    m_nRunFlag = 1;
    nRetCode = m_ClickThread.Create(_ReportControlClickThreadFunc, this);
    RVLOG_PROCESS_ERROR(nRetCode);

    m_bInitFlag = 1;
    nResult = 1;
Exit0:
    return nResult;
}

// Reports that need no set-up may run without one: they are waited for in
// every case, so that none outlives the shut-down into the process's exit,
// where the libraries it uses are already taken down.
void NyClientReport::UnInit()
{
    if (m_bInitFlag) {
        m_nRunFlag = 0;
        m_ClickThread.Wait();
    }
    for (int nSlot = 0; nSlot < RV_REPORT_SLOT_COUNT; ++nSlot)
        _WaitReportThread(nSlot);
    if (!m_bInitFlag)
        return;

    m_bInitFlag = 0;
    m_bUUIDChanged = 0;
    m_szFelnUUIDEx[0] = '\0';
    m_szClientType[0] = '\0';
    m_szMachineUUID[0] = '\0';
    clientIsX64 = 0;
    m_nStartType = 0;
    m_nStartUpdaterError = 0;
    m_nUpdateError = 0;
    m_nSyncError = 0;
    m_strBeforeVersion.assign(1, '0');
}

// Two callers of one kind (the window's thread and the update worker) take
// turns: each waits for the thread before it, stores its values and starts its own.
int NyClientReport::_StartReportThread(int nSlot, Rv_ThreadFunction pfnThreadFunction,
                                       const std::function<void()>& fnStore)
{
    int nResult = 0;
    int nRetCode = 0;

    RVLOG_PROCESS_ERROR(nSlot >= 0 && nSlot < RV_REPORT_SLOT_COUNT);
    {
        Pf_MutexGuard guard(m_SlotLocks[nSlot]);
        m_ReportThreads[nSlot].Wait();
        if (fnStore)
            fnStore();
        nRetCode = m_ReportThreads[nSlot].Create(pfnThreadFunction, this);
    }
    RVLOG_PROCESS_ERROR(nRetCode);
    nResult = 1;
Exit0:
    return nResult;
}

void NyClientReport::_WaitReportThread(int nSlot)
{
    Pf_MutexGuard guard(m_SlotLocks[nSlot]);
    m_ReportThreads[nSlot].Wait();
}

int NyClientReport::ReportVersionInfo()
{
    int nResult = 0;
    RVLOG_PROCESS_ERROR(m_bInitFlag);
    RVLOG_PROCESS_ERROR(_StartReportThread(RV_REPORT_SLOT_VERSION_INFO, _ReportVersionInfoThreadFunc));
    nResult = 1;
Exit0:
    return nResult;
}

int NyClientReport::ReportMachineInfo()
{
    int nResult = 0;
    RVLOG_PROCESS_ERROR(m_bInitFlag);
    RVLOG_PROCESS_ERROR(_StartReportThread(RV_REPORT_SLOT_MACHINE_INFO, _ReportMachineInfoThreadFunc));
    nResult = 1;
Exit0:
    return nResult;
}

int NyClientReport::Benchmark()
{
    int nResult = 0;
    RVLOG_PROCESS_ERROR(m_bInitFlag);
    RVLOG_PROCESS_ERROR(_StartReportThread(RV_REPORT_SLOT_BENCHMARK, _BenchmarkThreadFunc));
    nResult = 1;
Exit0:
    return nResult;
}

int NyClientReport::ReportQV7ChannelInfo()
{
    int nResult = 0;
    RVLOG_PROCESS_ERROR(m_bInitFlag);
    RVLOG_PROCESS_ERROR(_StartReportThread(RV_REPORT_SLOT_CHANNEL_INFO, _ReportChannelInfoThreadFunc));
    nResult = 1;
Exit0:
    return nResult;
}

int NyClientReport::ReportQV7AddonInfo()
{
    int nResult = 0;
    RVLOG_PROCESS_ERROR(m_bInitFlag);
    RVLOG_PROCESS_ERROR(_StartReportThread(RV_REPORT_SLOT_ADDON_INFO, _ReportQV7AddonThreadFunc));
    nResult = 1;
Exit0:
    return nResult;
}

int NyClientReport::ReportDownloadSpeed(int64_t llPeakSpeed, int64_t llAverageSpeed)
{
    int nResult = 0;
    RVLOG_PROCESS_ERROR(m_bInitFlag);
    RVLOG_PROCESS_ERROR(_StartReportThread(RV_REPORT_SLOT_DOWNLOAD_SPEED, _ReportDownloadSpeedThreadFunc, [&] {
        m_llPeakSpeed = llPeakSpeed;
        m_llAverageSpeed = llAverageSpeed;
    }));
    nResult = 1;
Exit0:
    return nResult;
}

int NyClientReport::ReportMainStartInfo(int nStartSuccess, int nIsX64)
{
    int nResult = 0;
    RVLOG_PROCESS_ERROR(m_bInitFlag);
    RVLOG_PROCESS_ERROR(_StartReportThread(RV_REPORT_SLOT_MAIN_START_INFO, _ReportMainStartInfoThreadFunc, [&] {
        m_nStartSuccess = nStartSuccess;
        m_nMainStartIsX64 = nIsX64;
    }));
    nResult = 1;
Exit0:
    return nResult;
}

int NyClientReport::ReportDx11Info()
{
    return _StartReportThread(RV_REPORT_SLOT_DX11_INFO, _ReportDx11InfoThreadFunc);
}

int NyClientReport::ReportFullClientInfo()
{
    return _StartReportThread(RV_REPORT_SLOT_FULL_CLIENT_INFO, _ReportFullClientInfoThreadFunc);
}

int NyClientReport::ReportDeviceInfo()
{
    return _StartReportThread(RV_REPORT_SLOT_DEVICE_INFO, _ReportDeviceInfoThreadFunc);
}

int NyClientReport::ReportStartUpdaterInfo()
{
    return _StartReportThread(RV_REPORT_SLOT_START_UPDATER_INFO, _ReportStartUpdaterInfoThreadFunc,
                              [&] { m_nSentStartUpdaterError = m_nStartUpdaterError; });
}

int NyClientReport::ReportUpdateInfo()
{
    return _StartReportThread(RV_REPORT_SLOT_UPDATE_INFO, _ReportUpdateInfoThreadFunc,
                              [&] { m_nSentUpdateError = m_nUpdateError; });
}

int NyClientReport::ReportSyncInfo()
{
    return _StartReportThread(RV_REPORT_SLOT_SYNC_INFO, _ReportSyncInfoThreadFunc,
                              [&] { m_nSentSyncError = m_nSyncError; });
}

int NyClientReport::ReportStartClientInfo()
{
    return _StartReportThread(RV_REPORT_SLOT_START_CLIENT_INFO, _ReportStartClientInfoThreadFunc, [&] {
        m_nSentClientIsX64 = clientIsX64;
        m_nSentStartType = m_nStartType;
    });
}

int NyClientReport::ReportLaptopConfig()
{
    return _StartReportThread(RV_REPORT_SLOT_LAPTOP_CONFIG, _ReportLaptopConfigThreadFunc);
}

int NyClientReport::SetRefitter(NyRefitter* pRefitter)
{
    int nResult = 0;
    RVLOG_PROCESS_ERROR(pRefitter);
    m_pRefitter = pRefitter;
    nResult = 1;
Exit0:
    return nResult;
}

int NyClientReport::RecordVersionNumber()
{
    int nResult = 0;
    int nRetCode = 0;
    std::string strVersion;

    nRetCode = _GetCurrentVersionNumber(&strVersion);
    RVLOG_PROCESS_ERROR(nRetCode && "_GetCurrentVersionNumber");
    m_strBeforeVersion = strVersion;
    nResult = 1;
Exit0:
    return nResult;
}

int NyClientReport::_IsInfoReported(const char* cszKeyName, int nNumber)
{
    if (m_bUUIDChanged)
        return 0;
    return Pf_IniReadInt(m_strExeFolder + RV_REPORT_UPDATER_INI, RV_REPORT_MACHINE_SECTION, cszKeyName, 0) >= nNumber;
}

int NyClientReport::_SetInfoReported(const char* cszKeyName, int nNumber)
{
    int nResult = 0;
    int nRetCode = 0;
    char szBuffer[256];

    nRetCode = snprintf(szBuffer, sizeof(szBuffer), "%d", nNumber);
    RVLOG_PROCESS_ERROR(nRetCode > 0);
    RVLOG_PROCESS_ERROR(nRetCode < _countof(szBuffer));
    nRetCode = Pf_IniWriteString(m_strExeFolder + RV_REPORT_UPDATER_INI, RV_REPORT_MACHINE_SECTION, cszKeyName,
                                 szBuffer);
    RVLOG_PROCESS_ERROR(nRetCode > 0);
    nResult = 1;
Exit0:
    return nResult;
}

int NyClientReport::_SetSentInfoReported(const char* cszKeyName, int nNumber, const char* cszSentUUID)
{
    // The service cannot tell whose machine a report without an identifier
    // describes: it goes again in a run that has one.
    if (!cszSentUUID || !cszSentUUID[0]) {
        RvLog_Write(RVLOG_DEBUG, "%s stays unset: the report went out without a machine identifier", cszKeyName);
        return 1;
    }
    return _SetInfoReported(cszKeyName, nNumber);
}

int NyClientReport::ReportControlClick(const char* cszControlID, const char* cszLinkURL)
{
    int nResult = 0;
    int nRetCode = 0;
    char szReprotInfo[RV_REPORT_CLICK_RECORD_SIZE];

    RVLOG_PROCESS_ERROR(cszControlID);
    RVLOG_PROCESS_ERROR(cszControlID[0]);
    RVLOG_PROCESS_ERROR(cszLinkURL);

    nRetCode = snprintf(szReprotInfo, sizeof(szReprotInfo), "%d|%s|%s|\"%s\"", 1, m_szFelnUUIDEx, cszControlID,
                        cszLinkURL);
    RVLOG_PROCESS_ERROR(nRetCode > 0);
    RVLOG_PROCESS_ERROR(nRetCode < _countof(szReprotInfo));

    {
        Pf_MutexGuard guard(m_ClickLock);
        // Without a running sender (no set-up) nothing takes clicks away.
        RVLOG_PROCESS_ERROR(m_uClickCount < RV_REPORT_CLICK_QUEUE_MAX);
        m_ClickQueue.push_back(szReprotInfo);
        ++m_uClickCount;
    }
    nResult = 1;
Exit0:
    return nResult;
}

// Sends the queued records in order, one request at a time, with the lock
// held only to take one record. Once the run flag drops, what was queued
// before is still sent, so UnInit loses no click.
void NyClientReport::_ReportControlClickThreadFunc(void* pvThis)
{
    NyClientReport* pThis = (NyClientReport*)pvThis;
    NyConfig config;
    int bLastPass = 0;

    config.LoadConfigParameters(false);
    while (!bLastPass) {
        bLastPass = !pThis->m_nRunFlag;
        for (;;) {
            std::string strRecord;
            {
                Pf_MutexGuard guard(pThis->m_ClickLock);
                if (pThis->m_ClickQueue.empty())
                    break;
                strRecord = pThis->m_ClickQueue.front();
                pThis->m_ClickQueue.pop_front();
                --pThis->m_uClickCount;
            }
            pThis->_ReportControlClickInfo("", strRecord.c_str());
        }
        if (!bLastPass)
            Pf_Sleep(RV_REPORT_CLICK_PAUSE_MS);
    }
}
