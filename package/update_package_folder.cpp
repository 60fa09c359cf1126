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
        RVPK_PROCESS_ERROR_QUOTING(nRetCode, "Rv_SyncDirectory(pcszPackageDirectory)");
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

int _IsDataFileName(const std::u16string& strName, const std::u16string& strPrefix, uint64_t* pullRetIndex, int* pbRetAsWritten)
{
    size_t uDot = strName.rfind(u'.');
    size_t uDigits = 0;
    uint64_t ullIndex = 0;

    if (strPrefix.empty() || uDot == std::u16string::npos || uDot <= strPrefix.size())
        return 0;
    if (!Rv_StrCaseEqual(strName.substr(0, strPrefix.size()), strPrefix))
        return 0;
    if (!Rv_StrCaseEqual(strName.substr(uDot + 1), u"DAT") && !Rv_StrCaseEqual(strName.substr(uDot + 1), u"DATA"))
        return 0;
    for (size_t i = strPrefix.size(); i < uDot; ++i) {
        char16_t c = strName[i];
        if (c < u'0' || c > u'9')
            return 0;
        ullIndex = (ullIndex > (UINT64_MAX - 9) / 10) ? UINT64_MAX : ullIndex * 10 + (uint64_t)(c - u'0');
        ++uDigits;
    }
    *pullRetIndex = ullIndex;
    *pbRetAsWritten = (uDigits == 1 || strName[strPrefix.size()] != u'0') && ullIndex <= UINT32_MAX;
    return 1;
}

int _IsNameManagedByPackage(const std::u16string& strName, const std::u16string& strConfigFileName, const std::u16string& strPrefix)
{
    static const char16_t* const s_apcszManagedExtensions[] = {u"BackupDir", u"DIR", u"tmp", u"temp", u"ToDelete"};
    uint64_t ullIndex = 0;
    int bAsWritten = 0;

    if (Rv_StrCaseEqual(strName, strConfigFileName) || Rv_StrCaseEqual(strName, u"BackupData"))
        return 1;
    if (strName.find(u'.') != std::u16string::npos) {
        for (const char16_t* pcszExtension : s_apcszManagedExtensions)
            if (Rv_StrCaseEqual(Rv_GetExtension(strName), pcszExtension))
                return 1;
    }
    return _IsDataFileName(strName, strPrefix, &ullIndex, &bAsWritten);
}

int _CleanPackageDirectoryForUpdate(const RVPK_DATA_CONFIG& rDataConfig, const char16_t* pcszPackageDirectory)
{
    int nResult = 0;
    int nRetCode = 0;
    std::vector<std::u16string> vecNames;
    std::u16string strExtension;
    std::u16string strPath;
    std::u16string strPrefix;
    FILE* fpFile = nullptr;
    RVPK_DIRECTORY_HEADER Header;
    size_t uReadCount = 0;
    uint64_t ullDataFileIndex = 0;
    int bAsWritten = 0;

    RVPK_ASSERT_EXIT(pcszPackageDirectory);
    nRetCode = Rv_ReadFixedString(rDataConfig.szFileNamePrefix, 64, &strPrefix);
    RVPK_PROCESS_ERROR_QUOTING(nRetCode, "szFileNamePrefix terminated");
    nRetCode = Rv_ListPackageFiles(pcszPackageDirectory, &vecNames);
    RVPK_PROCESS_ERROR(nRetCode);
    for (const std::u16string& strName : vecNames) {
        if (strName.find(u'.') == std::u16string::npos)
            continue;
        strExtension = Rv_GetExtension(strName);
        strPath = Rv_JoinPackagePath(pcszPackageDirectory, strName);
        if (_IsDataFileName(strName, strPrefix, &ullDataFileIndex, &bAsWritten)) {
            // Nothing refers to a data file beyond the count: an update that
            // added it was rolled back, or never saved its configuration.
            if (!bAsWritten || ullDataFileIndex < rDataConfig.uDataFileCount)
                continue;
            Pf_CrashPoint();
            if (Rv_DeleteFile(strPath.c_str()))
                Rv_LogPrintf(u"Remove succeed: %s", strPath.c_str());
        } else if (Rv_StrCaseEqual(strExtension, u"tmp")) {
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
    RVPK_PROCESS_ERROR_QUOTING(nRetCode, "Rv_SyncDirectory(pcszPackageDirectory)");
    nResult = 1;
Exit0:
    if (fpFile)
        fclose(fpFile);
    return nResult;
}

int _ValidateUpdateKey(uint32_t uUpdateKeyInUpdateFile, uint32_t uUpdateKeyInConfigFile)
{
    int nResult = 0;
    int nRetCode = 0;

    // A package key of 0 accepts every update file.
    nRetCode = uUpdateKeyInConfigFile == 0 || uUpdateKeyInUpdateFile == uUpdateKeyInConfigFile;
    RVPK_PROCESS_ERROR_QUOTING(nRetCode, "uUpdateKeyInUpdateFile == uUpdateKeyInConfigFile");
    nResult = 1;
Exit0:
    if (!nResult) {
        Rv_LogPrintf(u"Validate Update Key: uUpdateKeyInUpdateFile = %u, uUpdateKeyInConfigFile = %u", uUpdateKeyInUpdateFile,
                     uUpdateKeyInConfigFile);
    }
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
