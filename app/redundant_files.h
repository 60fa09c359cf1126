// Removal of what an update run leaves behind: the program log's day folders
// beyond the configured number of days, and runtime leftovers that older
// client versions installed. Nothing outside the installation (the
// application folder's "..\..\") is ever removed.
#pragma once
#include <string>
#include <vector>

enum : unsigned long long {
    RVU_FILETIME_UNITS_PER_DAY = 864000000000ull,   // 100-ns units
};
enum { RVU_DEFAULT_LOG_SAVE_DAYS = 3 };

// Prunes "<current folder>Logs\<identity>\<day>" to [Logs] "SaveDays" of
// "refitter.ini" in the application folder, and removes the old DirectX
// folder and the physics-engine installer.
int RVU_RemoveRedundantFiles(const char* cszApplicationPath);

// The names of the folder's sub-folders (links excluded) that do not begin
// with "."; a folder that is not there gives an empty list.
int _GetSubDirNameList(const char* cszDirectoryPath, std::vector<std::string>* pvecRetNames);
// Removes the day folders at least nSaveDays older than the newest one.
int _RemoveRedundantLogFile(const char* cszDirectoryPath, int nSaveDays);
// Deletes a folder tree; a link is removed, never followed.
int _RemoveDirectory(const char* cszDirectoryPath);
// Deletes one file (read-only cleared first), up to three attempts.
int _RemoveFile(const char* cszFileName);
