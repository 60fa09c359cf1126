// The benchmark report and the display auto-configuration: once per machine
// the client's benchmark tool runs, its result, newest log and the client's
// "config.ini" go to the reporting service, and then the client's
// configuration tool chooses display settings on its own.
#include "telemetry/client_report.h"

#include "foundation/countof.h"
#include "foundation/file_version.h"
#include "foundation/log.h"
#include "foundation/system_helpers.h"
#include "foundation/version_number.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "platform/local_time.h"
#include "platform/process.h"
#include "transfer/http_sync_post.h"

#include <cstdio>
#include <cstring>
#include <vector>

#ifndef _countof
#endif

namespace {

const int WAIT_OBJECT_0 = 0;
const int WAIT_TIMEOUT = 258;

const char s_szBenchmarkTool[] = "VoZurazurez.exe";
const char s_szBenchmarkMinVersion[] = "1.0.0.2";
const char s_szBenchmarkResultFile[] = "BenchmarkResult.ini";
const char s_szBenchmarkListFile[] = "BenchmarkList.txt";
const char s_szBenchmarkLogDir[] = "Logs\\VoZurazurez\\";
const char s_szCrashedResult[] = "RvBenchermark crashed!";
const char s_szConfigFile[] = "config.ini";
const char s_szGameConfigTool[] = "GameConfig.exe";
const char s_szGameConfigMinVersion[] = "1.0.0.2086";
const char s_szAutoConfigArgument[] = "AutoConfigDisplay";
const char s_szBenchmarkReportPath[] = "/gamereport/Qv7/client_benchmark_info.do";

// Every file read here is sent in one form post; none has reason to be larger.
const uint64_t s_ullMaxFileSize = 4u << 20;
// A log is picked when its time stamp lies within this many seconds before now.
const int64_t s_llLogWindowSeconds = 120;

// What a text-mode read gives of the bytes: they end at the first Ctrl-Z,
// and each CR LF becomes LF (a lone CR stays).
void _TranslateTextRead(std::string* pstrBytes)
{
    size_t uEnd = pstrBytes->find('\x1A');
    size_t uTo = 0;
    if (uEnd == std::string::npos)
        uEnd = pstrBytes->size();
    for (size_t uFrom = 0; uFrom < uEnd; ++uFrom) {
        if ((*pstrBytes)[uFrom] == '\r' && uFrom + 1 < uEnd && (*pstrBytes)[uFrom + 1] == '\n')
            continue;
        (*pstrBytes)[uTo++] = (*pstrBytes)[uFrom];
    }
    pstrBytes->resize(uTo);
}

// A whole file of at most s_ullMaxFileSize bytes read as text; a file that
// gives nothing fails.
int _ReadFileBytes(const std::string& strFilePath, std::string* pstrRetBytes)
{
    int nResult = 0;
    FILE* pFile = nullptr;
    long lFileSize = 0;
    uint64_t uFileSize = 0;
    size_t uRetCode = 0;
    std::vector<char> vecBuffer;

    pFile = Pf_FOpen(strFilePath, "r");
    RVLOG_PROCESS_ERROR(pFile);
    RVLOG_PROCESS_ERROR(fseek(pFile, 0, SEEK_END) == 0);
    lFileSize = ftell(pFile);
    RVLOG_PROCESS_ERROR(lFileSize >= 0);
    uFileSize = (uint64_t)lFileSize;
    RVLOG_PROCESS_ERROR(uFileSize <= s_ullMaxFileSize);
    RVLOG_PROCESS_ERROR(fseek(pFile, 0, SEEK_SET) == 0);
    vecBuffer.assign((size_t)uFileSize + 4, '\0');
    uRetCode = fread(vecBuffer.data(), 1, (size_t)uFileSize, pFile);
    pstrRetBytes->assign(vecBuffer.data(), uRetCode);
    _TranslateTextRead(pstrRetBytes);
    uRetCode = pstrRetBytes->size();
    RVLOG_PROCESS_ERROR(uRetCode);
    nResult = 1;
Exit0:
    if (!nResult)
        RvLog_Write(RVLOG_DEBUG, "Failed to read `%s`, error %d", strFilePath.c_str(), Pf_GetLastError());
    if (pFile)
        fclose(pFile);
    return nResult;
}

// Whether the tool's file version is at least the given one; an unreadable
// or unparsable version counts as too old.
int _IsToolAtLeast(const std::string& strToolPath, const char* cszMinVersion)
{
    int nResult = 0;
    int nRetCode = 0;
    std::string strVersion;
    Rv_VersionNumber ToolVersion;
    Rv_VersionNumber MinVersion;

    nRetCode = Rv_GetApplicationFileVersionNumber(strToolPath.c_str(), &strVersion);
    RVLOG_PROCESS_ERROR(nRetCode && "Rv_GetApplicationFileVersionNumber()");
    nRetCode = ToolVersion.ParseString(strVersion.c_str());
    RVLOG_PROCESS_ERROR(nRetCode && "ToolVersion.ParseString()");
    nRetCode = MinVersion.ParseString(cszMinVersion);
    RVLOG_PROCESS_ERROR(nRetCode && "MinVersion.ParseString()");
    RVLOG_PROCESS_ERROR(ToolVersion >= MinVersion);
    nResult = 1;
Exit0:
    return nResult;
}

// Two decimal digits at pszText; -1 when either is not a digit.
int _TwoDigits(const char* pszText)
{
    if (pszText[0] < '0' || pszText[0] > '9' || pszText[1] < '0' || pszText[1] > '9')
        return -1;
    return (pszText[0] - '0') * 10 + (pszText[1] - '0');
}

}  // namespace

