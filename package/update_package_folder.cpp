// The folder work of a package update before any operation runs: legacy
// data-file names, leftovers of interrupted runs, the update key, and the
// directory file of a new branch.
#include "package/update_package.h"

#include "package/directory_file.h"
#include "package/folder_helpers.h"
#include "package/log_stream.h"
#include "package/package_backup.h"
#include "package/wide_string.h"
#include "platform/clock.h"
#include "platform/crash_point.h"

#include <cstdio>
#include <cstring>
#include <vector>

int _TransDataToDat(const char16_t* pcszPackageDirectory)
{
    int nResult = 0;
    int nRetCode = 0;
    std::vector<std::u16string> vecNames;
    std::u16string strFrom;
    std::u16string strTo;
    int bMoved = 0;

    RVPK_ASSERT_EXIT(pcszPackageDirectory);
    nRetCode = Rv_ListPackageFiles(pcszPackageDirectory, &vecNames);
    RVPK_PROCESS_ERROR(nRetCode);
    for (const std::u16string& strName : vecNames) {
        if (strName.find(u'.') == std::u16string::npos || !Rv_StrCaseEqual(Rv_GetExtension(strName), u"DATA"))
            continue;
        strFrom = Rv_JoinPackagePath(pcszPackageDirectory, strName);
        strTo = Rv_JoinPackagePath(pcszPackageDirectory, strName.substr(0, strName.size() - 4) + u"DAT");
        Pf_CrashPoint();
        nRetCode = Rv_MoveFileOverwrite(strFrom.c_str(), strTo.c_str());
        RVPK_PROCESS_ERROR(nRetCode);
        bMoved = 1;
    }
    if (bMoved) {
        nRetCode = Rv_SyncDirectory(pcszPackageDirectory);
        RVPK_PROCESS_ERROR(nRetCode && "Rv_SyncDirectory(pcszPackageDirectory)");
    }
    nResult = 1;
Exit0:
    return nResult;
}

int _RenameAndThanDelete(const std::u16string& strPath)
{
    int nResult = 0;
    int nRetCode = 0;
    std::u16string strNewPath;
    char szSeconds[16];

    snprintf(szSeconds, sizeof(szSeconds), "%u", (unsigned)(uint32_t)Pf_GetUnixTime());
    strNewPath = strPath + u"." + std::u16string(szSeconds, szSeconds + strlen(szSeconds)) + u".ToDelete";
    Pf_CrashPoint();
    nRetCode = Rv_MoveFileOverwrite(strPath.c_str(), strNewPath.c_str());
    RVPK_PROCESS_ERROR(nRetCode);
    Rv_LogPrintf(u"Move succeed:  %s -> %s", strPath.c_str(), strNewPath.c_str());
    Pf_CrashPoint();
    if (Rv_DeleteFile(strNewPath.c_str()))
        Rv_LogPrintf(u"Remove succeed: %s", strNewPath.c_str());
    nResult = 1;
Exit0:
    return nResult;
}

int _CleanPackageDirectoryForUpdate(const RVPK_DATA_CONFIG& rDataConfig, const char16_t* pcszPackageDirectory)
{
    int nResult = 0;
    int nRetCode = 0;
    std::vector<std::u16string> vecNames;
    std::u16string strExtension;
    std::u16string strPath;
    FILE* fpFile = nullptr;
    RVPK_DIRECTORY_HEADER Header;
    size_t uReadCount = 0;

    RVPK_ASSERT_EXIT(pcszPackageDirectory);
    nRetCode = Rv_ListPackageFiles(pcszPackageDirectory, &vecNames);
    RVPK_PROCESS_ERROR(nRetCode);
    for (const std::u16string& strName : vecNames) {
        if (strName.find(u'.') == std::u16string::npos)
            continue;
        strExtension = Rv_GetExtension(strName);
        strPath = Rv_JoinPackagePath(pcszPackageDirectory, strName);
        if (Rv_StrCaseEqual(strExtension, u"tmp")) {
            nRetCode = _RenameAndThanDelete(strPath);
            RVPK_PROCESS_ERROR(nRetCode);
            Rv_LogPrintf(u"Rename And Than delete tmp files: filepath = %s", strPath.c_str());
        } else if (Rv_StrCaseEqual(strExtension, u"ToDelete")) {
            Pf_CrashPoint();
            if (Rv_DeleteFile(strPath.c_str()))
                Rv_LogPrintf(u"Remove succeed: %s", strPath.c_str());
        } else if (Rv_StrCaseEqual(strExtension, u"DIR")) {
            fpFile = Rv_FOpen(strPath.c_str(), "rb");
            if (!fpFile)
                Rv_LogPrintf(u"Error: open file failed. szDirectoryFile = %s", strPath.c_str());
            RVPK_PROCESS_ERROR(fpFile);
            uReadCount = fread(&Header, sizeof(Header), 1, fpFile);
            fclose(fpFile);
            fpFile = nullptr;
            if (uReadCount == 1 && Header.uDataVersion == rDataConfig.uDataVersion)
                continue;
            nRetCode = _RenameAndThanDelete(strPath);
            RVPK_PROCESS_ERROR(nRetCode);
            Rv_LogPrintf(u"Rename And Than delete DIR files: filepath = %s", strPath.c_str());
        }
    }
    nRetCode = Rv_SyncDirectory(pcszPackageDirectory);
    RVPK_PROCESS_ERROR(nRetCode && "Rv_SyncDirectory(pcszPackageDirectory)");
    nResult = 1;
Exit0:
    if (fpFile)
        fclose(fpFile);
    return nResult;
}

int _ValidateUpdateKey(uint32_t uUpdateKeyInUpdateFile, uint32_t uUpdateKeyInConfigFile)
{
    int nResult = 0;

    if (uUpdateKeyInConfigFile != 0 && uUpdateKeyInUpdateFile != uUpdateKeyInConfigFile) {
        Rv_LogPrintf(u"Validate Update Key: uUpdateKeyInUpdateFile = %u, uUpdateKeyInConfigFile = %u", uUpdateKeyInUpdateFile,
                     uUpdateKeyInConfigFile);
    }
    RVPK_PROCESS_ERROR(uUpdateKeyInConfigFile == 0 || uUpdateKeyInUpdateFile == uUpdateKeyInConfigFile);
    nResult = 1;
Exit0:
    return nResult;
}

int _CreateDIRFilesIfNeeded(const char16_t* pcszPackageDirectory, const char16_t* pcszBranchName, const char16_t* pcszConfigFileName)
{
    int nResult = 0;
    int nRetCode = 0;
    std::u16string strPath;

    RVPK_ASSERT_EXIT(pcszPackageDirectory);
    RVPK_ASSERT_EXIT(pcszBranchName);
    strPath = Rv_JoinPackagePath(pcszPackageDirectory, std::u16string(pcszBranchName) + u".DIR");
    if (!Rv_IsFileExist(strPath.c_str())) {
        nRetCode = Rv_CreateEmptyDirectoryFile(pcszPackageDirectory, pcszBranchName, pcszConfigFileName);
        RVPK_PROCESS_ERROR(nRetCode);
    }
    nResult = 1;
Exit0:
    return nResult;
}
