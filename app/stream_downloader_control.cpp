// Finding, stopping and starting the streaming downloader tool.
#include "app/stream_downloader_control.h"

#include "foundation/log.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "platform/process.h"
#include "platform/process_handle.h"
#include "platform/process_list.h"

#include <cstdio>
#include <strings.h>
#include <vector>

static const char s_szToolName[] = "vbun_downloader.exe";
static const char s_szDebugToolName[] = "vbun_downloaderD.exe";
static const char s_szQuitArgument[] = "-q";
static const char s_szBackgroundArgument[] = "-b";
static const unsigned s_uQuitWaitMs = 500;
// How long an ended process is waited for before it counts as surviving.
static const unsigned s_uKillWaitMs = 3000;

int GetApplicationPath(std::string* pstrRetPath)
{
    int nResult = 0;
    int nRetCode = 0;
    std::string strExe;
    size_t uSlash = std::string::npos;

    RVLOG_PROCESS_ERROR(pstrRetPath);
    nRetCode = Pf_GetExecutablePath(&strExe);
    RVLOG_PROCESS_ERROR(nRetCode && !strExe.empty() && strExe.size() < 260);
    uSlash = strExe.find_last_of("/\\");
    RVLOG_PROCESS_ERROR(uSlash != std::string::npos);
    *pstrRetPath = strExe.substr(0, uSlash + 1);

    nResult = 1;
Exit0:
    return nResult;
}

// Starts a command line and lets it run on its own.
static int _LaunchProcess(const char* cszCommandLine)
{
    int nResult = 0;
    int nRetCode = 0;
    Pf_Process process;

    RVLOG_PROCESS_ERROR(cszCommandLine && cszCommandLine[0]);
    nRetCode = process.Start(cszCommandLine, "");
    RVLOG_PROCESS_ERROR(nRetCode);
    process.Close();

    nResult = 1;
Exit0:
    return nResult;
}

// The tool's command line "\"<path>\" <argument>" in 1 to 511 characters.
static int _BuildCommandLine(const std::string& strPath, const char* cszArgument, char (&szRetCommandLine)[512])
{
    int nLen = snprintf(szRetCommandLine, sizeof(szRetCommandLine), "\"%s\" %s", strPath.c_str(), cszArgument);
    return nLen > 0 && nLen < (int)sizeof(szRetCommandLine);
}

static bool _IsToolImage(const std::string& strImage, const std::string& strTool)
{
    return strImage.size() >= strTool.size() && strncasecmp(strImage.c_str(), strTool.c_str(), strTool.size()) == 0;
}

// The processes whose image matches the tool's full path. 0 when the list
// cannot be read.
static int _FindTool(const char* cpszProcessName, std::vector<uint32_t>* pvecRetIds)
{
    std::vector<Pf_ProcessEntry> vecProcesses;
    std::string strTool;
    if (!cpszProcessName || !cpszProcessName[0])
        return 0;
    if (!Pf_ListProcesses(&vecProcesses))
        return 0;
    strTool = Pf_ImagePathOf(cpszProcessName);
    pvecRetIds->clear();
    for (const Pf_ProcessEntry& process : vecProcesses)
        if (_IsToolImage(process.strImagePath, strTool))
            pvecRetIds->push_back(process.uProcessId);
    return 1;
}

bool CheckProcessExist(const char* cpszProcessName)
{
    std::vector<uint32_t> vecIds;
    return _FindTool(cpszProcessName, &vecIds) && !vecIds.empty();
}

bool KillProcess(const char* cpszProcessName)
{
    bool bResult = false;
    int nRetCode = 0;
    std::vector<uint32_t> vecIds;
    std::string strTool;

    nRetCode = _FindTool(cpszProcessName, &vecIds);
    RVLOG_PROCESS_ERROR(nRetCode);
    strTool = Pf_ImagePathOf(cpszProcessName);
    for (uint32_t uId : vecIds) {
        Pf_ProcessHandle process;
        std::string strImage;
        // The id may have been given to another process since the listing.
        if (!process.Open(uId) || !process.GetImagePath(&strImage) || !_IsToolImage(strImage, strTool))
            continue;
        if (!process.Terminate()) {
            RvLog_Write(RVLOG_DEBUG, "Failed to terminate process %u, Error code: %d.", uId, Pf_GetLastError());
            continue;
        }
        if (!process.WaitExit(s_uKillWaitMs))
            RvLog_Write(RVLOG_DEBUG, "Process %u did not end within %u ms.", uId, s_uKillWaitMs);
    }
    RVLOG_PROCESS_ERROR(!CheckProcessExist(cpszProcessName));

    bResult = true;
Exit0:
    return bResult;
}

int StopVBunDownloader(const std::string& strPath)
{
    int nResult = 0;
    int nRetCode = 0;
    char szCommandLine[512];

    RVLOG_PROCESS_SUCCESS(!CheckProcessExist(strPath.c_str()));

    nRetCode = Pf_FileExists(strPath);
    RVLOG_PROCESS_ERROR(nRetCode);
    nRetCode = _BuildCommandLine(strPath, s_szQuitArgument, szCommandLine);
    RVLOG_PROCESS_ERROR(nRetCode);
    nRetCode = _LaunchProcess(szCommandLine);
    RVLOG_PROCESS_ERROR(nRetCode);

    Pf_Sleep(s_uQuitWaitMs);

    if (CheckProcessExist(strPath.c_str())) {
        nRetCode = KillProcess(strPath.c_str());
        RVLOG_PROCESS_ERROR(nRetCode);
    }

Exit1:
    nResult = 1;
Exit0:
    return nResult;
}

int StopVBunDownloadersIn(const std::string& strAppPath)
{
    int nResult = 0;
    int nRetCode = 0;

    nRetCode = StopVBunDownloader(strAppPath + s_szToolName);
    RVLOG_PROCESS_ERROR(nRetCode);
    nRetCode = StopVBunDownloader(strAppPath + s_szDebugToolName);
    RVLOG_PROCESS_ERROR(nRetCode);

    nResult = 1;
Exit0:
    return nResult;
}

int LaunchVBunDownloaderIn(const std::string& strAppPath)
{
    int nResult = 0;
    int nRetCode = 0;
    std::string strTool = strAppPath + s_szToolName;
    char szCommandLine[512];

    RVLOG_PROCESS_SUCCESS(!Pf_FileExists(strTool));

    nRetCode = _BuildCommandLine(strTool, s_szBackgroundArgument, szCommandLine);
    RVLOG_PROCESS_ERROR(nRetCode);
    nRetCode = _LaunchProcess(szCommandLine);
    RVLOG_PROCESS_ERROR(nRetCode);

Exit1:
    nResult = 1;
Exit0:
    return nResult;
}

int Rv_StopVBunDownloader()
{
    int nResult = 0;
    int nRetCode = 0;
    std::string strAppPath;

    nRetCode = GetApplicationPath(&strAppPath);
    RVLOG_PROCESS_ERROR(nRetCode);
    nRetCode = StopVBunDownloadersIn(strAppPath);
    RVLOG_PROCESS_ERROR(nRetCode);

    nResult = 1;
Exit0:
    return nResult;
}

int Rv_LaunchVBunDownloader()
{
    int nResult = 0;
    int nRetCode = 0;
    std::string strAppPath;

    nRetCode = GetApplicationPath(&strAppPath);
    RVLOG_PROCESS_ERROR(nRetCode);
    nRetCode = LaunchVBunDownloaderIn(strAppPath);
    RVLOG_PROCESS_ERROR(nRetCode);

    nResult = 1;
Exit0:
    return nResult;
}
