// The reports sent signed to the reporting service: the full client, the
// device, the updater start, the update, the resource sync, the client start
// and the laptop configuration, each under its own access key.
#include "telemetry/client_report.h"

#include "config/ny_config.h"
#include "foundation/log.h"
#include "platform/ini.h"
#include "telemetry/client_report_common.h"
#include "telemetry/http_upload.h"
#include "telemetry/machine_id.h"

#include <strings.h>

const char RV_REPORT_KEY_FULL_CLIENT[] = "e1939d3230027ef57caf73f9da07fcc2";
const char RV_REPORT_KEY_DEVICE[] = "c7300039e91058def222937e62722efe";
const char RV_REPORT_KEY_START_UPDATER[] = "ca5e892a6c7357442bb85115725292a1";
const char RV_REPORT_KEY_UPDATE[] = "9f6d2e6b3eb8ab189928e1198573cee9";
const char RV_REPORT_KEY_SYNC[] = "eea5c6f54a9310846cd5306292875b05";
const char RV_REPORT_KEY_START_CLIENT[] = "aaa3d8b940d405df2c572fd67b60f339";
const char RV_REPORT_KEY_LAPTOP_CONFIG[] = "a11874a942abb12c399cbe60e0ddfafe";

enum {
    RV_REPORT_FULL_UUID_SIZE = 256,
    RV_REPORT_LAPTOP_VALUE_SIZE = 256,
};

int Rv_ReportPostSigned(const char* cszPath, const char* cszKey, const Rv_ReportFields& fields, int bLog, int nLine,
                        const char* cszPretty)
{
    static const char s_cszFormat[] = "RVLOG_PROCESS_ERROR(%s) at line %d in %s\n";
    int nResult = 0;
    const char* cszFailed = nullptr;
    Rv_HttpUpload HttpUpload;

    if (!HttpUpload.Init(cszPath, cszKey)) {
        cszFailed = "nRetCode && \"HttpUpload.Init()\"";
        goto Exit0;
    }
    for (const auto& field : fields) {
        if (!HttpUpload.AddParam(field.first.c_str(), field.second.c_str())) {
            cszFailed = "nRetCode && \"HttpUpload.AddParam()\"";
            goto Exit0;
        }
    }
    if (!HttpUpload.Post()) {
        cszFailed = "nRetCode && \"HttpUpload.Post()\"";
        goto Exit0;
    }
    nResult = 1;
Exit0:
    if (cszFailed && bLog)
        RvLog_WriteCheck(s_cszFormat, cszFailed, nLine, cszPretty);
    HttpUpload.UnInit();
    return nResult;
}

// Sent only for the plain "zhcn" line; its failures after the configuration
// are not logged.
void NyClientReport::_ReportFullClientInfoThreadFunc(void*)
{
    int nRetCode = 0;
    NyConfig Config;
    char szUUID[RV_REPORT_FULL_UUID_SIZE];

    nRetCode = Config.LoadConfigParameters(false);
    RVLOG_PROCESS_ERROR(nRetCode);
    if (strcasecmp(Config.m_strVersionType.c_str(), "zhcn") != 0)
        goto Exit0;
    LoadMachineUUID();
    if (!GetMachineUUIDUtf8(RV_REPORT_FULL_UUID_SIZE, szUUID))
        goto Exit0;
    Rv_ReportPostSigned("/report/Qv7_dev/FullDev", RV_REPORT_KEY_FULL_CLIENT, Rv_ReportFields{{"uuid", szUUID}}, 0,
                        __LINE__, __PRETTY_FUNCTION__);
Exit0:
    return;
}

void NyClientReport::_ReportDeviceInfoThreadFunc(void* pvThis)
{
    NyClientReport* pThis = (NyClientReport*)pvThis;
    int nRetCode = 0;
    std::string strOS;
    std::string strCPU;
    std::string strVideoCard;
    std::string strMemory;
    std::string strHardDisk;
    std::string strDirectX;
    std::string strResolution;

    if (pThis->_IsInfoReported("DeviceInfoReported", 16))
        goto Exit0;

    if (!pThis->_GetOSInfoEx(&strOS)) {
        strOS.clear();
        if (!pThis->_GetOSInfo(&strOS))
            strOS.clear();
    }
    if (!pThis->_GetCPUInfo(&strCPU))
        strCPU.clear();
    if (!pThis->_GetVideoCardInfo(&strVideoCard))
        strVideoCard.clear();
    if (!pThis->_GetMemorySize(&strMemory))
        strMemory.clear();
    if (!pThis->_GetHardDiskInfo(&strHardDisk))
        strHardDisk.clear();
    if (!pThis->_GetDirectXVersionInfoEx(&strDirectX))
        strDirectX.clear();
    if (!pThis->_GetMetricsInfo(&strResolution))
        strResolution.clear();

    nRetCode = RV_REPORT_POST_SIGNED("/report/Qv7_dev/device", RV_REPORT_KEY_DEVICE,
                                     Rv_ReportFields{{"uuid", pThis->m_szMachineUUID},
                                                     {"os", strOS},
                                                     {"cpu", strCPU},
                                                     {"video_card", strVideoCard},
                                                     {"ram", strMemory},
                                                     {"hard_disk", strHardDisk},
                                                     {"dx", strDirectX},
                                                     {"resolution", strResolution}});
    if (!nRetCode)
        goto Exit0;
    nRetCode = pThis->_SetSentInfoReported("DeviceInfoReported", 16, pThis->m_szMachineUUID);
    RVLOG_PROCESS_ERROR(nRetCode && "_SetInfoReported()");
Exit0:
    return;
}