void NyClientReport::_BenchmarkThreadFunc(void* pvThis)
{
    NyClientReport* pThis = (NyClientReport*)pvThis;
    if (!pThis)
        return;
    if (pThis->_ReportBenchmarkRes())
        pThis->_AutoConfigDisplay();
}

int NyClientReport::_ReportBenchmarkRes()
{
    int nResult = 0;
    int nRetCode = 0;
    int bCrashed = 0;
    std::string strBenchmarkResult;
    std::string strLogContent;
    std::string strConfigContent;
    Rv_HttpSyncPost HttpSyncPost;

    RVLOG_PROCESS_SUCCESS(_IsInfoReported("BenchmarkResReported", 5));

    nRetCode = RVU_IsD3DX9Installed();
    RVLOG_PROCESS_ERROR(nRetCode);
    nRetCode = _CheckBenchmarkValidity();
    RVLOG_PROCESS_ERROR(nRetCode);
    nRetCode = _GetBenchmarkResult(strBenchmarkResult, &bCrashed);
    RVLOG_PROCESS_ERROR(nRetCode);
    nRetCode = _GetBenchmarkLogContent(strLogContent);
    RVLOG_PROCESS_ERROR(nRetCode && "_GetBenchmarkLogContent");
    nRetCode = _GetConfigContent(strConfigContent);
    RVLOG_PROCESS_ERROR(nRetCode && "_GetConfigContent");

    nRetCode = HttpSyncPost.Init(s_szBenchmarkReportPath);
    RVLOG_PROCESS_ERROR(nRetCode && "HttpSyncPost.Init()");
    nRetCode = HttpSyncPost.AddParam("game_name", "q7") && HttpSyncPost.AddParam("uuid4", m_szClientType) &&
               HttpSyncPost.AddParam("uuid5", m_szFelnUUIDEx) &&
               HttpSyncPost.AddParam("benchmark_result", strBenchmarkResult.c_str()) &&
               HttpSyncPost.AddParam("log_content", strLogContent.c_str()) &&
               HttpSyncPost.AddParam("config_content", strConfigContent.c_str());
    RVLOG_PROCESS_ERROR(nRetCode && "HttpSyncPost.AddParam()");
    nRetCode = HttpSyncPost.Post();
    RVLOG_PROCESS_ERROR(nRetCode && "HttpSyncPost.Post()");

    // A crashed run is tried again in the next one.
    RVLOG_PROCESS_SUCCESS(bCrashed);
    nRetCode = _SetSentInfoReported("BenchmarkResReported", 5, m_szFelnUUIDEx);
    RVLOG_PROCESS_ERROR(nRetCode && "_SetInfoReported()");
    m_bBenchmarkSent = 1;
Exit1:
    nResult = 1;
Exit0:
    return nResult;
}

int NyClientReport::_CheckBenchmarkValidity()
{
    int nResult = 0;
    int nRetCode = 0;
    std::string strList;

    nRetCode = _ReadFileBytes(m_strExeFolder + s_szBenchmarkListFile, &strList);
    RVLOG_PROCESS_ERROR(nRetCode);
    for (size_t i = 0; i + 1 < strList.size(); ++i) {
        if (strList[i] == '\\' && strList[i + 1] == '\\') {
            RvLog_Write(RVLOG_DEBUG, "%s holds a doubled backslash at byte %u", s_szBenchmarkListFile, (unsigned)i);
            goto Exit0;
        }
    }
    nResult = _CheckBenchmarkVersion();
Exit0:
    return nResult;
}

