// Package items of a patch: a single-file package update joins the newest
// package of the "NewPack\new_" series or starts the next one; an
// oldest-format package merges into the newest package named in
// "package.ini" or becomes the next one there.
#include "app/patch_extractor.h"
#include "app/patch_extractor_names.h"

#include "foundation/log.h"
#include "package/mini_backup.h"
#include "package/old_package_merge.h"
#include "package/single_file_patcher.h"
#include "platform/file.h"
#include "platform/ini.h"
#include "platform/path.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

enum RV_PACKAGE_VERSION {
    UNKNOWN_PACKAGE = 0,
    OLD_PACKAGE = 1,
    NEW_PACKAGE = 2,
};

const char* const s_cszNewPackagePrefix = "NewPack\\new_";
const char* const s_cszIndexFileName = "NewPackageList.txt";
const char* const s_cszOldIndexFileName = "package.ini";
const char* const s_cszOldIndexSection = "TL5Client";
const uint64_t s_ullMaxNewPackageSize = 0x1F400000;
const uint64_t s_ullMaxOldPackageSize = 0x733332FF;

std::string _FileNameOf(const std::string& strPath)
{
    size_t uSplit = strPath.find_last_of("\\/");
    return strPath.substr(uSplit == std::string::npos ? 0 : uSplit + 1);
}

// A value of the old packages' index, cut to 259 characters; "" when absent.
std::string _ReadOldIndexValue(const std::string& strIniFile, const std::string& strKey)
{
    std::string strValue;
    if (!Pf_IniGetString(strIniFile, s_cszOldIndexSection, strKey, &strValue))
        return "";
    if (strValue.size() > 259)
        strValue.resize(259);
    return strValue;
}

int _GetPackageVersion(const std::string& strPath, int* pnRetVersion)
{
    int nResult = 0;
    int nRetCode = 0;
    FILE* fpFile = nullptr;
    char dwPackageSign[4];

    fpFile = Pf_FOpen(strPath, "rb");
    RVLOG_PROCESS_ERROR(fpFile);
    nRetCode = (int)fread(dwPackageSign, 1, sizeof(dwPackageSign), fpFile);
    RVLOG_PROCESS_ERROR(nRetCode == sizeof(dwPackageSign));
    if (memcmp(dwPackageSign, "PACK", 4) == 0)
        *pnRetVersion = OLD_PACKAGE;
    else if (memcmp(dwPackageSign, "RVPK", 4) == 0)
        *pnRetVersion = NEW_PACKAGE;
    else
        RVLOG_PROCESS_ERROR(false && "Unknown package version.");
    nResult = 1;
Exit0:
    if (!nResult)
        RvLog_Write(RVLOG_ERROR, "Failed to get version of package: %s, errno = %d", strPath.c_str(), errno);
    if (fpFile)
        fclose(fpFile);
    return nResult;
}

// The last line of the single-file packages' index; "" for an empty file.
int _GetLastPackageNameFromIndexFile(const std::string& strIndexFile, std::string* pstrRetName)
{
    int nResult = 0;
    int nRetCode = 0;
    FILE* fpFile = nullptr;
    char szPakName[260];

    pstrRetName->clear();
    fpFile = Pf_FOpen(strIndexFile, "r");
    RVLOG_PROCESS_ERROR(fpFile);
    while (fgets(szPakName, sizeof(szPakName), fpFile)) {
        nRetCode = (int)strlen(szPakName);
        RVLOG_PROCESS_ERROR(nRetCode > 0);
        RVLOG_PROCESS_ERROR(szPakName[nRetCode - 1] == '\n');
        // Lines written on Windows end in a carriage return too.
        if (nRetCode > 1 && szPakName[nRetCode - 2] == '\r')
            nRetCode--;
        pstrRetName->assign(szPakName, (size_t)nRetCode - 1);
    }
    RVLOG_PROCESS_ERROR(feof(fpFile) && "false");
    nResult = 1;
Exit0:
    if (!nResult)
        RvLog_Write(RVLOG_ERROR, "Failed to get last package name from index file, errno = %d", errno);
    if (fpFile)
        fclose(fpFile);
    return nResult;
}

