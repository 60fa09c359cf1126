// The compatibility flag and the power, memory and processor checks.
#include "app/system_checks.h"

#include "app/load_string.h"
#include "config/application_path.h"
#include "foundation/log.h"
#include "foundation/system_helpers.h"
#include "platform/app_compat.h"
#include "platform/clock.h"
#include "platform/os_info.h"
#include "platform/power.h"
#include "platform/system_call.h"

namespace {

const char s_szMouseLayer[] = "NoDTToDITMouseBatch";

enum {
    RVU_IDS_WARN_POWER = 170,
    RVU_IDS_WARN_MEMORY = 171,
    RVU_IDS_WARN_CPU = 172,
};

}  // namespace

void RVU_AppendWarning(std::string* pstrWarning, const char* cszCode, unsigned uStringId)
{
    char szText[RVU_STRING_BUFFER_SIZE];
    if (!pstrWarning)
        return;
    if (!pstrWarning->empty())
        *pstrWarning += "&";
    *pstrWarning += cszCode;
    *pstrWarning += "|";
    *pstrWarning += RVU_LoadString(szText, uStringId);
}

int RVU_CheckMousePointerFreezesOnWin8Point1()
{
    int nResult = 0;
    long lRetCode = 0;
    Pf_OsVersion version{};
    std::string strExePath;
    char szValue[64];
    Pf_RegKey key;

    RVLOG_PROCESS_ERROR(Pf_GetOsVersion(&version));
    if (version.uMajor != 6 && version.uMinor < 2)
        goto Exit1;

    RVLOG_PROCESS_ERROR(Rv_GetApplicationName(&strExePath));
    lRetCode = Pf_CreateAppCompatLayersKey(&key);
    RVLOG_PROCESS_ERROR(lRetCode == ERROR_SUCCESS);

    lRetCode = key.QueryString(strExePath, szValue, sizeof(szValue));
    if (lRetCode == ERROR_SUCCESS || lRetCode == ERROR_MORE_DATA)
        goto Exit1;     // flagged already, by us or by the user

    lRetCode = key.SetString(strExePath, s_szMouseLayer);
    RVLOG_PROCESS_ERROR(lRetCode == ERROR_SUCCESS);
    RVLOG_CHECK_ERROR(Pf_StartAppCompatCacheFlush());
Exit1:
    nResult = 1;
Exit0:
    key.Close();
    return nResult;
}

int RVU_CheckLaptopPower(std::string* pstrWarning)
{
    int nResult = 0;
    Pf_PowerStatus status{};

    RVLOG_PROCESS_ERROR(Pf_GetSystemPowerStatus(&status));
    if (status.byBatteryLifePercent <= 100 && status.byACLineStatus == PF_AC_LINE_OFFLINE)
        RVU_AppendWarning(pstrWarning, "0", RVU_IDS_WARN_POWER);
    nResult = 1;
Exit0:
    return nResult;
}

int RVU_CheckFreeMemory(std::string* pstrWarning)
{
    int nResult = 0;
    Pf_GlobalMemoryStatusExFunction pfnGlobalMemoryStatusEx = nullptr;
    Pf_MemoryStatusEx status{};

    pfnGlobalMemoryStatusEx =
        (Pf_GlobalMemoryStatusExFunction)Pf_GetSystemCall("Kernel32.dll", "GlobalMemoryStatusEx");
    RVLOG_PROCESS_ERROR(pfnGlobalMemoryStatusEx);
    status.dwLength = sizeof(status);
    RVLOG_PROCESS_ERROR(pfnGlobalMemoryStatusEx(&status));
    if (status.ullAvailPhys < RVU_LOW_MEMORY_BYTES)
        RVU_AppendWarning(pstrWarning, "1", RVU_IDS_WARN_MEMORY);
    nResult = 1;
Exit0:
    return nResult;
}

int RVU_CheckCpuUsage(std::string* pstrWarning)
{
    CpuUsageSampler sampler;

    sampler.m_pfnGetSystemTimes = (Rv_GetSystemTimesFunction)Pf_GetSystemCall("Kernel32.dll", "GetSystemTimes");
    if (!sampler.m_pfnGetSystemTimes || !sampler.TakeFirstSample())
        return 1;
    Pf_Sleep(RVU_CPU_SAMPLE_MS);
    if (sampler.Sample() > (float)RVU_BUSY_CPU_PERCENT)
        RVU_AppendWarning(pstrWarning, "2", RVU_IDS_WARN_CPU);
    return 1;
}
