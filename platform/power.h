// The machine's power and memory status: whether mains power is connected,
// the battery level, and the physical memory free for programs.
//
// Under RV_SIM_ROOT the facts "ac_line" (0 offline, 1 online, 255 unknown),
// "battery_percent" (0 to 100, 255 for no battery) and "available_memory"
// (bytes) answer instead; a fact that is not there is read from the machine.
#pragma once
#include <cstdint>

enum {
    PF_AC_LINE_OFFLINE = 0,
    PF_AC_LINE_ONLINE = 1,
    PF_AC_LINE_UNKNOWN = 255,
    PF_BATTERY_PERCENT_UNKNOWN = 255,
};

struct Pf_PowerStatus {
    uint8_t byACLineStatus;      // PF_AC_LINE_*
    uint8_t byBatteryLifePercent; // 0 to 100, or PF_BATTERY_PERCENT_UNKNOWN
};

int Pf_GetSystemPowerStatus(Pf_PowerStatus* pRetStatus);

// The memory status record of the system's memory call; its length field
// must say sizeof(Pf_MemoryStatusEx) before the call.
#pragma pack(push, 1)
struct Pf_MemoryStatusEx {
    uint32_t dwLength;
    uint32_t dwMemoryLoad;        // percent in use
    uint64_t ullTotalPhys;
    uint64_t ullAvailPhys;
    uint64_t ullTotalPageFile;
    uint64_t ullAvailPageFile;
    uint64_t ullTotalVirtual;
    uint64_t ullAvailVirtual;
    uint64_t ullAvailExtendedVirtual;
};
#pragma pack(pop)
static_assert(sizeof(Pf_MemoryStatusEx) == 64, "memory status record");

// The memory call ("kernel32.dll" "GlobalMemoryStatusEx" through
// Pf_GetSystemCall): fails unless dwLength is 64.
typedef int (*Pf_GlobalMemoryStatusExFunction)(Pf_MemoryStatusEx* pStatus);
int Pf_GlobalMemoryStatusEx(Pf_MemoryStatusEx* pStatus);