int _AddNewPackageNameToIndexFile(const std::string& strIndexFile, const std::string& strName)
{
    int nResult = 0;
    int nRetCode = 0;
    FILE* fpFile = nullptr;

    fpFile = Pf_FOpen(strIndexFile, "a");
    RVLOG_PROCESS_ERROR(fpFile);
    nRetCode = fprintf(fpFile, "%s\n", strName.c_str());
    RVLOG_PROCESS_ERROR(nRetCode > 0);
    nRetCode = fclose(fpFile);
    fpFile = nullptr;
    RVLOG_PROCESS_ERROR(nRetCode == 0 && "fclose()");
    nResult = 1;
Exit0:
    if (!nResult)
        RvLog_Write(RVLOG_ERROR, "Failed to add new package name to index file, errno = %d", errno);
    if (fpFile)
        fclose(fpFile);
    return nResult;
}

int _GetFileSize(const std::string& strPath, uint64_t* pullRetSize)
{
    int nResult = 0;
    int nRetCode = Pf_GetFileSize(strPath, pullRetSize);
    if (!nRetCode)
        RvLog_Write(RVLOG_ERROR, "Failed to get file size of `%s`, GetLastError() = %d.", strPath.c_str(), Pf_GetLastError());
    RVLOG_PROCESS_ERROR(nRetCode && "hFile != INVALID_HANDLE_VALUE");
    nResult = 1;
Exit0:
    return nResult;
}

int _CheckNewPackageCouldCombine(const std::string& strLeft, const std::string& strRight, int* pbRetCould)
{
    int nResult = 0;
    int nRetCode = 0;
    uint64_t ullLeftSize = 0;
    uint64_t ullRightSize = 0;

    nRetCode = _GetFileSize(strLeft, &ullLeftSize);
    RVLOG_PROCESS_ERROR(nRetCode);
    nRetCode = _GetFileSize(strRight, &ullRightSize);
    RVLOG_PROCESS_ERROR(nRetCode);
    *pbRetCould = ullLeftSize + ullRightSize < s_ullMaxNewPackageSize;
    nResult = 1;
Exit0:
    if (!nResult)
        RvLog_Write(RVLOG_ERROR, "Failed to check old package `%s` and `%s`", strLeft.c_str(), strRight.c_str());
    return nResult;
}

int _ReadPackHeader(const std::string& strPath, PackFileHeader* pRetHeader)
{
    int nResult = 0;
    int nRetCode = 0;
    FILE* fpFile = Pf_FOpen(strPath, "rb");

    RVLOG_PROCESS_ERROR(fpFile);
    nRetCode = (int)fread(pRetHeader, 1, sizeof(*pRetHeader), fpFile);
    RVLOG_PROCESS_ERROR(nRetCode == sizeof(*pRetHeader));
    nResult = 1;
Exit0:
    if (fpFile)
        fclose(fpFile);
    return nResult;
}

int _CheckOldPackageCouldCombine(const std::string& strLeft, const std::string& strRight, int* pbRetCould)
{
    int nResult = 0;
    int nRetCode = 0;
    int ePackageVersion = UNKNOWN_PACKAGE;
    uint64_t ullLeftSize = 0;
    uint64_t ullRightSize = 0;
    PackFileHeader LeftFileHeader;
    PackFileHeader RightFileHeader;

    nRetCode = _GetPackageVersion(strLeft, &ePackageVersion);
    RVLOG_PROCESS_ERROR(nRetCode && ePackageVersion == OLD_PACKAGE);
    nRetCode = _GetPackageVersion(strRight, &ePackageVersion);
    RVLOG_PROCESS_ERROR(nRetCode && ePackageVersion == OLD_PACKAGE);
    nRetCode = _GetFileSize(strLeft, &ullLeftSize);
    RVLOG_PROCESS_ERROR(nRetCode);
    nRetCode = _GetFileSize(strRight, &ullRightSize);
    RVLOG_PROCESS_ERROR(nRetCode);
    if (ullLeftSize + ullRightSize > s_ullMaxOldPackageSize) {
        *pbRetCould = 0;
        goto Exit1;
    }
    nRetCode = _ReadPackHeader(strLeft, &LeftFileHeader);
    RVLOG_PROCESS_ERROR(nRetCode && "nRetCode == sizeof(LeftFileHeader)");
    nRetCode = _ReadPackHeader(strRight, &RightFileHeader);
    RVLOG_PROCESS_ERROR(nRetCode && "nRetCode == sizeof(RightFileHeader)");
    *pbRetCould = (uint64_t)LeftFileHeader.count + RightFileHeader.count < MAX_FILE;
Exit1:
    nResult = 1;
Exit0:
    if (!nResult)
        RvLog_Write(RVLOG_ERROR, "Failed to check old package `%s` and `%s`, errno = %d", strLeft.c_str(), strRight.c_str(),
                    errno);
    return nResult;
}

