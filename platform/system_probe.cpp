// Machine facts from /proc, /sys and /etc under the probe root (see system_probe.h).
#include "platform/system_probe.h"

#include "platform/file.h"
#include "platform/os_info.h"
#include "platform/sim.h"
#include "platform/text.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sstream>
#include <sys/utsname.h>
#include <unistd.h>

namespace {

// /proc/cpuinfo of a large machine stays well below this.
const size_t s_uMaxProcFile = 4u << 20;

// "key : value" lines of /proc/cpuinfo: the value of each processor's key, in order.
int _ReadCpuInfo(std::vector<std::string>* pvecRetNames)
{
    std::string strText;
    std::string strLine;
    int nProcessors = 0;
    if (!Pf_ReadWholeFileAtMost(Pf_ProbePath("/proc/cpuinfo"), s_uMaxProcFile, &strText))
        return -1;
    std::istringstream lines(strText);
    while (std::getline(lines, strLine)) {
        size_t uColon = strLine.find(':');
        if (uColon == std::string::npos)
            continue;
        std::string strKey = Pf_Trim(strLine.substr(0, uColon));
        std::string strValue = Pf_Trim(strLine.substr(uColon + 1));
        if (strKey == "processor") {
            ++nProcessors;
            pvecRetNames->resize((size_t)nProcessors);
        } else if (strKey == "model name" && nProcessors > 0) {
            (*pvecRetNames)[(size_t)nProcessors - 1] = strValue;
        }
    }
    return nProcessors;
}

int _ReadSimU32(const char* cszName, uint32_t uDefault, uint32_t* puRetValue)
{
    std::string strValue;
    uint64_t ullValue = 0;
    if (!Pf_SimRead(cszName, &strValue)) {
        *puRetValue = uDefault;
        return 1;
    }
    if (!Pf_SimReadU64(cszName, &ullValue) || ullValue > 0xFFFFFFFFull)
        return 0;
    *puRetValue = (uint32_t)ullValue;
    return 1;
}

// KEY=value, the value possibly in double or single quotes.
std::string _OsReleaseValue(const std::string& strText, const char* cszKey)
{
    std::istringstream lines(strText);
    std::string strLine;
    std::string strPrefix = std::string(cszKey) + "=";
    while (std::getline(lines, strLine)) {
        if (strLine.compare(0, strPrefix.size(), strPrefix) != 0)
            continue;
        std::string strValue = Pf_Trim(strLine.substr(strPrefix.size()));
        if (strValue.size() >= 2 && (strValue[0] == '"' || strValue[0] == '\'') && strValue.back() == strValue[0])
            strValue = strValue.substr(1, strValue.size() - 2);
        return strValue;
    }
    return std::string();
}

}  // namespace

std::string Pf_ProbePath(const std::string& strPath)
{
    std::string strRoot = Pf_SimPath("machine");
    if (!strRoot.empty() && Pf_DirExists(strRoot))
        return strRoot + strPath;
    return strPath;
}

namespace {

// The name and build that the operating-system object gives, else the kernel's.
void _OwnNameAndBuild(std::string* pstrRetName, std::string* pstrRetBuild)
{
    std::vector<Pf_OsObject> vecObjects;
    struct utsname name;
    int bUname = uname(&name) == 0;
    if (Pf_GetOperatingSystemObjects(&vecObjects) && !vecObjects.empty()) {
        *pstrRetName = vecObjects[0].Caption.strValue;
        *pstrRetBuild = vecObjects[0].BuildNumber.strValue;
    }
    if (pstrRetName->empty())
        *pstrRetName = bUname ? name.sysname : "Linux";
    if (pstrRetBuild->empty() && bUname)
        *pstrRetBuild = name.release;
}

} // namespace

int Pf_GetOsVersionEx(Pf_OsVersionEx* pRetVersion)
{
    Pf_OsVersion version{};
    Pf_OsVersionEx result;
    uint32_t uServerR2 = 0;
    std::string strFact;
    if (!pRetVersion || !Pf_GetOsVersion(&version))
        return 0;
    result.uMajor = version.uMajor;
    result.uMinor = version.uMinor;
    result.uBuild = version.uBuild;
    if (!_ReadSimU32("os_platform_id", PF_VER_PLATFORM_WIN32_NT, &result.uPlatformId) ||
        !_ReadSimU32("os_product_type", PF_VER_NT_WORKSTATION, &result.uProductType) ||
        !_ReadSimU32("os_server_r2", 0, &uServerR2))
        return 0;
    result.bServerR2 = uServerR2 != 0;
    Pf_SimRead("os_service_pack", &result.strServicePack);
    if (!Pf_SimRead("os_version", &strFact))
        _OwnNameAndBuild(&result.strOwnName, &result.strOwnBuild);
    *pRetVersion = result;
    return 1;
}

int Pf_GetOperatingSystemObjects(std::vector<Pf_OsObject>* pvecRetObjects)
{
    std::string strRelease;
    std::string strKernel;
    Pf_OsObject object;
    if (!pvecRetObjects)
        return 0;
    if (!Pf_ReadWholeFileAtMost(Pf_ProbePath("/etc/os-release"), 64 * 1024, &strRelease) &&
        !Pf_ReadWholeFileAtMost(Pf_ProbePath("/usr/lib/os-release"), 64 * 1024, &strRelease))
        return 0;
    object.Caption.strValue = _OsReleaseValue(strRelease, "PRETTY_NAME");
    if (object.Caption.strValue.empty())
        object.Caption.strValue = _OsReleaseValue(strRelease, "NAME");
    object.Caption.bPresent = !object.Caption.strValue.empty();
    if (Pf_ReadWholeFileAtMost(Pf_ProbePath("/proc/sys/kernel/osrelease"), 4096, &strKernel)) {
        object.BuildNumber.bPresent = 1;
        object.BuildNumber.strValue = Pf_Trim(strKernel);
    }
    object.OSArchitecture.bPresent = 1;
    object.OSArchitecture.strValue = Pf_IsHost64Bit() ? "64-bit" : "32-bit";
    pvecRetObjects->clear();
    pvecRetObjects->push_back(object);
    return 1;
}

int Pf_GetLogicalProcessorCount(uint32_t* puRetCount)
{
    std::vector<std::string> vecNames;
    if (!puRetCount)
        return 0;
    int nCount = _ReadCpuInfo(&vecNames);
    if (nCount <= 0) {
        long lOnline = sysconf(_SC_NPROCESSORS_ONLN);
        nCount = lOnline > 0 ? (int)lOnline : 1;
    }
    *puRetCount = (uint32_t)nCount;
    return 1;
}

int Pf_GetProcessorName(int nIndex, std::string* pstrRetName)
{
    std::vector<std::string> vecNames;
    if (!pstrRetName || nIndex < 0)
        return 0;
    int nCount = _ReadCpuInfo(&vecNames);
    if (nIndex >= nCount || vecNames[(size_t)nIndex].empty())
        return 0;
    *pstrRetName = vecNames[(size_t)nIndex];
    return 1;
}
