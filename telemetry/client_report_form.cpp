// The reports sent as form posts to the reporting service: the version, the
// machine, the add-on list, the download speed, the client's start, the
// DirectX 11 state and the queued clicks.
#include "telemetry/client_report.h"

#include "config/ny_config.h"
#include "foundation/log.h"
#include "platform/file.h"
#include "telemetry/client_report_common.h"
#include "transfer/http_sync_post.h"

#include <cinttypes>
#include <cstdio>

enum {
    RV_REPORT_SPEED_RECORD_SIZE = 512,
    RV_REPORT_ADDON_TEXT_SIZE = 1048576,    // bytes of the add-on list with its terminator
};

int Rv_ReportPostForm(const char* cszPath, const Rv_ReportFields& fields, int nLine, const char* cszPretty)
{
    static const char s_cszFormat[] = "RVLOG_PROCESS_ERROR(%s) at line %d in %s\n";
    Rv_HttpSyncPost HttpSyncPost;

    if (!HttpSyncPost.Init(cszPath)) {
        RvLog_WriteCheck(s_cszFormat, "nRetCode && \"HttpSyncPost.Init()\"", nLine, cszPretty);
        return 0;
    }
    for (const auto& field : fields) {
        if (!HttpSyncPost.AddParam(field.first.c_str(), field.second.c_str())) {
            RvLog_WriteCheck(s_cszFormat, "nRetCode && \"HttpSyncPost.AddParam()\"", nLine, cszPretty);
            return 0;
        }
    }
    if (!HttpSyncPost.Post()) {
        RvLog_WriteCheck(s_cszFormat, "nRetCode && \"HttpSyncPost.Post()\"", nLine, cszPretty);
        return 0;
    }
    return 1;
}

void NyClientReport::_ReportVersionInfoThreadFunc(void* pvThis)
{
    NyClientReport* pThis = (NyClientReport*)pvThis;
    int nRetCode = 0;
    NyConfig Config;
    Rv_ReportFields fields = {
        {"game_name", RV_REPORT_GAME_NAME},
        {"uuid4", pThis->m_szClientType},
        {"uuid5", pThis->m_szFelnUUIDEx},
    };

    nRetCode = Config.LoadConfigParameters(false);
    RVLOG_PROCESS_ERROR(nRetCode && "Config.LoadConfigParameters()");
    fields.emplace_back("version_type", "zhcn_DevCenter");
    fields.emplace_back("version_number", Config.m_strVersion);
    RV_REPORT_POST_FORM("/gamereport/Qv7/client_start_info.do", fields);
Exit0:
    return;
}

// The sub-folders of "Interface\" that hold an "info.ini", in the order found.
int NyClientReport::_GetQV7AddonInfo(std::vector<std::string>* pvecRetAddonInfo)
{
    int nResult = 0;
    int nRetCode = 0;
    std::string strFolder = m_strExeFolder;
    std::vector<Pf_DirEntry> vecEntries;

    RVLOG_PROCESS_ERROR(pvecRetAddonInfo);
    RVLOG_PROCESS_ERROR(pvecRetAddonInfo->empty());

    if (strFolder.empty() || (strFolder.back() != '\\' && strFolder.back() != '/'))
        strFolder += "\\";
    strFolder += "Interface\\";
    RVLOG_PROCESS_SUCCESS(!Pf_DirExists(strFolder));

    nRetCode = Pf_ListDir(strFolder, &vecEntries);
    RVLOG_PROCESS_ERROR(nRetCode);
    for (const Pf_DirEntry& entry : vecEntries) {
        // "." and ".." are the folder itself and its parent, never an add-on.
        if (!entry.bIsDir || entry.strName == "." || entry.strName == "..")
            continue;
        if (Pf_FileExists(strFolder + entry.strName + "\\info.ini"))
            pvecRetAddonInfo->push_back(entry.strName);
    }
Exit1:
    nResult = 1;
Exit0:
    return nResult;
}

void NyClientReport::_ReportQV7AddonThreadFunc(void* pvThis)
{
    NyClientReport* pThis = (NyClientReport*)pvThis;
    int nRetCode = 0;
    std::vector<std::string> vecAddonInfo;
    std::string strAddon;
    Rv_ReportFields fields;

    if (pThis->_IsInfoReported("AddonInfoReported", 4))
        goto Exit0;
    if (!pThis->_GetQV7AddonInfo(&vecAddonInfo) || vecAddonInfo.empty())
        goto Exit0;

    for (const std::string& strName : vecAddonInfo) {
        int nLeftSize = (int)(RV_REPORT_ADDON_TEXT_SIZE - strAddon.size());
        nRetCode = (int)strName.size() + 2;
        RVLOG_PROCESS_ERROR(nRetCode > 0 && nRetCode < nLeftSize);
        strAddon += strName + ",\n";
    }
    fields = {
        {"game_name", RV_REPORT_GAME_NAME},
        {"uuid4", pThis->m_szClientType},
        {"uuid5", pThis->m_szFelnUUIDEx},
        {"Addon", strAddon},
    };
    nRetCode = RV_REPORT_POST_FORM("/gamereport/qv7/client_addon_info.do", fields);
    if (!nRetCode)
        goto Exit0;
    nRetCode = pThis->_SetSentInfoReported("AddonInfoReported", 4, pThis->m_szFelnUUIDEx);
    RVLOG_PROCESS_ERROR(nRetCode && "_SetInfoReported()");
Exit0:
    return;
}