int NyClientReport::_CheckBenchmarkVersion()
{
    return _IsToolAtLeast(m_strExeFolder + s_szBenchmarkTool, s_szBenchmarkMinVersion);
}

int NyClientReport::_RunTool(const std::string& strCommandLine)
{
    int nResult = 0;
    int nRetCode = 0;
    Pf_Process process;

    nRetCode = process.Start(strCommandLine, "");
    if (!nRetCode)
        RvLog_Write(RVLOG_DEBUG, "Failed to start %s, error %d", strCommandLine.c_str(), Pf_GetLastError());
    RVLOG_PROCESS_ERROR(nRetCode && "CreateProcess()");
    // A tool that does not end in time is left running; this run gives up on it.
    nRetCode = process.Wait(m_uToolWaitMs) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
    RVLOG_PROCESS_ERROR(nRetCode == WAIT_OBJECT_0);
    nResult = 1;
Exit0:
    return nResult;
}

int NyClientReport::_GetBenchmarkResult(std::string& rstrBenchmarkResult, int* pbRetCrashed)
{
    int nResult = 0;
    int nRetCode = 0;
    std::string strResultFile = m_strExeFolder + s_szBenchmarkResultFile;

    RVLOG_PROCESS_ERROR(rstrBenchmarkResult.empty());
    RVLOG_PROCESS_ERROR(pbRetCrashed);
    Pf_DeleteNormalFile(strResultFile);

    nRetCode = _RunTool("\"" + m_strExeFolder + s_szBenchmarkTool + "\"");
    if (!nRetCode)
        goto Exit0;

    if (Pf_FileExists(strResultFile)) {
        nRetCode = _GetFileContent(rstrBenchmarkResult, strResultFile);
        RVLOG_PROCESS_ERROR(nRetCode);
        *pbRetCrashed = 0;
    } else {
        rstrBenchmarkResult = s_szCrashedResult;
        *pbRetCrashed = 1;
    }
    nResult = 1;
Exit0:
    return nResult;
}

int NyClientReport::_GetBenchmarkLogContent(std::string& rstrLogContent)
{
    int nResult = 0;
    int nRetCode = 0;
    int64_t llNow = 0;
    Pf_SYSTEMTIME localNow{};
    char szDateLogDir[32];
    std::string strLogDir;
    std::vector<Pf_DirEntry> vecEntries;
    const Pf_DirEntry* pKept = nullptr;
    int64_t llKeptTime = 0;

    RVLOG_PROCESS_ERROR(rstrLogContent.empty());
    llNow = Pf_GetUnixTime();
    Pf_GetLocalTime(&localNow);
    nRetCode = snprintf(szDateLogDir, sizeof(szDateLogDir), "%d_%2.2d_%2.2d\\", localNow.nYear, localNow.nMonth,
                        localNow.nDay);
    RVLOG_PROCESS_ERROR(nRetCode > 0 && nRetCode < _countof(szDateLogDir));
    strLogDir = m_strExeFolder + s_szBenchmarkLogDir + szDateLogDir;

    RVLOG_PROCESS_SUCCESS(!Pf_DirExists(strLogDir));
    nRetCode = Pf_ListDir(strLogDir, &vecEntries);
    if (!nRetCode)
        RVLOG_PROCESS_ERROR(false && "FindNextFile()");
    for (const Pf_DirEntry& entry : vecEntries) {
        int64_t llTime = 0;
        if (entry.bIsDir)
            continue;
        llTime = _GetBenchmarkLogTime(entry.strName.c_str());
        if (llNow - s_llLogWindowSeconds < llTime && llTime < llNow && (!pKept || llTime > llKeptTime)) {
            pKept = &entry;
            llKeptTime = llTime;
        }
    }
    if (pKept && !_GetFileContent(rstrLogContent, strLogDir + pKept->strName))
        rstrLogContent.clear();
Exit1:
    nResult = 1;
Exit0:
    return nResult;
}

