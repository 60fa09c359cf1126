// Before- and after-update steps of the window copy.
#include "app/update_steps.h"

#include "app/redundant_files.h"
#include "app/runtime_installers.h"
#include "app/stream_downloader_control.h"
#include "app/system_checks.h"
#include "config/ny_config.h"
#include "foundation/log.h"
#include "foundation/registry_value.h"
#include "telemetry/client_report.h"
#include "telemetry/machine_id.h"

namespace {

enum { RV_UUID_BUFFER_SIZE = 132 };

// Steps 1 to 6 after the client is up to date; bAfterUpdate adds the version report.
void _RunWhenUpToDate(int bAfterUpdate)
{
    int nRetCode = 0;
    NyConfig config;

    if (bAfterUpdate) {
        nRetCode = g_ClientReport.ReportVersionInfo();
        RVLOG_CHECK_ERROR(nRetCode && "ReportVersionInfo()");
    }
    nRetCode = g_ClientReport.ReportQV7ChannelInfo();
    RVLOG_CHECK_ERROR(nRetCode && "ReportQV7ChannelInfo()");

    // What failed to load stays empty; the steps below still run.
    nRetCode = config.LoadConfigParameters(false);
    RVLOG_CHECK_ERROR(nRetCode && "LoadConfigParameters()");

    nRetCode = RVU_RemoveRedundantFiles(config.m_strApplicationPath.c_str());
    RVLOG_CHECK_ERROR(nRetCode && "RVU_RemoveRedundantFiles()");

    nRetCode = _WriteRegisterInfo(config.m_strVersionType.c_str(), config.m_strVersion.c_str(),
                                  config.m_strApplicationPath.c_str());
    RVLOG_CHECK_ERROR(nRetCode && "_WriteRegisterInfo()");

    nRetCode = RVU_CheckGameEnvironment();
    RVLOG_CHECK_ERROR(nRetCode && "RVU_CheckGameEnvironment()");

    nRetCode = Rv_LaunchVBunDownloader();
    RVLOG_CHECK_ERROR(nRetCode && "Rv_LaunchVBunDownloader()");
}

}  // namespace

int Rv_RunBeforeUpdate()
{
    int nRetCode = 0;

    nRetCode = Rv_StopVBunDownloader();
    RVLOG_CHECK_ERROR(nRetCode && "Rv_StopVBunDownloader()");

    nRetCode = RVU_MakeSureFlashInstalled();
    RVLOG_CHECK_ERROR(nRetCode && "RVU_MakeSureFlashInstalled()");

    nRetCode = RVU_CheckMousePointerFreezesOnWin8Point1();
    RVLOG_CHECK_ERROR(nRetCode && "RVU_CheckMousePointerFreezesOnWin8Point1()");

    nRetCode = g_ClientReport.RecordVersionNumber();
    RVLOG_CHECK_ERROR(nRetCode && "RecordVersionNumber()");

    nRetCode = g_ClientReport.ReportVersionInfo();
    RVLOG_CHECK_ERROR(nRetCode && "ReportVersionInfo()");
    nRetCode = g_ClientReport.ReportMachineInfo();
    RVLOG_CHECK_ERROR(nRetCode && "ReportMachineInfo()");
    nRetCode = g_ClientReport.Benchmark();
    RVLOG_CHECK_ERROR(nRetCode && "Benchmark()");
    nRetCode = g_ClientReport.ReportQV7AddonInfo();
    RVLOG_CHECK_ERROR(nRetCode && "ReportQV7AddonInfo()");
    nRetCode = g_ClientReport.ReportDeviceInfo();
    RVLOG_CHECK_ERROR(nRetCode && "ReportDeviceInfo()");
    return 1;
}

int Rv_RunAfterUpdate(std::string* pstrRetWarning)
{
    int nRetCode = 0;

    _RunWhenUpToDate(true);

    if (pstrRetWarning)
        pstrRetWarning->clear();
    nRetCode = RVU_CheckLaptopPower(pstrRetWarning);
    RVLOG_CHECK_ERROR(nRetCode && "RVU_CheckLaptopPower()");
    nRetCode = RVU_CheckFreeMemory(pstrRetWarning);
    RVLOG_CHECK_ERROR(nRetCode && "RVU_CheckFreeMemory()");
    nRetCode = RVU_CheckCpuUsage(pstrRetWarning);
    RVLOG_CHECK_ERROR(nRetCode && "RVU_CheckCpuUsage()");
    return 1;
}

int Rv_RunIfNotNeedUpdate()
{
    _RunWhenUpToDate(false);
    return 1;
}

int _WriteRegisterInfo(const char* cszVersionType, const char* cszVersion, const char* cszInstallPath)
{
    int nRetCode = 0;
    char szUUID[RV_UUID_BUFFER_SIZE] = {};

    nRetCode = Rv_SetStringValueToRegister(cszVersionType, "version", cszVersion);
    RVLOG_CHECK_ERROR(nRetCode && "Failed to write current version number.");

    nRetCode = Rv_SetStringValueToRegister(cszVersionType, "installPath", cszInstallPath);
    RVLOG_CHECK_ERROR(nRetCode && "Failed to write install path.");

    nRetCode = Rv_GetFelnUUIDEx(szUUID);
    if (!nRetCode) {
        RVLOG_CHECK_ERROR(false && "Failed to get uuid-ex.");
        return 1;
    }
    szUUID[RV_UUID_BUFFER_SIZE - 1] = '\0';
    nRetCode = Rv_SetStringValueToRegister(cszVersionType, "UUIDEx", szUUID);
    RVLOG_CHECK_ERROR(nRetCode && "Failed to write uuid-ex.");
    return 1;
}
