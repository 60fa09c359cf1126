// The reporter's machine probes: operating system, processors, memory, video
// card, drives and screen, each formatted into one text of a report.
#include "telemetry/client_report.h"

#include "foundation/countof.h"
#include "foundation/log.h"
#include "platform/drives.h"
#include "platform/power.h"
#include "platform/screen.h"
#include "platform/system_call.h"
#include "platform/system_probe.h"
#include "telemetry/video_card.h"

#include <cstring>
#include <cstdio>
#include <list>
#include <vector>

#ifndef _countof
#endif

int NyClientReport::_IsWow64()
{
    int bWow64 = 0;
    Pf_IsWow64ProcessFunction pfnIsWow64Process =
        (Pf_IsWow64ProcessFunction)Pf_GetSystemCall("kernel32", "IsWow64Process");
    if (!pfnIsWow64Process)
        return 0;
    if (!pfnIsWow64Process(&bWow64))
        return 0;
    return bWow64;
}

namespace {

enum {
    VER_PLATFORM_WIN32_NT = PF_VER_PLATFORM_WIN32_NT,
    VER_NT_WORKSTATION = PF_VER_NT_WORKSTATION,
};

// The extended version record under the names the checks are logged with.
struct OsVersionInfo {
    uint32_t dwMajorVersion = 0;
    uint32_t dwMinorVersion = 0;
    uint32_t dwBuildNumber = 0;
    uint32_t dwPlatformId = 0;
    uint32_t wProductType = 0;
    int bServerR2 = 0;
    std::string strCSDVersion;
    std::string strOwnName;     // the system's own name and build where it is not Windows
    std::string strOwnBuild;
};

int _GetVersionEx(OsVersionInfo* pRetInfo)
{
    Pf_OsVersionEx version;
    if (!Pf_GetOsVersionEx(&version))
        return 0;
    pRetInfo->dwMajorVersion = version.uMajor;
    pRetInfo->dwMinorVersion = version.uMinor;
    pRetInfo->dwBuildNumber = version.uBuild;
    pRetInfo->dwPlatformId = version.uPlatformId;
    pRetInfo->wProductType = version.uProductType;
    pRetInfo->bServerR2 = version.bServerR2;
    pRetInfo->strCSDVersion = version.strServicePack;
    pRetInfo->strOwnName = version.strOwnName;
    pRetInfo->strOwnBuild = version.strOwnBuild;
    return 1;
}

// The name of an NT version; the server names keep their established spelling.
const char* _OsName(const OsVersionInfo& osvi)
{
    int bWorkstation = osvi.wProductType == VER_NT_WORKSTATION;
    if (osvi.dwMajorVersion == 5) {
        switch (osvi.dwMinorVersion) {
        case 0:
            return "Windows 2000";
        case 1:
            return "Windows XP";
        case 2:
            return osvi.bServerR2 ? "Windows Server 2003 RC2" : "Windows Server 2003";
        default:
            RVLOG_CHECK_ERROR(false);
            return "Windows NT";
        }
    }
    if (osvi.dwMajorVersion == 6) {
        switch (osvi.dwMinorVersion) {
        case 0:
            return bWorkstation ? "Windows Vista" : "Windows Sever 2008";
        case 1:
            return bWorkstation ? "Windows 7" : "Windows Sever 2008 R2";
        case 2:
            return bWorkstation ? "Windows 8" : "Windows Sever 2012";
        default:
            break;
        }
    }
    return "Windows NT";
}

}  // namespace

int NyClientReport::_GetOSInfo(std::string* pstrRetInfo)
{
    int nResult = 0;
    int nRetCode = 0;
    OsVersionInfo osvi;
    std::string strInfo;
    char szBuildVersion[64];

    RVLOG_PROCESS_ERROR(pstrRetInfo);
    nRetCode = _GetVersionEx(&osvi);
    RVLOG_PROCESS_ERROR(nRetCode && "GetVersionEx()");
    RVLOG_PROCESS_ERROR(osvi.dwPlatformId == VER_PLATFORM_WIN32_NT);
    RVLOG_PROCESS_ERROR(osvi.dwMajorVersion >= 5);

    // A system that is not Windows is named as it names itself, with its own build.
    strInfo = osvi.strOwnName.empty() ? _OsName(osvi) : osvi.strOwnName;
    if (!osvi.strCSDVersion.empty())
        strInfo += " " + osvi.strCSDVersion;
    if (osvi.strOwnName.empty())
        nRetCode = snprintf(szBuildVersion, sizeof(szBuildVersion), " (Build %lu)", (unsigned long)osvi.dwBuildNumber);
    else
        nRetCode = snprintf(szBuildVersion, sizeof(szBuildVersion), " (Build %s)", osvi.strOwnBuild.c_str());
    RVLOG_PROCESS_ERROR(nRetCode > 0 && nRetCode < _countof(szBuildVersion));
    strInfo += szBuildVersion;
    strInfo += _IsWow64() ? ", x64 Edition" : ", x86 Edition";

    *pstrRetInfo = strInfo;
    nResult = 1;
Exit0:
    return nResult;
}

