// The reporter's probes of the moment: processor load, free memory, the
// DirectX presence flags, the configuration's DirectX 11 switch and the
// configured client version.
#include "telemetry/client_report.h"

#include "config/ny_config.h"
#include "foundation/log.h"
#include "foundation/system_helpers.h"
#include "platform/clock.h"
#include "platform/system_call.h"
#include "platform/power.h"

#include <sstream>

int NyClientReport::_GetEnvironment(std::string* pstrRetCpuUsage, std::string* pstrRetFreeMemory,
                                    std::string* pstrRetDx9, std::string* pstrRetDx11)
{
    CpuUsageSampler sampler;
    float fCpuUsage = 0.0f;
    Pf_MemoryStatusEx statex{};
    std::ostringstream stream;

    sampler.m_pfnGetSystemTimes = (Rv_GetSystemTimesFunction)Pf_GetSystemCall("Kernel32.dll", "GetSystemTimes");
    if (sampler.m_pfnGetSystemTimes && sampler.TakeFirstSample()) {
        Pf_Sleep(1000);
        fCpuUsage = sampler.Sample();
    }
    stream << fCpuUsage;
    if (pstrRetCpuUsage)
        *pstrRetCpuUsage = stream.str();

    stream.str("");
    statex.dwLength = sizeof(statex);
    if (!Pf_GlobalMemoryStatusEx(&statex))
        statex.ullAvailPhys = 0;
    stream << statex.ullAvailPhys;
    if (pstrRetFreeMemory)
        *pstrRetFreeMemory = stream.str();

    stream.str("");
    stream << (_IsDx9Installed() ? 1 : 0);
    if (pstrRetDx9)
        *pstrRetDx9 = stream.str();

    stream.str("");
    stream << (_IsDx11Installed() ? 1 : 0);
    if (pstrRetDx11)
        *pstrRetDx11 = stream.str();
    return 1;
}

int NyClientReport::_IsDx11Enable()
{
    int nResult = 0;
    int nRetCode = 0;
    NyConfig Config;

    nRetCode = Config.LoadConfigParameters(false);
    RVLOG_PROCESS_ERROR(nRetCode && "Config.LoadConfigParameters()");
    nResult = Config.m_nUse3DEngineDX11IfExist;
Exit0:
    return nResult;
}

int NyClientReport::_GetCurrentVersionNumber(std::string* pstrRetVersion)
{
    int nResult = 0;
    int nRetCode = 0;
    NyConfig Config;

    RVLOG_PROCESS_ERROR(pstrRetVersion);
    nRetCode = Config.LoadConfigParameters(false);
    RVLOG_PROCESS_ERROR(nRetCode && "Config.LoadConfigParameters()");
    *pstrRetVersion = Config.GetVersion();
    nResult = 1;
Exit0:
    return nResult;
}
