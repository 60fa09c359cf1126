// The log facility: one process-wide writer, serialised by one lock.
#include "foundation/log.h"

#include "platform/clock.h"
#include "platform/file.h"
#include "platform/log_sink.h"
#include "platform/thread.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

const unsigned s_uLogDateLen = 23;

namespace {

struct LogState {
    Rv_LogParam param;
    char szBaseFolder[1024];
    int bReopen;
    int nFile;
    int nLineCount;
    Pf_SYSTEMTIME fileTime;
};

LogState s_Log = {{}, {}, 1, -1, 0, {}};
Pf_Mutex s_LogLock;

const char* const s_aszLevelNames[8] = {"RESR0", "RESR1", "RESR2", "ERROR", "WARN ", "RESR3", "INFO ", "DEBUG"};

// Creates one folder; an existing folder counts as created.
int _MakeDir(const char* cszFolder)
{
    if (Pf_CreateDir(cszFolder))
        return 1;
    int nError = errno;
    if (nError == EEXIST && Pf_DirExists(cszFolder))
        return 1;
    errno = nError;
    return 0;
}

void _CloseFile()
{
    if (s_Log.nFile >= 0)
        close(s_Log.nFile);
    s_Log.nFile = -1;
}

// Opens the file of a new log; called under the lock.
int _OpenNewFile()
{
    // The folder named and its error are those of the call that failed.
    const char* cszFailed = nullptr;
    if (!_MakeDir(s_Log.param.szPath))
        cszFailed = s_Log.param.szPath;
    else if (!_MakeDir(s_Log.szBaseFolder))
        cszFailed = s_Log.szBaseFolder;
    if (cszFailed) {
        fprintf(stderr, "RvLog: Rv_mkdir(\"%s\") failed = %s\n", cszFailed, strerror(errno));
        _CloseFile();
        return 0;
    }
    _CloseFile();

    Pf_SYSTEMTIME now;
    Pf_GetLocalTime(&now);
    char szDayFolder[1100];
    snprintf(szDayFolder, sizeof(szDayFolder), "%s%d_%2.2d_%2.2d/", s_Log.szBaseFolder, now.nYear, now.nMonth, now.nDay);
    if (!_MakeDir(szDayFolder))
        fprintf(stderr, "RvLog: Rv_mkdir(\"%s\") failed = %s\n", szDayFolder, strerror(errno));

    char szFileName[2200];
    snprintf(szFileName, sizeof(szFileName), "%s%s_%d_%2.2d_%2.2d_%2.2d_%2.2d_%2.2d.log", szDayFolder, s_Log.param.szIdent,
             now.nYear, now.nMonth, now.nDay, now.nHour, now.nMinute, now.nSecond);
    // No truncation: a file started in the same second by another writer is continued.
    int nFile = Pf_Open(szFileName, O_WRONLY | O_CREAT | O_APPEND, 0600);
    if (nFile < 0) {
        fprintf(stderr, "RvLog: open(\"%s\") failed = %s\n", szFileName, strerror(errno));
        return 0;
    }
    s_Log.nFile = nFile;
    return 1;
}

void _PlatformLine(int nLevel, const char* cszText)
{
    RvLog_Write(nLevel, "%s", cszText);
}

} // namespace

int RvLog_Init(const Rv_LogParam* pParam)
{
    if (!pParam || !pParam->szPath[0] || !pParam->szIdent[0])
        return 0;
    Pf_MutexGuard guard(s_LogLock);
    s_Log.param = *pParam;
    s_Log.param.szPath[1023] = '\0';
    s_Log.param.szIdent[1023] = '\0';
    int nGivenOptions = s_Log.param.nOptions;
    if (s_Log.param.nOptions == 0)
        s_Log.param.nOptions = RVLOG_OPTION_FILE;
    if (s_Log.param.nMaxLinePerFile < 1)
        s_Log.param.nMaxLinePerFile = 32768;
    s_Log.bReopen = 1;
    s_Log.nLineCount = 0;
    Pf_SetLogSink(_PlatformLine);
    if (nGivenOptions != 0 && !(nGivenOptions & RVLOG_OPTION_FILE))
        return 1;

    char* pszPath = s_Log.param.szPath;
    size_t uPathLen = strlen(pszPath);
    if (pszPath[uPathLen - 1] == '\\')
        pszPath[uPathLen - 1] = '/';
    if (pszPath[uPathLen - 1] != '/') {
        if (uPathLen >= 1022)
            return 0;
        pszPath[uPathLen] = '/';
        pszPath[uPathLen + 1] = '\0';
    }
    char* pszIdent = s_Log.param.szIdent;
    size_t uIdentLen = strlen(pszIdent);
    if (uIdentLen > 0 && (pszIdent[uIdentLen - 1] == '/' || pszIdent[uIdentLen - 1] == '\\'))
        pszIdent[uIdentLen - 1] = '\0';
    int nLen = snprintf(s_Log.szBaseFolder, sizeof(s_Log.szBaseFolder), "%s%s/", pszPath, pszIdent);
    if (nLen < 0 || nLen >= 1023) {
        s_Log.szBaseFolder[0] = '\0';
        return 0;
    }
    return 1;
}