int NyClientReport::_GetOSInfoEx(std::string* pstrRetInfo)
{
    int nResult = 0;
    int nRetCode = 0;
    std::vector<Pf_OsObject> vecObjects;
    std::string strInfo;

    RVLOG_PROCESS_ERROR(pstrRetInfo);
    nRetCode = Pf_GetOperatingSystemObjects(&vecObjects);
    RVLOG_PROCESS_ERROR(nRetCode && "pEnumerator");
    for (const Pf_OsObject& object : vecObjects) {
        if (object.Caption.bPresent)
            strInfo += object.Caption.strValue;
        if (object.CSDVersion.bPresent)
            strInfo += " " + object.CSDVersion.strValue;
        if (object.BuildNumber.bPresent)
            strInfo += "(Build " + object.BuildNumber.strValue + ")";
        if (object.OSArchitecture.bPresent)
            strInfo += ", " + object.OSArchitecture.strValue;
    }
    *pstrRetInfo = strInfo;
    nResult = 1;
Exit0:
    return nResult;
}

int NyClientReport::_GetCPUInfo(std::string* pstrRetInfo)
{
    int nResult = 0;
    int nRetCode = 0;
    uint32_t uCount = 0;
    char szCount[64];
    std::string strName;

    RVLOG_PROCESS_ERROR(pstrRetInfo);
    RVLOG_PROCESS_ERROR(pstrRetInfo->empty());
    nRetCode = Pf_GetLogicalProcessorCount(&uCount);
    RVLOG_PROCESS_ERROR(nRetCode && "GetSystemInfo()");
    nRetCode = snprintf(szCount, sizeof(szCount), "NumberOfProcessors:%d;", (int)uCount);
    RVLOG_PROCESS_ERROR(nRetCode > 0 && nRetCode < (int)sizeof(szCount));
    *pstrRetInfo = szCount;
    // Every processor is named, repeated names included; the first missing one ends the list.
    for (int nIndex = 0; Pf_GetProcessorName(nIndex, &strName); ++nIndex) {
        if (nIndex > 0)
            *pstrRetInfo += " & ";
        *pstrRetInfo += strName;
    }
    nResult = 1;
Exit0:
    return nResult;
}

int NyClientReport::_GetVideoCardInfo(std::string* pstrRetInfo)
{
    int nResult = 0;
    int nRetCode = 0;
    int bRetCode = 0;
    int nVertexLevel = 0;
    int nPixelLevel = 0;
    std::list<VideoCardInfo> listInfo;
    char szBuffer[256];
    size_t uUsed = 0;
    size_t uLeftSize = sizeof(szBuffer);

    RVLOG_PROCESS_ERROR(pstrRetInfo);
    RVLOG_PROCESS_ERROR(pstrRetInfo->empty());
    nRetCode = Rv_GetVideoCardInfo(&listInfo);
    RVLOG_PROCESS_ERROR(nRetCode);
    szBuffer[0] = '\0';
    for (const VideoCardInfo& info : listInfo) {
        nRetCode = snprintf(szBuffer + uUsed, uLeftSize, "\"%s\" \"%s\" \"%s\" \"%s\" & ", info.szDeviceDesc,
                            info.szHardwareID, info.szDriverVersion, info.szVideoRAM);
        RVLOG_PROCESS_ERROR(nRetCode > 0 && nRetCode < (int)uLeftSize);
        uUsed += (size_t)nRetCode;
        uLeftSize -= (size_t)nRetCode;
    }
    if (!listInfo.empty()) {
        bRetCode = CheckVideoCardShaderVersion(&nVertexLevel, &nPixelLevel);
        if (!bRetCode) {
            RvLog_WriteCheck("RVLOG_PROCESS_ERROR(%s) at line %d in %s\n", "bRetCode", __LINE__,
                             "Rv_GetVideoCardShaderVersion");
        }
        nRetCode = bRetCode;
        RVLOG_PROCESS_ERROR(nRetCode);
        nRetCode = snprintf(szBuffer + uUsed, uLeftSize, "%d & %d", nVertexLevel, nPixelLevel);
        RVLOG_PROCESS_ERROR(nRetCode > 0 && nRetCode < (int)uLeftSize);
    }
    *pstrRetInfo = szBuffer;
    nResult = 1;
Exit0:
    return nResult;
}