void NyClientReport::_ReportStartUpdaterInfoThreadFunc(void* pvThis)
{
    NyClientReport* pThis = (NyClientReport*)pvThis;
    Rv_ReportFields fields = {{"uuid", pThis->m_szMachineUUID}};

    Rv_AddReportOutcome(&fields, pThis->m_nSentStartUpdaterError);
    RV_REPORT_POST_SIGNED("/report/Qv7_dev/start_refitter", RV_REPORT_KEY_START_UPDATER, fields);
}

void NyClientReport::_ReportUpdateInfoThreadFunc(void* pvThis)
{
    NyClientReport* pThis = (NyClientReport*)pvThis;
    int nRetCode = 0;
    std::string strAfterVersion;
    Rv_ReportFields fields = {{"uuid", pThis->m_szMachineUUID}};

    Rv_AddReportOutcome(&fields, pThis->m_nSentUpdateError);
    fields.emplace_back("before_version", pThis->m_strBeforeVersion);
    nRetCode = pThis->_GetCurrentVersionNumber(&strAfterVersion);
    RVLOG_CHECK_ERROR(nRetCode && "_GetCurrentVersionNumber");
    if (!nRetCode)
        strAfterVersion.clear();
    fields.emplace_back("after_version", strAfterVersion);
    RV_REPORT_POST_SIGNED("/report/Qv7_dev/update", RV_REPORT_KEY_UPDATE, fields);
}

void NyClientReport::_ReportSyncInfoThreadFunc(void* pvThis)
{
    NyClientReport* pThis = (NyClientReport*)pvThis;
    Rv_ReportFields fields = {{"uuid", pThis->m_szMachineUUID}};

    Rv_AddReportOutcome(&fields, pThis->m_nSentSyncError);
    RV_REPORT_POST_SIGNED("/report/Qv7_dev/sync_resource", RV_REPORT_KEY_SYNC, fields);
}

void NyClientReport::_ReportStartClientInfoThreadFunc(void* pvThis)
{
    NyClientReport* pThis = (NyClientReport*)pvThis;
    int nRetCode = 0;
    int nDx11Enable = 0;
    std::string strVersion;
    std::string strCpuUsage;
    std::string strFreeMemory;
    std::string strDx9;
    std::string strDx11;
    Rv_ReportFields fields = {
        {"uuid", pThis->m_szMachineUUID},
        {"type", Rv_ReportFlagText(pThis->m_nSentStartType)},
    };

    nRetCode = pThis->_GetCurrentVersionNumber(&strVersion);
    RVLOG_CHECK_ERROR(nRetCode && "_GetCurrentVersionNumber");
    if (!nRetCode)
        strVersion.clear();
    fields.emplace_back("version", strVersion);
    fields.emplace_back("clientIsX64", Rv_ReportFlagText(pThis->m_nSentClientIsX64));

    pThis->_GetEnvironment(&strCpuUsage, &strFreeMemory, &strDx9, &strDx11);
    fields.emplace_back("cpu_usage", strCpuUsage);
    fields.emplace_back("free_ram", strFreeMemory);
    fields.emplace_back("dx9Installed", strDx9);
    fields.emplace_back("dx11Installed", strDx11);

    nDx11Enable = pThis->_IsDx11Enable();
    fields.emplace_back("dx9Enable", nDx11Enable ? "0" : "1");
    fields.emplace_back("dx11Enable", nDx11Enable ? "1" : "0");
    RV_REPORT_POST_SIGNED("/report/Qv7_dev/start_client", RV_REPORT_KEY_START_CLIENT, fields);
}

void NyClientReport::_ReportLaptopConfigThreadFunc(void* pvThis)
{
    static const char* const s_acszKeys[] = {
        "UsePerfMgr",  "EnableTitlePriority", "UseSimplePhysics", "UseIPPVideo",
        "EnableDynamicLoadByFrustum", "UniformByForce", "RestrictFps", "UseSmallerTexture",
        "EnablePreload", "EnablePreloadSFX", "EnablePreloadTani",
    };
    NyClientReport* pThis = (NyClientReport*)pvThis;
    std::string strConfigIni = pThis->m_strExeFolder + "config.ini";
    Rv_ReportFields fields = {{"uuid", pThis->m_szMachineUUID}};

    for (const char* cszKey : s_acszKeys) {
        std::string strValue;
        // A value too long for its buffer is sent as absent, not cut.
        if (!Rv_ReadReportIniText(strConfigIni, "Advance", cszKey, "0", RV_REPORT_LAPTOP_VALUE_SIZE, &strValue))
            strValue.assign(1, '0');
        fields.emplace_back(cszKey, strValue);
    }
    RV_REPORT_POST_SIGNED("/report/Qv7_dev/laptop_config", RV_REPORT_KEY_LAPTOP_CONFIG, fields);
}