int RvLog_Write(int nLevel, const char* cszFormat, ...)
{
    Pf_SYSTEMTIME now;
    Pf_GetLocalTime(&now);

    char szLine[1024];
    int nPrefix = snprintf(szLine, sizeof(szLine), "%d%2.2d%2.2d-%2.2d%2.2d%2.2d<%s:%08X>: ", now.nYear, now.nMonth, now.nDay,
                           now.nHour, now.nMinute, now.nSecond, s_aszLevelNames[nLevel & 7], Pf_GetCurrentThreadId());
    if (nPrefix < 0)
        nPrefix = 0;
    va_list args;
    va_start(args, cszFormat);
    vsnprintf(szLine + nPrefix, sizeof(szLine) - (size_t)nPrefix, cszFormat, args);
    va_end(args);

    size_t uLen = strlen(szLine);
    if (!(uLen >= 2 && szLine[uLen - 2] == '\r' && szLine[uLen - 1] == '\n')) {
        if (uLen >= 1 && (szLine[uLen - 1] == '\n' || szLine[uLen - 1] == '\r'))
            --uLen;
        if (uLen > 1021)
            uLen = 1021;
        szLine[uLen++] = '\r';
        szLine[uLen++] = '\n';
        szLine[uLen] = '\0';
    }

    int nOptions = s_Log.param.nOptions;
    if (nOptions & RVLOG_OPTION_STDOUT)
        Pf_WriteAll(STDOUT_FILENO, szLine, uLen);
    if (nOptions & RVLOG_OPTION_STDERR)
        Pf_WriteAll(STDERR_FILENO, szLine, uLen);
    if (!(nOptions & RVLOG_OPTION_FILE))
        return 1;

    Pf_MutexGuard guard(s_LogLock);
    if (s_Log.bReopen || s_Log.nLineCount >= s_Log.param.nMaxLinePerFile || now.nYear != s_Log.fileTime.nYear ||
        now.nMonth != s_Log.fileTime.nMonth || now.nDay != s_Log.fileTime.nDay) {
        s_Log.fileTime = now;
        s_Log.bReopen = 0;
        if (!_OpenNewFile())
            return 0;
        s_Log.nLineCount = 0;
    }
    if (s_Log.nFile >= 0 && !Pf_WriteAll(s_Log.nFile, szLine, uLen)) {
        printf("warning : error on write log file, please check your hard disk!\n");
        fflush(stdout);
    }
    ++s_Log.nLineCount;
    return 1;
}

int RvLog_UnInit()
{
    Pf_MutexGuard guard(s_LogLock);
    _CloseFile();
    return 1;
}

const char* RvLog_FunctionName(const char* cszPretty, char* szBuffer, unsigned uSize)
{
    // The parameter list starts at the first "(" outside of template brackets
    // that is not part of an "operator" name.
    const char* pcOpen = nullptr;
    int nDepth = 0;
    for (const char* p = cszPretty; *p; ++p) {
        if (*p == '<')
            ++nDepth;
        else if (*p == '>' && nDepth > 0)
            --nDepth;
        else if (*p == '(' && nDepth == 0) {
            if (p - cszPretty >= 8 && strncmp(p - 8, "operator", 8) == 0 && p[1] == ')') {
                ++p;
                continue;
            }
            pcOpen = p;
            break;
        }
    }
    if (!pcOpen)
        pcOpen = cszPretty + strlen(cszPretty);
    const char* pcBegin = pcOpen;
    nDepth = 0;
    while (pcBegin > cszPretty) {
        char c = pcBegin[-1];
        if (c == '>')
            ++nDepth;
        else if (c == '<' && nDepth > 0)
            --nDepth;
        else if ((c == ' ' || c == '*' || c == '&') && nDepth == 0)
            break;
        --pcBegin;
    }
    size_t uLen = (size_t)(pcOpen - pcBegin);
    if (uLen >= uSize)
        uLen = uSize - 1;
    memcpy(szBuffer, pcBegin, uLen);
    szBuffer[uLen] = '\0';
    return szBuffer;
}

void RvLog_WriteCheck(const char* cszFormat, const char* cszCondition, int nLine, const char* cszPretty)
{
    char szFunction[256];
    RvLog_Write(RVLOG_DEBUG, cszFormat, cszCondition, nLine, RvLog_FunctionName(cszPretty, szFunction, sizeof(szFunction)));
}

void RvLog_WriteComCheck(const char* cszFormat, uint32_t uCode, int nLine, const char* cszPretty)
{
    char szFunction[256];
    RvLog_Write(RVLOG_DEBUG, cszFormat, uCode, nLine, RvLog_FunctionName(cszPretty, szFunction, sizeof(szFunction)));
}