int NyClientReport::_GetMemorySize(std::string* pstrRetInfo)
{
    int nResult = 0;
    int nRetCode = 0;
    Pf_MemoryStatusEx statex{};
    char szBuffer[64];

    RVLOG_PROCESS_ERROR(pstrRetInfo);
    RVLOG_PROCESS_ERROR(pstrRetInfo->empty());
    statex.dwLength = sizeof(statex);
    nRetCode = Pf_GlobalMemoryStatusEx(&statex);
    RVLOG_PROCESS_ERROR(nRetCode && "GlobalMemoryStatusEx()");
    snprintf(szBuffer, sizeof(szBuffer), "%llu", (unsigned long long)statex.ullTotalPhys);
    *pstrRetInfo = szBuffer;
    nResult = 1;
Exit0:
    return nResult;
}

int NyClientReport::_GetHardDiskInfo(std::string* pstrRetInfo)
{
    int nResult = 0;
    int nRetCode = 0;
    int dwLength = 0;
    char szDriveBuffer[128];
    char szInfoBuffer[64];
    std::string strInfo;

    RVLOG_PROCESS_ERROR(pstrRetInfo);
    RVLOG_PROCESS_ERROR(pstrRetInfo->empty());
    dwLength = (int)Pf_GetLogicalDriveStrings(szDriveBuffer, sizeof(szDriveBuffer));
    RVLOG_PROCESS_ERROR(dwLength > 0);
    RVLOG_PROCESS_ERROR(dwLength < _countof(szDriveBuffer));
    for (const char* pszRoot = szDriveBuffer; *pszRoot; pszRoot += strlen(pszRoot) + 1) {
        uint64_t ullFree = 0;
        uint64_t ullTotal = 0;
        if (Pf_GetDriveType(pszRoot) != PF_DRIVE_FIXED)
            continue;
        if (!Pf_GetDiskFreeSpace(pszRoot, &ullFree, &ullTotal))
            continue;
        if (!strInfo.empty())
            strInfo += "; ";
        nRetCode = snprintf(szInfoBuffer, sizeof(szInfoBuffer), "%c:%llu/%llu", pszRoot[0],
                            (unsigned long long)ullFree, (unsigned long long)ullTotal);
        RVLOG_PROCESS_ERROR(nRetCode > 0);
        RVLOG_PROCESS_ERROR(nRetCode < _countof(szInfoBuffer));
        strInfo += szInfoBuffer;
    }
    *pstrRetInfo = strInfo;
    nResult = 1;
Exit0:
    return nResult;
}

int NyClientReport::_GetMetricsInfo(std::string* pstrRetInfo)
{
    int nResult = 0;
    int nRetCode = 0;
    int nWidth = 0;
    int nHeight = 0;
    char szBuffer[128];

    RVLOG_PROCESS_ERROR(pstrRetInfo);
    RVLOG_PROCESS_ERROR(pstrRetInfo->empty());
    // Without a connected display there is no size to tell.
    nRetCode = Pf_GetScreenSize(&nWidth, &nHeight);
    RVLOG_PROCESS_ERROR(nRetCode && "GetSystemMetrics()");
    nRetCode = snprintf(szBuffer, sizeof(szBuffer), "%d*%d", nWidth, nHeight);
    RVLOG_PROCESS_ERROR(nRetCode > 0);
    RVLOG_PROCESS_ERROR(nRetCode < _countof(szBuffer));
    *pstrRetInfo = szBuffer;
    nResult = 1;
Exit0:
    return nResult;
}
