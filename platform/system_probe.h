// Facts about the machine that the telemetry probes describe: the operating
// system's version record and its description, the processors, the memory.
//
// The facts come from /proc, /sys and /etc under the probe root: "/" on a
// real machine, or the folder "machine" of the simulated machine under
// RV_SIM_ROOT when that folder exists, so that tests describe a machine as a
// small tree of files. Facts this system has no file for are simulated
// machine facts (platform/sim.h) with the defaults given below.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// strPath ("/proc/meminfo") under the probe root.
std::string Pf_ProbePath(const std::string& strPath);

enum {
    PF_VER_PLATFORM_WIN32_WINDOWS = 1,
    PF_VER_PLATFORM_WIN32_NT = 2,
    PF_VER_NT_WORKSTATION = 1,
    PF_VER_NT_DOMAIN_CONTROLLER = 2,
    PF_VER_NT_SERVER = 3,
};

// The extended version record. Major, minor and build are those of
// Pf_GetOsVersion; the facts "os_platform_id" (default 2, NT),
// "os_product_type" (default 1, workstation), "os_service_pack" (default
// none) and "os_server_r2" (default 0) answer for the rest.
//
// On the real machine (no simulated "os_version") the version numbers are a
// stand-in, and the record also holds the system's own name and build, as
// the operating-system object below gives them (else the kernel's name and
// release); under a simulated version both are empty.
struct Pf_OsVersionEx {
    uint32_t uMajor = 0;
    uint32_t uMinor = 0;
    uint32_t uBuild = 0;
    uint32_t uPlatformId = 0;
    uint32_t uProductType = 0;
    std::string strServicePack;
    int bServerR2 = 0;
    std::string strOwnName;
    std::string strOwnBuild;
};
int Pf_GetOsVersionEx(Pf_OsVersionEx* pRetVersion);

// One text property of a management object: absent, or present as text.
struct Pf_OsProperty {
    int bPresent = 0;
    std::string strValue;
};
// The operating-system object of the management service: "Caption" (the
// PRETTY_NAME of /etc/os-release, else its NAME), "CSDVersion" (absent
// here), "BuildNumber" (/proc/sys/kernel/osrelease) and "OSArchitecture"
// ("64-bit" or "32-bit"). Fails when /etc/os-release cannot be read.
struct Pf_OsObject {
    Pf_OsProperty Caption;
    Pf_OsProperty CSDVersion;
    Pf_OsProperty BuildNumber;
    Pf_OsProperty OSArchitecture;
};
int Pf_GetOperatingSystemObjects(std::vector<Pf_OsObject>* pvecRetObjects);

// The number of logical processors: the "processor" entries of
// /proc/cpuinfo, else what the system says is online.
int Pf_GetLogicalProcessorCount(uint32_t* puRetCount);
// The name of processor nIndex (its "model name" in /proc/cpuinfo). Returns
// 0 when that processor or its name is missing.
int Pf_GetProcessorName(int nIndex, std::string* pstrRetName);