int _MoveOnto(const std::string& strFrom, const std::string& strTo, int bReplace)
{
    int nResult = 0;
    int nRetCode = 0;

    Pf_SetReadOnly(strTo, 0);
    nRetCode = Pf_MoveFile(strFrom, strTo, bReplace);
    if (!nRetCode)
        RvLog_Write(RVLOG_ERROR, "Failed to move %s to %s, GetLastError() = %d", strFrom.c_str(), strTo.c_str(),
                    Pf_GetLastError());
    RVLOG_PROCESS_ERROR(nRetCode && "false");
    nResult = 1;
Exit0:
    return nResult;
}

} // namespace

int Rv_PatchExtractor::_ExtractPackageItem(ZipHandle* hZip, int nIndex)
{
    int nResult = 0;
    int nRetCode = 0;
    int bEnough = 0;
    int ePackageVersion = UNKNOWN_PACKAGE;
    ZRESULT zResult = 0;
    ZipEntry Entry;
    std::string strItemFileName;
    std::string strTempCopy;

    Entry.name[0] = '\0';
    zResult = GetZipItem(hZip, nIndex, &Entry);
    RVLOG_PROCESS_ERROR(zResult == ZR_OK);
    strItemFileName = _FileNameOf(Entry.name);
    RVLOG_PROCESS_ERROR(Entry.unc_size > 0 && "ZipEntry.unc_size > 0");

    nRetCode = _CheckFreeSpace(m_strTempFilePath, (uint32_t)Entry.unc_size, &bEnough);
    RVLOG_PROCESS_ERROR(nRetCode && "GetDiskFreeSpaceEx()");
    if (!bEnough) {
        m_nErrorCode = 2;
        RVLOG_PROCESS_ERROR(false && "No enough space in temp file path.");
    }
    strTempCopy = m_strTempFilePath + strItemFileName;
    Pf_SetReadOnly(strTempCopy, 0);
    zResult = ExtractZipItem(hZip, nIndex, strTempCopy.c_str());
    RVLOG_PROCESS_ERROR(zResult == ZR_OK);

    nRetCode = _CheckFreeSpace(m_strClientFilePath, (uint32_t)Entry.unc_size, &bEnough);
    RVLOG_PROCESS_ERROR(nRetCode && "GetDiskFreeSpaceEx()");
    if (!bEnough) {
        m_nErrorCode = 2;
        RVLOG_PROCESS_ERROR(false && "No enough space in client file path.");
    }

    nRetCode = _GetPackageVersion(strTempCopy, &ePackageVersion);
    RVLOG_PROCESS_ERROR(nRetCode && "Unknown package version.");
    if (ePackageVersion == OLD_PACKAGE) {
        nRetCode = _CombineOldPackage(strTempCopy);
        RVLOG_PROCESS_ERROR(nRetCode && "_CombineOldPackage()");
    } else {
        nRetCode = _CombineNewPackage(strTempCopy);
        RVLOG_PROCESS_ERROR(nRetCode && "_CombineNewPackage()");
    }
    nResult = 1;
Exit0:
    if (!nResult)
        RvLog_Write(RVLOG_ERROR, "Fail to extract the package item: %s, zResult = %X, GetLastError() = %d.",
                    strItemFileName.c_str(), zResult, Pf_GetLastError());
    if (!strTempCopy.empty())
        Pf_DeleteFile(strTempCopy);
    return nResult;
}

