// System and file-system helpers: folders, processes, DirectX checks, processor load.
#include "foundation/system_helpers.h"

#include "foundation/log.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "platform/path.h"
#include "platform/os_info.h"
#include "platform/process.h"
#include "platform/thread.h"

#include <cerrno>

int Rv_GetCurrentDir(std::string* pstrRetDir)
{
    int nResult = 0;
    std::string strDir;
    RVLOG_PROCESS_ERROR(pstrRetDir);
    RVLOG_PROCESS_ERROR(Pf_GetCurrentDir(&strDir));
    RVLOG_PROCESS_ERROR(strDir.size() > 0 && strDir.size() < 260);
    *pstrRetDir = Pf_WithSeparator(strDir);
    nResult = 1;
Exit0:
    return nResult;
}

int _GetParentDir(const char* cszPath, std::string* pstrRetParent)
{
    std::string strPath = cszPath ? cszPath : "";
    size_t uPos = strPath.find_last_of("\\/");
    if (uPos == std::string::npos)
        return 0;
    *pstrRetParent = strPath.substr(0, uPos);
    return 1;
}

int Rv_CreateDirOrFindExisting(const std::string& strPath)
{
    if (Pf_CreateDir(strPath))
        return 1;
    int nError = errno;
    if (nError == EEXIST && Pf_DirExists(strPath))
        return 1;
    errno = nError;
    return 0;
}

int Rv_MakeSureDirExisted(const char* cszPath)
{
    int nResult = 0;
    std::string strParent;
    RVLOG_PROCESS_ERROR(cszPath && cszPath[0]);
    if (Rv_CreateDirOrFindExisting(cszPath))
        goto Exit1;
    // Something of that name that is not a folder cannot be mended by the parents.
    RVLOG_PROCESS_ERROR(errno != EEXIST);
    RVLOG_PROCESS_ERROR(_GetParentDir(cszPath, &strParent));
    if (!strParent.empty())
        RVLOG_PROCESS_ERROR(Rv_MakeSureDirExisted(strParent.c_str()));
    RVLOG_PROCESS_ERROR(Rv_CreateDirOrFindExisting(cszPath));
Exit1:
    nResult = 1;
Exit0:
    if (!nResult)
        RvLog_Write(RVLOG_ERROR, "Failed to make sure `%s`, GetLastError() = %d", cszPath ? cszPath : "", Pf_GetLastError());
    return nResult;
}

int Rv_MoveFileWithRetries(const std::string& strFrom, const std::string& strTo, int* pnRetError)
{
    int nError = 0;

    for (int nAttempt = 0; nAttempt < 3; ++nAttempt) {
        if (Pf_PathExists(strTo))
            Pf_SetReadOnly(strTo, 0);
        if (Pf_MoveFile(strFrom, strTo, 1))
            return 1;
        nError = Pf_GetLastError();
        Pf_Sleep(500);
    }
    if (pnRetError)
        *pnRetError = nError;
    return 0;
}

int Rv_MakeSureDirForFile(const char* cszFileFullName)
{
    int nResult = 0;
    std::string strParent;
    RVLOG_PROCESS_ERROR(cszFileFullName && cszFileFullName[0]);
    RVLOG_PROCESS_ERROR(_GetParentDir(cszFileFullName, &strParent));
    RVLOG_PROCESS_ERROR(strParent.empty() || Rv_MakeSureDirExisted(strParent.c_str()));
    nResult = 1;
Exit0:
    if (!nResult)
        RvLog_Write(RVLOG_ERROR, "Failed to make sure dir for file %s", cszFileFullName ? cszFileFullName : "");
    return nResult;
}

int _CreateAndWaitProcess(const char* cszCommandLine)
{
    int nResult = 0;
    Pf_Process process;
    RVLOG_PROCESS_ERROR(cszCommandLine);
    RVLOG_PROCESS_ERROR(process.Start(cszCommandLine, ""));
    RVLOG_PROCESS_ERROR(process.Wait(PF_WAIT_INFINITE));
    nResult = 1;
Exit0:
    return nResult;
}

int RVU_IsSystemFileExist(const char* cszFileName)
{
    int nResult = 0;
    std::string strDir;
    std::string strPath;
    RVLOG_PROCESS_ERROR(cszFileName);
    RVLOG_PROCESS_ERROR(Pf_GetSystemDir(&strDir));
    RVLOG_PROCESS_ERROR(strDir.size() > 0 && strDir.size() < 260);
    strPath = strDir + "\\" + cszFileName;
    RVLOG_PROCESS_ERROR(strPath.size() < 260);
    nResult = Pf_FileExists(strPath);
Exit0:
    return nResult;
}

int RVU_IsD3DX9Installed()
{
    static const char* const s_aszLibraries[] = {"D3DX9_40.dll", "D3DX9_41.dll", "D3DX9_42.dll", "D3DX9_43.dll"};
    // Where no system folder holds such libraries there is nothing to install.
    if (!Pf_SystemDirHoldsWindowsLibraries())
        return 1;
    for (const char* cszName : s_aszLibraries) {
        if (!RVU_IsSystemFileExist(cszName))
            return 0;
    }
    return 1;
}

// The first of the two places relative to the current folder that holds the file.
static int _FindInstallerFile(const std::string& strCurrent, const char* cszName, std::string* pstrRetPath)
{
    const std::string astrPaths[] = {strCurrent + "..\\..\\3rdParty\\dx9_43\\" + cszName,
                                     strCurrent + "3rdParty\\dx9_43\\" + cszName};
    for (const std::string& strPath : astrPaths) {
        if (Pf_FileExists(strPath)) {
            *pstrRetPath = strPath;
            return 1;
        }
    }
    return 0;
}

int _GetDirectXInstaller(std::string* pstrRetSetupPath)
{
    int nResult = 0;
    std::string strCurrent;
    std::string strCab;
    RVLOG_PROCESS_ERROR(Rv_GetCurrentDir(&strCurrent));
    RVLOG_PROCESS_ERROR(_FindInstallerFile(strCurrent, "Jun2010_d3dx9_43_x86.cab", &strCab));
    RVLOG_PROCESS_ERROR(_FindInstallerFile(strCurrent, "DXSETUP.exe", pstrRetSetupPath));
    nResult = 1;
Exit0:
    return nResult;
}

int RVU_IsDirectXPackageNeeded()
{
    std::string strSetup;
    if (RVU_IsD3DX9Installed())
        return 0;
    return !_GetDirectXInstaller(&strSetup);
}

int CpuUsageSampler::TakeFirstSample()
{
    if (!m_pfnGetSystemTimes)
        return 0;
    return m_pfnGetSystemTimes(&m_ullIdleTime, &m_ullKernelTime, &m_ullUserTime);
}

float CpuUsageSampler::Sample()
{
    uint64_t ullIdle = 0, ullKernel = 0, ullUser = 0;
    if (!m_pfnGetSystemTimes || !m_pfnGetSystemTimes(&ullIdle, &ullKernel, &ullUser))
        return 0.0f;
    uint64_t ullTotal = (ullKernel - m_ullKernelTime) + (ullUser - m_ullUserTime);
    uint64_t ullIdleDelta = ullIdle - m_ullIdleTime;
    if (ullKernel < m_ullKernelTime || ullUser < m_ullUserTime || ullIdle < m_ullIdleTime || ullTotal == 0)
        return 0.0f;
    // Idle stays within the total, so the busy part never wraps round.
    if (ullIdleDelta > ullTotal)
        ullIdleDelta = ullTotal;
    return (float)(((ullTotal - ullIdleDelta) * 100) / ullTotal);
}
