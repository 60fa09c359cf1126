// Pruning of old program logs: every log older than 13 days goes, and the
// oldest logs go until each program's logs total at most 50 MiB.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// The day number (year * 365 + month * 30 + day) of a log file name whose
// last 23 characters read "year_month_day_hour_minute_second.log"; 0 when
// the name is not a log (too short, other ending, numbers out of range).
int Rv_GetLogFileDayNumber(const std::string& strName, int64_t* pllRetDay);
// Today's day number by the same rule.
int64_t Rv_GetTodayDayNumber();
// Every log file below the folder, at any depth, with their total size.
int Rv_GetLogFileList(const std::string& strDirectoryPath, std::vector<std::string>* pvecList, uint64_t* pullTotal);
// Prunes the logs below one program's folder (a path ending in a separator).
int Rv_RemoveUnnecessaryLogs(const std::string& strDirectoryPath);
// Prunes every program's folder in the logs folder (ending in a separator).
int Rv_RemoveAllUnnecessaryLogs(const std::string& strLogsPath);