int Rv_PatchExtractor::_CombineNewPackage(const std::string& strTempCopy)
{
    int nResult = 0;
    int nRetCode = 0;
    int bCould = 0;
    IRvPack_PackageFilePatcher* piPatcher = nullptr;
    std::string strIndexFile = m_strClientFilePath + s_cszIndexFileName;
    std::string strLastName;
    std::string strNewName;
    size_t uSplit = 0;

    nRetCode = _GetLastPackageNameFromIndexFile(strIndexFile, &strLastName);
    RVLOG_PROCESS_ERROR(nRetCode && "_GetLastPackageNameFromIndexFile()");

    if (!Rv_BeginsWithNoCase(strLastName, s_cszNewPackagePrefix)) {
        strNewName = std::string(s_cszNewPackagePrefix) + "1" + ".pak";
    } else {
        nRetCode = _CheckNewPackageCouldCombine(strLastName, strTempCopy, &bCould);
        RVLOG_PROCESS_ERROR(nRetCode && "_CheckNewPackageCouldCombine()");
        if (bCould) {
            nRetCode = RvPack_CreatePackageFilePatcher(strLastName.c_str(), &piPatcher);
            RVLOG_PROCESS_ERROR(nRetCode && "RvPack_CreatePackageFilePatcher()");
            nRetCode = piPatcher->Patch(strTempCopy.c_str());
            RVLOG_PROCESS_ERROR(nRetCode && "piPatcher->Patch()");
            // The rewrite of the areas and the header finishes the patch: a
            // failed write, truncate or close fails the item.
            nRetCode = piPatcher->UnInit();
            RVLOG_PROCESS_ERROR(nRetCode && "piPatcher->UnInit()");
            goto Exit1;
        }
        nRetCode = Rv_GetNextPackageName(strLastName, &strNewName);
        RVLOG_PROCESS_ERROR(nRetCode && "_GetNextPackageName()");
    }

    uSplit = strNewName.find_last_of("\\/");
    RVLOG_PROCESS_ERROR(uSplit != std::string::npos && uSplit > 0 && "_GetParentDir()");
    nRetCode = Pf_CreateDirChain(strNewName.substr(0, uSplit));
    if (!nRetCode)
        RvLog_Write(RVLOG_ERROR, "Failed to make sure `%s`, GetLastError() = %d", strNewName.substr(0, uSplit).c_str(),
                    Pf_GetLastError());
    RVLOG_PROCESS_ERROR(nRetCode && "_MakeSureDirExisted()");
    nRetCode = _MoveOnto(strTempCopy, strNewName, 1);
    RVLOG_PROCESS_ERROR(nRetCode);
    nRetCode = _AddNewPackageNameToIndexFile(strIndexFile, strNewName);
    RVLOG_PROCESS_ERROR(nRetCode && "_AddNewPackageNameToIndexFile()");
Exit1:
    nResult = 1;
Exit0:
    if (piPatcher) {
        // After a failed Patch, the release rewrites the package without it.
        piPatcher->Release();
        // A rewrite that failed left the package's mini backup: the package
        // goes back to its state before the patch now, before the error shows.
        if (!nResult) {
            nRetCode = RvPack_RecoverFromMiniBackup(strLastName.c_str());
            if (!nRetCode)
                RvLog_Write(RVLOG_ERROR, "Failed to restore the package `%s` from its mini backup.", strLastName.c_str());
        }
    }
    return nResult;
}

