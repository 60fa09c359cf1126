// Process entry of Refitter.exe: the working folder, the free-space guard,
// the log, the crash dumper, and the run of the top object.
#include "app/load_string.h"
#include "app/refitter.h"
#include "foundation/log.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "platform/library.h"
#include "platform/message_box.h"
#include "platform/standard_streams.h"

#include <cstring>
#include <string>

static const uint64_t s_ullMinFreeDiskSpace = 104857600;  // 100 MiB

typedef int (*Rv_InitDumperFunction)();
typedef void (*Rv_UnInitDumperFunction)();

// The path up to and including its last separator; "" when there is none.
static std::string _CutAfterLastSeparator(const std::string& strPath)
{
    size_t uPos = strPath.find_last_of("\\/");
    return uPos == std::string::npos ? std::string() : strPath.substr(0, uPos + 1);
}

// The parent folder of the client's "pak\Data_1.pak" when the executable sits
// one level below it; the executable's folder otherwise.
static int _ChooseWorkingDirectory()
{
    std::string strPath;
    std::string strFolder;
    std::string strParent;
    if (!Pf_GetExecutablePath(&strPath) || strPath.empty() || strPath.size() >= 260)
        return 0;
    strFolder = _CutAfterLastSeparator(strPath);
    if (strFolder.empty())
        return 0;
    strParent = _CutAfterLastSeparator(strFolder.substr(0, strFolder.size() - 1));
    if (!strParent.empty() && Pf_DirExists(strParent) && Pf_FileExists(strParent + "pak\\Data_1.pak"))
        return Pf_SetCurrentDir(strParent);
    return Pf_SetCurrentDir(strFolder);
}

// Below 100 MiB free on the current folder's volume: tell the user, never
// cutting the text, and stop.
static int _CheckFreeDiskSpace()
{
    std::string strCurrent;
    uint64_t ullFree = 0;
    char szPart[RVU_STRING_BUFFER_SIZE];
    char szAdvice[RVU_STRING_BUFFER_SIZE];
    char szCaption[RVU_STRING_BUFFER_SIZE];
    if (!Pf_GetCurrentDir(&strCurrent) || strCurrent.empty() || strCurrent.size() >= 260)
        return 0;
    if (!Pf_GetFreeSpace(strCurrent, &ullFree))
        return 0;
    if (ullFree >= s_ullMinFreeDiskSpace)
        return 1;
    std::string strText = RVU_LoadString(szPart, 162) + "(" + strCurrent + ")" + RVU_LoadString(szAdvice, 163);
    Pf_MessageBox(strText, RVU_LoadString(szCaption, 122), PF_MB_OK | PF_MB_ICONERROR);
    return 0;
}

// Copies "Dumper.dll" over "DumperCopy.dll" (through a temporary name, so a
// copy that a sibling process has loaded is never rewritten in place), then
// loads the copy and starts it.
static void* RVU_LoadDumper()
{
    void* hDumper = nullptr;
    Rv_InitDumperFunction pfnInit = nullptr;
    if (Pf_FileExists("Dumper.dll") && !Pf_CopyFile("Dumper.dll", "DumperCopy.dll", 0))
        RvLog_Write(RVLOG_ERROR, "Failed to copy Dumper.dll, GetLastError() = %d", Pf_GetLastError());
    hDumper = Pf_LoadLibrary("DumperCopy.dll");
    if (!hDumper)
        return nullptr;
    pfnInit = (Rv_InitDumperFunction)Pf_GetProcAddress(hDumper, "InitDumper");
    if (pfnInit && !pfnInit()) {
        Pf_FreeLibrary(hDumper);
        hDumper = nullptr;
    }
    return hDumper;
}

static void _UnloadDumper(void* hDumper)
{
    Rv_UnInitDumperFunction pfnUnInit = (Rv_UnInitDumperFunction)Pf_GetProcAddress(hDumper, "UnInitDumper");
    if (pfnUnInit)
        pfnUnInit();
    Pf_FreeLibrary(hDumper);
}

// Every box and its answer, in the program log.
static void _LogMessageBox(const char* cszLine)
{
    RvLog_Write(RVLOG_INFO, "%s", cszLine);
}

// The command-line text: the arguments joined with single blanks.
static std::string _JoinArguments(int nArgc, char** ppszArgv)
{
    std::string strText;
    for (int i = 1; i < nArgc; ++i) {
        if (i > 1)
            strText += ' ';
        strText += ppszArgv[i];
    }
    return strText;
}

int main(int nArgc, char** ppszArgv)
{
    int nExitCode = 1;
    int nRetCode = 0;
    void* hDumper = nullptr;
    Rv_LogParam logParam;
    std::string strName;
    std::string strCurrent;
    std::string strCommandLine = _JoinArguments(nArgc, ppszArgv);
    Rv_Refitter refitter;

    // A launcher may start us with no standard streams at all.
    if (!Pf_OpenClosedStandardDescriptors())
        return 1;
    if (!_ChooseWorkingDirectory())
        return 1;
    if (!_CheckFreeDiskSpace())
        return 1;

    memset(&logParam, 0, sizeof(logParam));
    strcpy(logParam.szPath, "logs");
    strcpy(logParam.szIdent, "Refitter");
    logParam.nOptions = RVLOG_OPTION_FILE;
    logParam.nMaxLinePerFile = 10240;
    if (!RvLog_Init(&logParam))
        return 1;
    Pf_SetMessageBoxLogHook(_LogMessageBox);

    RvLog_Write(RVLOG_INFO, "The refitter.exe is built at %s %s\n", __DATE__, __TIME__);
    nRetCode = Pf_GetExecutablePath(&strName);
    RVLOG_PROCESS_ERROR(nRetCode && strName.size() > 0 && strName.size() < 260);
    RvLog_Write(RVLOG_INFO, "The full file name is `%s`", strName.c_str());
    nRetCode = Pf_GetCurrentDir(&strCurrent);
    RVLOG_PROCESS_ERROR(nRetCode && strCurrent.size() > 0 && strCurrent.size() < 260);
    RvLog_Write(RVLOG_INFO, "The current working path is `%s`", strCurrent.c_str());

    hDumper = RVU_LoadDumper();
    RVLOG_CHECK_ERROR(hDumper);

    nRetCode = refitter.Init(strCommandLine.c_str());
    if (nRetCode) {
        nRetCode = refitter.Run();
        RVLOG_CHECK_ERROR(nRetCode && "Refitter.Run()");
        if (nRetCode)
            nExitCode = 0;
        refitter.UnInit();
    } else {
        RVLOG_CHECK_ERROR(nRetCode && "Refitter.Init()");
    }

    if (hDumper)
        _UnloadDumper(hDumper);
Exit0:
    RvLog_Write(RVLOG_INFO, "%u:Refitter exit !\n", Pf_GetTickCount());
    Pf_SetMessageBoxLogHook(nullptr);
    RvLog_UnInit();
    return nExitCode;
}
