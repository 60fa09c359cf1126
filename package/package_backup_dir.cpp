// Backup copies of directory files: making them, restoring them in a
// rollback, and deleting the whole backup after a finished update.
#include "package/package_backup.h"

#include "package/directory_file.h"
#include "package/folder_helpers.h"
#include "package/log_stream.h"
#include "package/wide_string.h"
#include "platform/crash_point.h"
#include "platform/file.h"

#include <cstdio>
#include <string>

int Rv_ListPackageFiles(const char16_t* pcszDirectory, std::vector<std::u16string>* pvecRetNames)
{
    int nResult = 0;
    int nRetCode = 0;
    RV_DIR_HANDLE hDir = nullptr;
    RV_DIR_ITEM DirItem;
    int bNoMore = 0;
    std::vector<std::u16string> vecNames;

    RVPK_ASSERT_EXIT(pcszDirectory);
    RVPK_ASSERT_EXIT(pvecRetNames);
    nRetCode = Rv_OpenDirectory(pcszDirectory, &hDir);
    RVPK_PROCESS_ERROR(nRetCode);
    for (;;) {
        nRetCode = Rv_ReadDirectory(hDir, &DirItem, &bNoMore);
        RVPK_PROCESS_ERROR(nRetCode);
        if (bNoMore)
            break;
        if (DirItem.eType == RV_DIR_ITEM_TYPE_DIRECTORY)
            continue;
        RVPK_PROCESS_ERROR(DirItem.eType == RV_DIR_ITEM_TYPE_FILE);
        vecNames.push_back(DirItem.pcszName);
    }
    pvecRetNames->swap(vecNames);
    nResult = 1;
Exit0:
    if (hDir)
        Rv_CloseDirectory(hDir);
    return nResult;
}

int _BackupAllDirFiles(const char16_t* pcszFileDirectory)
{
    int nResult = 0;
    int nRetCode = 0;
    std::vector<std::u16string> vecNames;
    std::u16string strSource;
    std::u16string strTarget;

    RVPK_ASSERT_EXIT(pcszFileDirectory);
    nRetCode = Rv_ListPackageFiles(pcszFileDirectory, &vecNames);
    RVPK_PROCESS_ERROR(nRetCode);
    for (const std::u16string& strName : vecNames) {
        if (strName.find(u'.') == std::u16string::npos || !Rv_StrCaseEqual(Rv_GetExtension(strName), u"DIR"))
            continue;
        strSource = Rv_JoinPackagePath(pcszFileDirectory, strName);
        strTarget = strSource + u".BackupDir";
        Pf_CrashPoint();
        // The copy goes through a temporary name and is synced before its rename.
        nRetCode = Pf_CopyFile(Rv_ToNarrow(strSource), Rv_ToNarrow(strTarget), 0);
        RVPK_PROCESS_ERROR(nRetCode);
    }
    nRetCode = Rv_SyncDirectory(pcszFileDirectory);
    RVPK_PROCESS_ERROR_QUOTING(nRetCode, "Rv_SyncDirectory(pcszFileDirectory)");
    nResult = 1;
Exit0:
    return nResult;
}