int Rv_PatchExtractor::_CombineOldPackage(const std::string& strTempCopy)
{
    int nResult = 0;
    int nRetCode = 0;
    int bCould = 0;
    std::string strIniFile = m_strClientFilePath + s_cszOldIndexFileName;
    std::string strPath;
    std::string strName;
    std::string strNewName;
    std::string strTarget;

    strPath = _ReadOldIndexValue(strIniFile, "Path");
    nRetCode = !strPath.empty();
    RVLOG_PROCESS_ERROR(nRetCode && "_GetOldPackagePathFromIndexFile()");
    if (!Pf_IsSeparator(strPath.back()))
        strPath += '\\';
    strPath = m_strClientFilePath + strPath;
    strName = _ReadOldIndexValue(strIniFile, "0");
    nRetCode = !strName.empty();
    RVLOG_PROCESS_ERROR(nRetCode && "_GetLastOldPackageNameFromIndexFile()");

    strTarget = strPath + strName;
    if (!Pf_PathExists(strTarget)) {
        nRetCode = _MoveOnto(strTempCopy, strTarget, 0);
        RVLOG_PROCESS_ERROR(nRetCode);
        goto Exit1;
    }
    nRetCode = _CheckOldPackageCouldCombine(strTarget, strTempCopy, &bCould);
    RVLOG_PROCESS_ERROR(nRetCode && "_CheckOldPackageCouldCombine()");
    if (bCould) {
        Pf_SetReadOnly(strTarget, 0);
        nRetCode = PackComb(strTarget.c_str(), strTempCopy.c_str());
        RVLOG_PROCESS_ERROR(nRetCode && "PackComb()");
        goto Exit1;
    }
    nRetCode = Rv_GetNextPackageName(strName, &strNewName);
    RVLOG_PROCESS_ERROR(nRetCode && "_GetNextPackageName()");
    nRetCode = _MoveOnto(strTempCopy, strPath + strNewName, 1);
    RVLOG_PROCESS_ERROR(nRetCode);
    nRetCode = _AddOldPackageName(strNewName);
    RVLOG_PROCESS_ERROR(nRetCode);
Exit1:
    nResult = 1;
Exit0:
    return nResult;
}

// Rebuilds "package.ini" with the new name as "0" and the others one key
// up. The rebuilt file starts as a copy of the client's, so other keys and
// sections stay.
int Rv_PatchExtractor::_AddOldPackageName(const std::string& strNewName)
{
    int nResult = 0;
    int nRetCode = 0;
    std::string strIniFile = m_strClientFilePath + s_cszOldIndexFileName;
    std::string strTempIni = m_strTempFilePath + s_cszOldIndexFileName;
    std::string strValue;
    char szKey[64];

    Pf_DeleteNormalFile(strTempIni);
    nRetCode = Pf_CopyFile(strIniFile, strTempIni, 0);
    RVLOG_PROCESS_ERROR(nRetCode && "CopyFile()");
    Pf_SetReadOnly(strTempIni, 0);

    strValue = _ReadOldIndexValue(strIniFile, "Path");
    RVLOG_PROCESS_ERROR(strValue.size() > 0 && "nRetCode > 0");
    nRetCode = Pf_IniWriteString(strTempIni, s_cszOldIndexSection, "Path", strValue);
    RVLOG_PROCESS_ERROR(nRetCode);
    nRetCode = Pf_IniWriteString(strTempIni, s_cszOldIndexSection, "0", strNewName);
    RVLOG_PROCESS_ERROR(nRetCode);
    for (int n = 0; n < INT32_MAX; ++n) {
        snprintf(szKey, sizeof(szKey), "%d", n);
        strValue = _ReadOldIndexValue(strIniFile, szKey);
        if (strValue.empty())
            break;
        snprintf(szKey, sizeof(szKey), "%d", n + 1);
        nRetCode = Pf_IniWriteString(strTempIni, s_cszOldIndexSection, szKey, strValue);
        RVLOG_PROCESS_ERROR(nRetCode);
    }
    nRetCode = Pf_MoveFile(strTempIni, strIniFile, 1);
    RVLOG_PROCESS_ERROR(nRetCode && "MoveFileEx()");
    nResult = 1;
Exit0:
    if (!nResult)
        RvLog_Write(RVLOG_ERROR, "Failed to add new pak name, GetLastError() = %d", Pf_GetLastError());
    Pf_DeleteFile(strTempIni + ".lock");
    return nResult;
}
