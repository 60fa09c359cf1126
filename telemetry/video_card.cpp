// The video-card probes: adapters, drivers, video memory and shader levels.
#include "telemetry/video_card.h"

#include "foundation/log.h"
#include "platform/display_adapters.h"
#include "platform/thread.h"

#include <cstdio>
#include <cstring>
#include <vector>

// The device probe is not one to run twice at once.
static Pf_Mutex s_ShaderProbeLock;

// Copies at most uSize - 1 bytes, always terminated, never ending inside a
// UTF-8 sequence.
static void _CopyText(char* pszTarget, size_t uSize, const std::string& strSource)
{
    size_t uLength = strSource.size();
    if (uLength >= uSize) {
        uLength = uSize - 1;
        while (uLength > 0 && ((unsigned char)strSource[uLength] & 0xC0) == 0x80)
            --uLength;
    }
    memcpy(pszTarget, strSource.data(), uLength);
    pszTarget[uLength] = '\0';
}

static int _GetVideoRAM(std::list<VideoCardInfo>* plistVideoCardInfo)
{
    int nResult = 0;
    int nRetCode = 0;
    std::vector<Pf_VideoController> vecControllers;
    char szDescription[sizeof(VideoCardInfo::szDeviceDesc)];
    char szVideoRAM[sizeof(VideoCardInfo::szVideoRAM)];

    nRetCode = Pf_GetVideoControllers(&vecControllers);
    RVLOG_PROCESS_ERROR(nRetCode && "pEnumerator");
    for (const Pf_VideoController& controller : vecControllers) {
        uint64_t ullRAM = controller.bHasAdapterRAM ? controller.ullAdapterRAM : 0;
        // The record holds the description as far as it fits; compare the same part.
        _CopyText(szDescription, sizeof(szDescription), controller.strDescription);
        nRetCode = snprintf(szVideoRAM, sizeof(szVideoRAM), "%lluMB", (unsigned long long)(ullRAM >> 20));
        RVLOG_PROCESS_ERROR(nRetCode > 0 && nRetCode < (int)sizeof(szVideoRAM));
        for (VideoCardInfo& info : *plistVideoCardInfo) {
            if (strcmp(info.szDeviceDesc, szDescription) == 0 && strcmp(info.szVideoRAM, "0MB") == 0) {
                memcpy(info.szVideoRAM, szVideoRAM, sizeof(szVideoRAM));
                break;
            }
        }
    }
    nResult = 1;
Exit0:
    return nResult;
}

int Rv_GetVideoCardInfo(std::list<VideoCardInfo>* plistVideoCardInfo)
{
    int nResult = 0;
    int nRetCode = 0;
    std::vector<Pf_DisplayAdapter> vecAdapters;

    RVLOG_PROCESS_ERROR(plistVideoCardInfo);
    nRetCode = Pf_GetDisplayAdapters(&vecAdapters);
    RVLOG_PROCESS_ERROR(nRetCode && "SetupDiGetClassDevs()");
    for (const Pf_DisplayAdapter& adapter : vecAdapters) {
        VideoCardInfo info;
        uint64_t ullNewest = 0;
        int bFound = 0;
        memset(&info, 0, sizeof(info));
        snprintf(info.szVideoRAM, sizeof(info.szVideoRAM), "%s", "0MB");
        _CopyText(info.szDeviceDesc, sizeof(info.szDeviceDesc), adapter.strDeviceDesc);
        if (!adapter.vecHardwareIds.empty())
            _CopyText(info.szHardwareID, sizeof(info.szHardwareID), adapter.vecHardwareIds.front());
        if (info.szHardwareID[0]) {
            for (const Pf_DriverInfo& driver : adapter.vecDrivers) {
                if (driver.strDescription != adapter.strDeviceDesc)
                    continue;
                if (!bFound || driver.ullDriverVersion > ullNewest) {
                    ullNewest = driver.ullDriverVersion;
                    bFound = 1;
                }
            }
            if (bFound) {
                nRetCode = snprintf(info.szDriverVersion, sizeof(info.szDriverVersion), "%u.%u.%u.%u\n",
                                    (unsigned)((ullNewest >> 48) & 0xFFFF), (unsigned)((ullNewest >> 32) & 0xFFFF),
                                    (unsigned)((ullNewest >> 16) & 0xFFFF), (unsigned)(ullNewest & 0xFFFF));
                RVLOG_PROCESS_ERROR(nRetCode > 0 && nRetCode < (int)sizeof(info.szDriverVersion));
            }
        }
        plistVideoCardInfo->push_back(info);
    }
    if (!plistVideoCardInfo->empty())
        _GetVideoRAM(plistVideoCardInfo);
    nResult = 1;
Exit0:
    return nResult;
}

int Rv_ShaderLevel(uint32_t uVersion, uint32_t uKind)
{
    if (uVersion < ((uKind << 16) | 0x0200))
        return 1;
    if (uVersion < ((uKind << 16) | 0x0300))
        return 2;
    return 3;
}

// The device of the primary adapter and its shader versions.
static int CreateDevice(uint32_t* puVertexShaderVersion, uint32_t* puPixelShaderVersion)
{
    int nResult = 0;
    int nRetCode = 0;
    nRetCode = Pf_GetShaderVersions(puVertexShaderVersion, puPixelShaderVersion);
    RVLOG_PROCESS_ERROR(nRetCode && "s_pD3D");
    nResult = 1;
Exit0:
    return nResult;
}

static int CheckShaderModel(int* pnRetVertexLevel, int* pnRetPixelLevel)
{
    int nResult = 0;
    int nRetCode = 0;
    uint32_t uVertexShaderVersion = 0;
    uint32_t uPixelShaderVersion = 0;
    nRetCode = CreateDevice(&uVertexShaderVersion, &uPixelShaderVersion);
    RVLOG_PROCESS_ERROR(nRetCode);
    *pnRetVertexLevel = Rv_ShaderLevel(uVertexShaderVersion, 0xFFFE);
    *pnRetPixelLevel = Rv_ShaderLevel(uPixelShaderVersion, 0xFFFF);
    nResult = 1;
Exit0:
    return nResult;
}

int CheckVideoCardShaderVersion(int* pnRetVertexLevel, int* pnRetPixelLevel)
{
    int nResult = 0;
    int nVertexLevel = 0;
    int nPixelLevel = 0;

    RVLOG_PROCESS_ERROR(pnRetVertexLevel);
    RVLOG_PROCESS_ERROR(pnRetPixelLevel);
    {
        Pf_MutexGuard guard(s_ShaderProbeLock);
        // The device needs no window of its own here: the levels are asked for directly.
        CheckShaderModel(&nVertexLevel, &nPixelLevel);
    }
    *pnRetVertexLevel = nVertexLevel;
    *pnRetPixelLevel = nPixelLevel;
    nResult = 1;
Exit0:
    return nResult;
}
