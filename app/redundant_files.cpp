// Pruning of old log day folders and removal of runtime leftovers.
#include "app/redundant_files.h"

#include "foundation/log.h"
#include "foundation/system_helpers.h"
#include "platform/file.h"
#include "platform/ini.h"
#include "platform/path.h"
#include "platform/real_path.h"

namespace {

const char s_szOldDirectXDir[] = "..\\..\\3rdParty\\DX9\\";
const char s_szPhysXInstaller[] = "..\\..\\3rdParty\\PhysX_8.10.13_SystemSoftware.exe";
const int s_nRemoveFileAttempts = 3;

// A real folder: a link to one is not enumerated, so nothing is reached through it.
int _IsRealDir(const std::string& strPath)
{
    return Pf_DirExists(strPath) && !Pf_IsLink(strPath);
}

struct DayFolder {
    std::string strName;
    uint64_t ullCreation;
};

}  // namespace

int _GetSubDirNameList(const char* cszDirectoryPath, std::vector<std::string>* pvecRetNames)
{
    int nResult = 0;
    std::vector<Pf_DirEntry> vecEntries;

    RVLOG_PROCESS_ERROR(cszDirectoryPath && pvecRetNames);
    pvecRetNames->clear();
    if (!_IsRealDir(cszDirectoryPath))
        goto Exit1;
    RVLOG_PROCESS_ERROR(Pf_ListDir(cszDirectoryPath, &vecEntries));
    for (const Pf_DirEntry& entry : vecEntries) {
        if (entry.bIsDir && entry.strName[0] != '.')
            pvecRetNames->push_back(entry.strName);
    }
Exit1:
    nResult = 1;
Exit0:
    return nResult;
}

int _RemoveRedundantLogFile(const char* cszDirectoryPath, int nSaveDays)
{
    int nResult = 0;
    std::string strDir;
    std::vector<Pf_DirEntry> vecEntries;
    std::vector<DayFolder> vecDays;
    uint64_t ullNewest = 0;

    RVLOG_PROCESS_ERROR(cszDirectoryPath);
    if (nSaveDays < 1)
        goto Exit1;
    strDir = Pf_WithSeparator(cszDirectoryPath);
    if (!_IsRealDir(strDir))
        goto Exit1;
    if (!Pf_ListDir(strDir, &vecEntries)) {
        RvLog_Write(RVLOG_ERROR, "Failed to remove redundant log file in directory `%s`, Last Error: %d", strDir.c_str(),
                    Pf_GetLastError());
        goto Exit0;
    }
    for (const Pf_DirEntry& entry : vecEntries) {
        Pf_FILETIME ftCreation{};
        if (!entry.bIsDir || entry.strName[0] == '.')
            continue;
        if (!Pf_GetFileTimes(strDir + entry.strName, &ftCreation, nullptr, nullptr))
            continue;
        vecDays.push_back(DayFolder{entry.strName, Pf_FileTimeToU64(ftCreation)});
        if (vecDays.back().ullCreation > ullNewest)
            ullNewest = vecDays.back().ullCreation;
    }
    for (const DayFolder& day : vecDays) {
        // Whole days apart, counted without a product that could overflow.
        if ((ullNewest - day.ullCreation) / RVU_FILETIME_UNITS_PER_DAY >= (uint64_t)nSaveDays)
            _RemoveDirectory((strDir + day.strName).c_str());
    }
Exit1:
    nResult = 1;
Exit0:
    return nResult;
}

int _RemoveDirectory(const char* cszDirectoryPath)
{
    int nResult = 0;
    std::string strDir;
    std::vector<Pf_DirEntry> vecEntries;

    RVLOG_PROCESS_ERROR(cszDirectoryPath && cszDirectoryPath[0]);
    strDir = Pf_WithSeparator(cszDirectoryPath);
    if (!_IsRealDir(strDir))
        goto Exit1;
    nResult = Pf_ListDir(strDir, &vecEntries);
    if (nResult) {
        for (const Pf_DirEntry& entry : vecEntries) {
            if (entry.strName == "." || entry.strName == "..")
                continue;
            if (!entry.bIsDir)
                _RemoveFile((strDir + entry.strName).c_str());
            else if (entry.strName[0] != '.')
                _RemoveDirectory((strDir + entry.strName).c_str());
        }
        nResult = Pf_RemoveDir(strDir);
    }
    if (!nResult)
        RvLog_Write(RVLOG_ERROR, "Failed to remove directory `%s`, GetLastError() = %d", strDir.c_str(), Pf_GetLastError());
    goto Exit0;
Exit1:
    nResult = 1;
Exit0:
    return nResult;
}

int _RemoveFile(const char* cszFileName)
{
    int nResult = 0;
    int nError = 0;

    RVLOG_PROCESS_ERROR(cszFileName && cszFileName[0]);
    if (!Pf_PathExists(cszFileName))
        goto Exit1;
    for (int i = 0; i < s_nRemoveFileAttempts; ++i) {
        if (!Pf_IsLink(cszFileName))
            Pf_SetReadOnly(cszFileName, 0);
        if (Pf_DeleteFile(cszFileName))
            goto Exit1;
        nError = Pf_GetLastError();
    }
    RvLog_Write(RVLOG_ERROR, "Failed to remove file `%s`, errno = %d", cszFileName, nError);
    goto Exit0;
Exit1:
    nResult = 1;
Exit0:
    return nResult;
}

int RVU_RemoveRedundantFiles(const char* cszApplicationPath)
{
    int nResult = 0;
    int nSaveDays = RVU_DEFAULT_LOG_SAVE_DAYS;
    std::string strInstallRoot;
    std::string strCurrent;
    std::string strLogRoot;
    std::vector<std::string> vecIdentities;

    RVLOG_PROCESS_ERROR(cszApplicationPath && cszApplicationPath[0]);
    nSaveDays = Pf_IniReadInt(Pf_WithSeparator(cszApplicationPath) + "refitter.ini", "Logs", "SaveDays",
                              RVU_DEFAULT_LOG_SAVE_DAYS);
    strInstallRoot = Pf_WithSeparator(cszApplicationPath) + "..\\..\\";
    RVLOG_PROCESS_ERROR(Rv_GetCurrentDir(&strCurrent));
    strLogRoot = strCurrent + "Logs\\";

    // The current folder decides where everything below lies; what would
    // land outside the installation is left alone.
    if (Pf_IsPathInside(strLogRoot, strInstallRoot)) {
        RVLOG_PROCESS_ERROR(_GetSubDirNameList(strLogRoot.c_str(), &vecIdentities));
        for (const std::string& strName : vecIdentities)
            _RemoveRedundantLogFile((strLogRoot + strName).c_str(), nSaveDays);
    } else {
        RvLog_Write(RVLOG_ERROR, "Log folder `%s` is outside the installation, not pruned.", strLogRoot.c_str());
    }
    if (Pf_IsPathInside(strCurrent + s_szOldDirectXDir, strInstallRoot))
        _RemoveDirectory((strCurrent + s_szOldDirectXDir).c_str());
    if (Pf_IsPathInside(strCurrent + s_szPhysXInstaller, strInstallRoot))
        _RemoveFile((strCurrent + s_szPhysXInstaller).c_str());
    nResult = 1;
Exit0:
    return nResult;
}
