// Operating-system facts from uname and /proc, or from the simulated machine.
#include "platform/os_info.h"

#include "platform/file.h"
#include "platform/sim.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <sys/utsname.h>
#include <unistd.h>

int Pf_GetOsVersion(Pf_OsVersion* pRetVersion)
{
    std::string strFact;
    if (Pf_SimRead("os_version", &strFact)) {
        unsigned uMajor = 0, uMinor = 0, uBuild = 0;
        int nRead = sscanf(strFact.c_str(), "%u.%u.%u", &uMajor, &uMinor, &uBuild);
        if (nRead < 2)
            return 0;
        *pRetVersion = {uMajor, uMinor, nRead == 3 ? uBuild : 0};
        return 1;
    }
    *pRetVersion = {10, 0, 0};
    return 1;
}

int Pf_IsHost64Bit()
{
    std::string strFact;
    if (Pf_SimRead("host_64bit", &strFact))
        return strFact == "1";
    struct utsname name;
    if (uname(&name) != 0)
        return sizeof(void*) == 8;
    return strstr(name.machine, "64") != nullptr;
}

int Pf_GetSystemDir(std::string* pstrRetDir)
{
    std::string strFact;
    if (Pf_SimRead("system_dir", &strFact) && !strFact.empty()) {
        while (strFact.size() > 1 && (strFact.back() == '/' || strFact.back() == '\\'))
            strFact.pop_back();
        *pstrRetDir = strFact;
        return 1;
    }
    *pstrRetDir = "/usr/lib";
    return 1;
}

int Pf_SystemDirHoldsWindowsLibraries()
{
    std::string strFact;
    return Pf_SimRead("system_dir", &strFact) && !strFact.empty();
}

int Pf_ParseSystemTimes(const std::string& strProcStat, uint64_t* pullRetIdle, uint64_t* pullRetKernel,
                        uint64_t* pullRetUser)
{
    if (strProcStat.compare(0, 4, "cpu ") != 0)
        return 0;
    // user nice system idle iowait irq softirq steal
    unsigned long long aull[8] = {};
    int nRead = sscanf(strProcStat.c_str() + 4, "%llu %llu %llu %llu %llu %llu %llu %llu", &aull[0], &aull[1], &aull[2],
                       &aull[3], &aull[4], &aull[5], &aull[6], &aull[7]);
    if (nRead < 4)
        return 0;
    long lHz = sysconf(_SC_CLK_TCK);
    uint64_t ullUnit = lHz > 0 ? 10000000ull / (uint64_t)lHz : 100000ull;
    uint64_t ullIdle = aull[3] + aull[4];
    uint64_t ullBusyKernel = aull[2] + aull[5] + aull[6] + aull[7];
    *pullRetIdle = ullIdle * ullUnit;
    *pullRetKernel = (ullBusyKernel + ullIdle) * ullUnit;
    *pullRetUser = (aull[0] + aull[1]) * ullUnit;
    return 1;
}

int Pf_GetSystemTimes(uint64_t* pullRetIdle, uint64_t* pullRetKernel, uint64_t* pullRetUser)
{
    std::string strText;
    uint64_t ullBusy = 0;
    if (Pf_SimReadU64("cpu_busy", &ullBusy) && ullBusy <= 100) {
        // Every call moves the simulated clock one second on, busy for the
        // fact's share of it, so any two samples measure exactly that share.
        static std::atomic<uint64_t> s_ullCalls{0};
        const uint64_t ullTotal = (++s_ullCalls) * 10000000ull;
        *pullRetIdle = ullTotal / 100 * (100 - ullBusy);
        *pullRetKernel = *pullRetIdle;
        *pullRetUser = ullTotal - *pullRetIdle;
        return 1;
    }
    if (!Pf_ReadWholeFile("/proc/stat", &strText))
        return 0;
    return Pf_ParseSystemTimes(strText, pullRetIdle, pullRetKernel, pullRetUser);
}
