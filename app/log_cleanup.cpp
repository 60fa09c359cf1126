// Pruning of old program logs by the date in their names and by total size.
#include "app/log_cleanup.h"

#include "foundation/log.h"
#include "platform/clock.h"
#include "platform/file.h"

#include <algorithm>
#include <strings.h>

static const int64_t s_llKeepDays = 13;
static const uint64_t s_ullMaxTotalSize = 52428800;  // 50 MiB

// Reads one decimal of 1 to 4 digits ending at cEnd.
static int _ReadNumber(const char** ppc, char cEnd, int64_t* pllRetValue)
{
    const char* p = *ppc;
    int64_t llValue = 0;
    int nDigits = 0;
    for (; *p >= '0' && *p <= '9'; ++p, ++nDigits) {
        if (nDigits >= 4)
            return 0;
        llValue = llValue * 10 + (*p - '0');
    }
    if (nDigits == 0 || *p != cEnd)
        return 0;
    *ppc = p + 1;
    *pllRetValue = llValue;
    return 1;
}

int Rv_GetLogFileDayNumber(const std::string& strName, int64_t* pllRetDay)
{
    int64_t allValue[6] = {};
    const char* p = nullptr;
    if (strName.size() <= s_uLogDateLen)
        return 0;
    p = strName.c_str() + strName.size() - s_uLogDateLen;
    if (strName.compare(strName.size() - 4, 4, ".log") != 0)
        return 0;
    for (int i = 0; i < 6; ++i) {
        if (!_ReadNumber(&p, i < 5 ? '_' : '.', &allValue[i]))
            return 0;
    }
    if (allValue[0] < 1 || allValue[1] < 1 || allValue[1] > 12 || allValue[2] < 1 || allValue[2] > 31 ||
        allValue[3] > 23 || allValue[4] > 59 || allValue[5] > 60)
        return 0;
    *pllRetDay = allValue[0] * 365 + allValue[1] * 30 + allValue[2];
    return 1;
}

int64_t Rv_GetTodayDayNumber()
{
    Pf_SYSTEMTIME now;
    Pf_GetLocalTime(&now);
    return (int64_t)now.nYear * 365 + (int64_t)now.nMonth * 30 + now.nDay;
}

int Rv_GetLogFileList(const std::string& strDirectoryPath, std::vector<std::string>* pvecList, uint64_t* pullTotal)
{
    int nResult = 0;
    std::vector<Pf_DirEntry> vecEntries;
    int64_t llDay = 0;
    RVLOG_PROCESS_ERROR(!strDirectoryPath.empty());
    RVLOG_PROCESS_ERROR(Pf_ListDir(strDirectoryPath, &vecEntries));
    for (const Pf_DirEntry& entry : vecEntries) {
        if (entry.bIsDir) {
            if (entry.strName == "." || entry.strName == "..")
                continue;
            RVLOG_PROCESS_ERROR(Rv_GetLogFileList(strDirectoryPath + entry.strName + "\\", pvecList, pullTotal));
        } else if (Rv_GetLogFileDayNumber(entry.strName, &llDay)) {
            pvecList->push_back(strDirectoryPath + entry.strName);
            *pullTotal += entry.ullSize;
        }
    }
    nResult = 1;
Exit0:
    return nResult;
}

static bool _OlderLog(const std::string& strA, const std::string& strB)
{
    return strcasecmp(strA.c_str() + strA.size() - s_uLogDateLen, strB.c_str() + strB.size() - s_uLogDateLen) < 0;
}

int Rv_RemoveUnnecessaryLogs(const std::string& strDirectoryPath)
{
    int nResult = 0;
    int64_t llToday = 0;
    int64_t llDay = 0;
    uint64_t ullTotal = 0;
    uint64_t ullSize = 0;
    std::vector<std::string> vecList;
    std::string strName;
    RVLOG_PROCESS_ERROR(!strDirectoryPath.empty());
    llToday = Rv_GetTodayDayNumber();
    RVLOG_PROCESS_ERROR(Rv_GetLogFileList(strDirectoryPath, &vecList, &ullTotal));
    std::sort(vecList.begin(), vecList.end(), _OlderLog);
    for (const std::string& strPath : vecList) {
        strName = strPath.substr(strPath.find_last_of("\\/") + 1);
        RVLOG_PROCESS_ERROR(Rv_GetLogFileDayNumber(strName, &llDay));
        if (llToday - llDay <= s_llKeepDays && ullTotal <= s_ullMaxTotalSize)
            continue;
        RVLOG_PROCESS_ERROR(Pf_GetFileSize(strPath, &ullSize));
        // A log that grew since the listing counts with what the listing saw.
        ullTotal -= std::min(ullTotal, ullSize);
        if (!Pf_DeleteFile(strPath))
            RvLog_Write(RVLOG_ERROR, "Failed to delete log file `%s`, GetLastError() = %d", strPath.c_str(), Pf_GetLastError());
    }
    nResult = 1;
Exit0:
    return nResult;
}

int Rv_RemoveAllUnnecessaryLogs(const std::string& strLogsPath)
{
    int nResult = 0;
    std::vector<Pf_DirEntry> vecEntries;
    RVLOG_PROCESS_ERROR(Pf_ListDir(strLogsPath, &vecEntries));
    for (const Pf_DirEntry& entry : vecEntries) {
        if (!entry.bIsDir || entry.strName == "." || entry.strName == "..")
            continue;
        RVLOG_PROCESS_ERROR(Rv_RemoveUnnecessaryLogs(strLogsPath + entry.strName + "\\"));
    }
    nResult = 1;
Exit0:
    return nResult;
}