void NyClientReport::_ReportDownloadSpeedThreadFunc(void* pvThis)
{
    NyClientReport* pThis = (NyClientReport*)pvThis;
    int nRetCode = 0;
    char szReprotInfo[RV_REPORT_SPEED_RECORD_SIZE];

    nRetCode = snprintf(szReprotInfo, sizeof(szReprotInfo), "%s|%" PRId64 "|%" PRId64, pThis->m_szFelnUUIDEx,
                        pThis->m_llPeakSpeed, pThis->m_llAverageSpeed);
    RVLOG_PROCESS_ERROR(nRetCode > 0);
    RVLOG_PROCESS_ERROR(nRetCode < _countof(szReprotInfo));
    RV_REPORT_POST_FORM("/gamereport/Qv7/downloadspeed.do",
                        Rv_ReportFields{{"game_name", RV_REPORT_GAME_NAME}, {"value", szReprotInfo}});
Exit0:
    return;
}

int NyClientReport::_ReportControlClickInfo(const char* cszGameName, const char* cszControlClickInfo)
{
    int nResult = 0;

    RVLOG_PROCESS_ERROR(cszGameName);
    RVLOG_PROCESS_ERROR(cszControlClickInfo);
    RVLOG_PROCESS_ERROR(cszControlClickInfo[0]);
    nResult = RV_REPORT_POST_FORM("/report/Qv7/ControlClick",
                                  Rv_ReportFields{{"game_name", cszGameName}, {"value", cszControlClickInfo}});
Exit0:
    return nResult;
}

// Once per machine; a probe that fails sends its field empty.
void NyClientReport::_ReportMachineInfoThreadFunc(void* pvThis)
{
    NyClientReport* pThis = (NyClientReport*)pvThis;
    int nRetCode = 0;
    std::string strOS;
    std::string strVideoCard;
    std::string strCPU;
    std::string strMemory;
    std::string strDirectX;
    std::string strHardDisk;
    std::string strResolution;

    if (pThis->_IsInfoReported("MachineInfoReported", 8))
        goto Exit0;

    if (!pThis->_GetOSInfo(&strOS))
        strOS.clear();
    if (!pThis->_GetVideoCardInfo(&strVideoCard))
        strVideoCard.clear();
    if (!pThis->_GetCPUInfo(&strCPU))
        strCPU.clear();
    if (!pThis->_GetMemorySize(&strMemory))
        strMemory.clear();
    if (!pThis->_GetDirectXVersionInfo(&strDirectX))
        strDirectX.clear();
    if (!pThis->_GetHardDiskInfo(&strHardDisk))
        strHardDisk.clear();
    if (!pThis->_GetMetricsInfo(&strResolution))
        strResolution.clear();

    nRetCode = RV_REPORT_POST_FORM("/gamereport/Qv7/machine_info.do", Rv_ReportFields{{"game_name", RV_REPORT_GAME_NAME},
                                                                                      {"uuid4", "machine_info_v8"},
                                                                                      {"uuid5", pThis->m_szFelnUUIDEx},
                                                                                      {"os", strOS},
                                                                                      {"video_card", strVideoCard},
                                                                                      {"cpu", strCPU},
                                                                                      {"phys_memory", strMemory},
                                                                                      {"directx", strDirectX},
                                                                                      {"hard_disk", strHardDisk},
                                                                                      {"resolution", strResolution}});
    if (!nRetCode)
        goto Exit0;
    nRetCode = pThis->_SetSentInfoReported("MachineInfoReported", 8, pThis->m_szFelnUUIDEx);
    RVLOG_PROCESS_ERROR(nRetCode && "_SetInfoReported()");
Exit0:
    return;
}

void NyClientReport::_ReportMainStartInfoThreadFunc(void* pvThis)
{
    NyClientReport* pThis = (NyClientReport*)pvThis;

    RV_REPORT_POST_FORM("/gamereport/Qv7/main_start_info.do",
                        Rv_ReportFields{{"game_name", RV_REPORT_GAME_NAME},
                                        {"uuid4", pThis->m_szClientType},
                                        {"uuid5", pThis->m_szFelnUUIDEx},
                                        {"x64_system", Rv_ReportFlagText(pThis->_IsWow64())},
                                        {"start_success", Rv_ReportFlagText(pThis->m_nStartSuccess)},
                                        {"start_x64client", Rv_ReportFlagText(pThis->m_nMainStartIsX64)}});
}

void NyClientReport::_ReportDx11InfoThreadFunc(void* pvThis)
{
    NyClientReport* pThis = (NyClientReport*)pvThis;
    int nRetCode = 0;
    int bDx11Installed = Pf_FileExists("Rv3DEngineAdapter.dll");
    NyConfig Config;

    nRetCode = Config.LoadConfigParameters(false);
    RVLOG_PROCESS_ERROR(nRetCode);
    RV_REPORT_POST_FORM("/report/Qv7_dev/Dx11Info", Rv_ReportFields{{"version_type", "zhcn_DevCenter"},
                                                                    {"version_number", Config.m_strVersion},
                                                                    {"uuid5", pThis->m_szFelnUUIDEx},
                                                                    {"Dx11Installed", bDx11Installed ? "1" : "0"},
                                                                    {"Dx11Enable",
                                                                     Rv_ReportFlagText(pThis->_IsDx11Enable())}});
Exit0:
    return;
}
