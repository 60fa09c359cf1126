// Facts of the operating system as the updater asks them: a Windows-equivalent
// version, whether the host is 64-bit, the system folder, and the processor
// times. Under RV_SIM_ROOT the facts "os_version" ("major.minor.build"),
// "host_64bit" ("0" or "1") and "system_dir" (a folder) answer instead.
#pragma once
#include <cstdint>
#include <string>

struct Pf_OsVersion {
    uint32_t uMajor;
    uint32_t uMinor;
    uint32_t uBuild;
};
// This system counts as Windows 10.0, build 0.
int Pf_GetOsVersion(Pf_OsVersion* pRetVersion);
// 1 when the machine runs 64-bit programs.
int Pf_IsHost64Bit();
// The folder of the system's shared libraries, without a final separator.
int Pf_GetSystemDir(std::string* pstrRetDir);
// 1 when the system folder is one where Windows runtime libraries (D3DX9 and
// the like) are installed: only a simulated "system_dir" is. This system has
// no such runtime to install, so callers count those libraries as present.
int Pf_SystemDirHoldsWindowsLibraries();

// Processor times since boot, summed over all processors, in 100-ns units,
// counted the Windows way: the kernel time includes the idle time, so idle
// never exceeds kernel + user. Under RV_SIM_ROOT the fact "cpu_busy" (a
// percent) makes every two samples measure that load.
int Pf_GetSystemTimes(uint64_t* pullRetIdle, uint64_t* pullRetKernel, uint64_t* pullRetUser);
// The same from the text of a "/proc/stat" file.
int Pf_ParseSystemTimes(const std::string& strProcStat, uint64_t* pullRetIdle, uint64_t* pullRetKernel,
                        uint64_t* pullRetUser);