int64_t NyClientReport::_GetBenchmarkLogTime(const char* cszFileName)
{
    // "..._YYYY_MM_DD_hh_mm_ss.log"
    static const size_t s_uStampLength = 24;
    size_t uLength = 0;
    const char* pszStamp = nullptr;
    Pf_SYSTEMTIME stamp{};
    int anParts[5];
    int64_t llSeconds = 0;

    if (!cszFileName)
        return 0;
    uLength = strlen(cszFileName);
    if (uLength < s_uStampLength || uLength >= 260 || strcmp(cszFileName + uLength - 4, ".log") != 0)
        return 0;
    pszStamp = cszFileName + uLength - s_uStampLength;
    if (pszStamp[0] != '_')
        return 0;
    for (int i = 0; i < 4; ++i) {
        if (pszStamp[1 + i] < '0' || pszStamp[1 + i] > '9')
            return 0;
        stamp.nYear = stamp.nYear * 10 + (pszStamp[1 + i] - '0');
    }
    for (int i = 0; i < 5; ++i) {
        const char* pszPart = pszStamp + 5 + 3 * i;
        if (pszPart[0] != '_')
            return 0;
        anParts[i] = _TwoDigits(pszPart + 1);
        if (anParts[i] < 0)
            return 0;
    }
    stamp.nMonth = anParts[0];
    stamp.nDay = anParts[1];
    stamp.nHour = anParts[2];
    stamp.nMinute = anParts[3];
    stamp.nSecond = anParts[4];
    if (stamp.nMonth < 1 || stamp.nMonth > 12 || stamp.nDay < 1 || stamp.nDay > 31 || stamp.nHour > 23 ||
        stamp.nMinute > 59 || stamp.nSecond > 60)
        return 0;
    // The stamp is the wall clock of its day, daylight saving time included.
    if (!Pf_LocalTimeToUnix(stamp, &llSeconds))
        return 0;
    return llSeconds;
}

int NyClientReport::_GetConfigContent(std::string& rstrConfigContent)
{
    int nResult = 0;
    int bRetCode = 0;

    RVLOG_PROCESS_ERROR(rstrConfigContent.empty());
    bRetCode = _GetFileContent(rstrConfigContent, m_strExeFolder + s_szConfigFile);
    RVLOG_PROCESS_ERROR(bRetCode);
    nResult = 1;
Exit0:
    return nResult;
}

int NyClientReport::_GetFileContent(std::string& rstrFileContent, const std::string& strFilePath)
{
    int nResult = 0;
    int nRetCode = 0;
    std::string strBytes;
    size_t uZero = 0;

    RVLOG_PROCESS_ERROR(rstrFileContent.empty());
    nRetCode = _ReadFileBytes(strFilePath, &strBytes);
    RVLOG_PROCESS_ERROR(nRetCode);
    // A form field is a text: it ends at the first zero byte.
    uZero = strBytes.find('\0');
    if (uZero != std::string::npos) {
        RvLog_Write(RVLOG_DEBUG, "`%s` is sent up to its zero byte at %u of %u", strFilePath.c_str(), (unsigned)uZero,
                    (unsigned)strBytes.size());
        strBytes.resize(uZero);
    }
    rstrFileContent = strBytes;
    nResult = 1;
Exit0:
    return nResult;
}

int NyClientReport::_AutoConfigDisplay()
{
    int nResult = 0;
    int nRetCode = 0;
    char szCommandLine[512];

    RVLOG_PROCESS_SUCCESS(!m_bBenchmarkSent && _IsInfoReported("AutoConfigDisplay", 1));
    nRetCode = _CheckGameConfigVersion();
    if (!nRetCode)
        goto Exit0;
    nRetCode = snprintf(szCommandLine, sizeof(szCommandLine), "\"%s\" %s", (m_strExeFolder + s_szGameConfigTool).c_str(),
                        s_szAutoConfigArgument);
    RVLOG_PROCESS_ERROR(nRetCode > 0);
    RVLOG_PROCESS_ERROR(nRetCode < _countof(szCommandLine));
    nRetCode = _RunTool(szCommandLine);
    if (!nRetCode)
        goto Exit0;
    nRetCode = _SetInfoReported("AutoConfigDisplay", 1);
    RVLOG_PROCESS_ERROR(nRetCode && "_SetInfoReported()");
Exit1:
    nResult = 1;
Exit0:
    return nResult;
}

int NyClientReport::_CheckGameConfigVersion()
{
    return _IsToolAtLeast(m_strExeFolder + s_szGameConfigTool, s_szGameConfigMinVersion);
}
