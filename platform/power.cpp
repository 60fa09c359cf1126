// Power status from /sys/class/power_supply and memory status from
// /proc/meminfo, or from the simulated machine's facts.
#include "platform/power.h"

#include "platform/file.h"
#include "platform/sim.h"
#include "platform/system_probe.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <vector>

namespace {

const char s_szPowerSupplyDir[] = "/sys/class/power_supply";

std::string _ReadTrimmed(const std::string& strPath)
{
    std::string strText;
    if (!Pf_ReadWholeFile(strPath, &strText))
        return std::string();
    while (!strText.empty() && (strText.back() == '\n' || strText.back() == '\r' || strText.back() == ' '))
        strText.pop_back();
    return strText;
}

// A small fact that must be a number from 0 to 255.
int _SimReadByte(const char* cszName, uint8_t* pbyRet)
{
    uint64_t ullValue = 0;
    if (!Pf_SimReadU64(cszName, &ullValue) || ullValue > 255)
        return 0;
    *pbyRet = (uint8_t)ullValue;
    return 1;
}

void _ReadMachinePowerStatus(Pf_PowerStatus* pStatus)
{
    std::vector<Pf_DirEntry> vecEntries;
    int bMains = 0, bMainsOnline = 0, bBattery = 0, bDischarging = 0;
    unsigned uPercent = PF_BATTERY_PERCENT_UNKNOWN;

    pStatus->byACLineStatus = PF_AC_LINE_ONLINE;      // a desktop without supplies listed
    pStatus->byBatteryLifePercent = PF_BATTERY_PERCENT_UNKNOWN;
    if (!Pf_ListDir(s_szPowerSupplyDir, &vecEntries))
        return;
    for (const Pf_DirEntry& entry : vecEntries) {
        if (entry.strName[0] == '.')
            continue;
        std::string strDir = std::string(s_szPowerSupplyDir) + "/" + entry.strName + "/";
        std::string strType = _ReadTrimmed(strDir + "type");
        if (strType == "Mains") {
            bMains = 1;
            if (_ReadTrimmed(strDir + "online") == "1")
                bMainsOnline = 1;
        } else if (strType == "Battery" && !bBattery) {
            std::string strCapacity = _ReadTrimmed(strDir + "capacity");
            if (strCapacity.empty())
                continue;
            bBattery = 1;
            uPercent = (unsigned)strtoul(strCapacity.c_str(), nullptr, 10);
            if (uPercent > 100)
                uPercent = 100;
            bDischarging = _ReadTrimmed(strDir + "status") == "Discharging";
        }
    }
    if (bMains)
        pStatus->byACLineStatus = bMainsOnline ? PF_AC_LINE_ONLINE : PF_AC_LINE_OFFLINE;
    else if (bBattery)
        pStatus->byACLineStatus = bDischarging ? PF_AC_LINE_OFFLINE : PF_AC_LINE_ONLINE;
    pStatus->byBatteryLifePercent = (uint8_t)uPercent;
}

// "MemTotal:  16307344 kB" and the like, in bytes.
int _ReadMeminfoValue(const std::string& strMeminfo, const char* cszKey, uint64_t* pullRetBytes)
{
    std::istringstream lines(strMeminfo);
    std::string strLine;
    size_t uKeyLen = strlen(cszKey);
    while (std::getline(lines, strLine)) {
        if (strLine.compare(0, uKeyLen, cszKey) != 0 || strLine.size() <= uKeyLen || strLine[uKeyLen] != ':')
            continue;
        unsigned long long ullKiB = 0;
        if (sscanf(strLine.c_str() + uKeyLen + 1, "%llu", &ullKiB) != 1)
            return 0;
        *pullRetBytes = (uint64_t)ullKiB * 1024;
        return 1;
    }
    return 0;
}

}  // namespace

int Pf_GetSystemPowerStatus(Pf_PowerStatus* pRetStatus)
{
    if (!pRetStatus)
        return 0;
    _ReadMachinePowerStatus(pRetStatus);
    _SimReadByte("ac_line", &pRetStatus->byACLineStatus);
    _SimReadByte("battery_percent", &pRetStatus->byBatteryLifePercent);
    return 1;
}

int Pf_GlobalMemoryStatusEx(Pf_MemoryStatusEx* pStatus)
{
    std::string strMeminfo;
    uint64_t ullTotal = 0, ullAvail = 0, ullSwapTotal = 0, ullSwapFree = 0;

    if (!pStatus || pStatus->dwLength != sizeof(Pf_MemoryStatusEx)) {
        errno = EINVAL;
        return 0;
    }
    if (!Pf_ReadWholeFileAtMost(Pf_ProbePath("/proc/meminfo"), 1 << 20, &strMeminfo) ||
        !_ReadMeminfoValue(strMeminfo, "MemTotal", &ullTotal))
        return 0;
    if (!_ReadMeminfoValue(strMeminfo, "MemAvailable", &ullAvail))
        _ReadMeminfoValue(strMeminfo, "MemFree", &ullAvail);
    _ReadMeminfoValue(strMeminfo, "SwapTotal", &ullSwapTotal);
    _ReadMeminfoValue(strMeminfo, "SwapFree", &ullSwapFree);

    uint64_t ullSimAvail = 0;
    if (Pf_SimReadU64("available_memory", &ullSimAvail)) {
        ullAvail = ullSimAvail;
        if (ullTotal < ullAvail)
            ullTotal = ullAvail;
    }
    if (ullAvail > ullTotal)
        ullAvail = ullTotal;

    pStatus->dwMemoryLoad = ullTotal ? (uint32_t)(((ullTotal - ullAvail) * 100) / ullTotal) : 0;
    pStatus->ullTotalPhys = ullTotal;
    pStatus->ullAvailPhys = ullAvail;
    pStatus->ullTotalPageFile = ullTotal + ullSwapTotal;
    pStatus->ullAvailPageFile = ullAvail + ullSwapFree;
    pStatus->ullTotalVirtual = sizeof(void*) == 8 ? 0x7FFFFFFE0000ull : 0x7FFE0000ull;
    pStatus->ullAvailVirtual = pStatus->ullTotalVirtual;
    pStatus->ullAvailExtendedVirtual = 0;
    return 1;
}