// Restores one backup copy. The target is the copy's own name without
// ".BackupDir"; only the legacy copy named "BackupDir" takes the header's
// branch name, which must then be a safe name.
static int _RecoverDirFile(const char16_t* pcszPackageDirectory, const std::u16string& strBackupName, uint32_t uDataVersion)
{
    int nResult = 0;
    int nRetCode = 0;
    std::u16string strBackupPath = Rv_JoinPackagePath(pcszPackageDirectory, strBackupName);
    std::u16string strTargetPath;
    std::u16string strBranch;
    FILE* fpFile = nullptr;
    RVPK_DIRECTORY_HEADER BackupDirHeader;
    size_t uReadCount = 0;
    int bValid = 0;

    fpFile = Rv_FOpen(strBackupPath.c_str(), "rb");
    if (!fpFile) {
        nResult = 1;   // nothing to restore
        goto Exit0;
    }
    uReadCount = fread(&BackupDirHeader, sizeof(BackupDirHeader), 1, fpFile);
    fclose(fpFile);
    fpFile = nullptr;
    RVPK_PROCESS_ERROR(uReadCount == 1);

    bValid = BackupDirHeader.uSignature == RVPK_DIR_SIGNATURE || BackupDirHeader.uFileFormatVersion == RVPK_VERSION ||
             BackupDirHeader.szBranchName[0] != 0 || BackupDirHeader.szConfigFileName[0] != 0;
    if (!bValid || BackupDirHeader.uDataVersion != uDataVersion) {
        Pf_CrashPoint();
        Rv_DeleteFile(strBackupPath.c_str());
        if (!bValid) {
            Rv_LogPrintf(u"BackupDirHeader.uSignature          = %x", (unsigned)BackupDirHeader.uSignature);
            Rv_LogPrintf(u"BackupDirHeader.uFileFormatVersion  = %x", (unsigned)BackupDirHeader.uFileFormatVersion);
            Rv_LogPrintf(u"BackupDirHeader.szBranchName[0]     = %d", (int)BackupDirHeader.szBranchName[0]);
            Rv_LogPrintf(u"BackupDirHeader.szConfigFileName[0] = %d", (int)BackupDirHeader.szConfigFileName[0]);
        }
        nResult = 1;
        goto Exit0;
    }

    Rv_LogPrintf(u"WARNING :Rollback directory, DirectoryName = %s", strBackupName.c_str());
    // The folder must be absolute: a relative one would restore somewhere else.
    RVPK_PROCESS_ERROR_QUOTING(pcszPackageDirectory[0] == u'/', "absolute package folder");
    if (Rv_StrCaseEqual(strBackupName, u"BackupDir")) {
        nRetCode = Rv_ReadFixedString(BackupDirHeader.szBranchName, 64, &strBranch);
        RVPK_PROCESS_ERROR_QUOTING(nRetCode, "szBranchName terminated");
        RVPK_PROCESS_ERROR_QUOTING(Rv_IsSafeFileName(strBranch), "Rv_IsSafeFileName(szBranchName)");
        strTargetPath = Rv_JoinPackagePath(pcszPackageDirectory, strBranch + u".DIR");
    } else {
        strTargetPath = strBackupPath.substr(0, strBackupPath.size() - 10);   // without ".BackupDir"
    }
    // One rename replaces the target whether or not it is there: no moment
    // without a directory file, and a missing target is restored too.
    Pf_CrashPoint();
    nRetCode = Rv_MoveFileOverwrite(strBackupPath.c_str(), strTargetPath.c_str());
    RVPK_PROCESS_ERROR(nRetCode);
    nRetCode = Rv_SyncDirectory(pcszPackageDirectory);
    RVPK_PROCESS_ERROR_QUOTING(nRetCode, "Rv_SyncDirectory(pcszPackageDirectory)");
    nResult = 1;
Exit0:
    return nResult;
}

int _RecoverDirFileIfNeeded(const char16_t* pcszPackageDirectory, uint32_t uDataVersion)
{
    int nResult = 0;
    int nRetCode = 0;
    std::vector<std::u16string> vecNames;
    std::u16string strExtension;

    RVPK_ASSERT_EXIT(pcszPackageDirectory);
    if (Rv_IsFileExist(Rv_JoinPackagePath(pcszPackageDirectory, u"BackupDir").c_str())) {
        nRetCode = _RecoverDirFile(pcszPackageDirectory, u"BackupDir", uDataVersion);
        RVPK_PROCESS_ERROR(nRetCode);
    }
    nRetCode = Rv_ListPackageFiles(pcszPackageDirectory, &vecNames);
    RVPK_PROCESS_ERROR(nRetCode);
    for (const std::u16string& strName : vecNames) {
        if (strName.find(u'.') == std::u16string::npos)
            continue;
        strExtension = Rv_GetExtension(strName);
        if (Rv_StrCaseEqual(strExtension, u"tmp")) {
            Pf_CrashPoint();
            Rv_DeleteFile(Rv_JoinPackagePath(pcszPackageDirectory, strName).c_str());
        } else if (Rv_StrCaseEqual(strExtension, u"BackupDir")) {
            nRetCode = _RecoverDirFile(pcszPackageDirectory, strName, uDataVersion);
            RVPK_PROCESS_ERROR(nRetCode);
        }
    }
    nResult = 1;
Exit0:
    return nResult;
}

int Rv_DeletePackageBackup(const char16_t* pcszFileDirectory)
{
    int nResult = 0;
    int nRetCode = 0;
    std::vector<std::u16string> vecNames;
    std::u16string strPath;

    RVPK_ASSERT_EXIT(pcszFileDirectory);
    nRetCode = Rv_ListPackageFiles(pcszFileDirectory, &vecNames);
    RVPK_PROCESS_ERROR(nRetCode);
    for (const std::u16string& strName : vecNames) {
        if (strName.find(u'.') == std::u16string::npos || !Rv_StrCaseEqual(Rv_GetExtension(strName), u"BackupDir"))
            continue;
        strPath = Rv_JoinPackagePath(pcszFileDirectory, strName);
        Pf_SetReadOnly(Rv_ToNarrow(strPath), 0);
        Pf_CrashPoint();
        nRetCode = Rv_DeleteFile(strPath.c_str());
        RVPK_PROCESS_ERROR(nRetCode);
    }
    strPath = Rv_JoinPackagePath(pcszFileDirectory, u"BackupData");
    if (Rv_IsFileExist(strPath.c_str())) {
        Pf_SetReadOnly(Rv_ToNarrow(strPath), 0);
        Pf_CrashPoint();
        nRetCode = Rv_DeleteFile(strPath.c_str());
        RVPK_PROCESS_ERROR(nRetCode);
    }
    nResult = 1;
Exit0:
    return nResult;
}
