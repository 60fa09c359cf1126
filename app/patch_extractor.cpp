// The extractor's main sequence: the item loop with its dispatch by name,
// plain items written over the old files (kept aside until the new one is
// whole), the scripts, and "version.cfg" last.
#include "app/patch_extractor.h"
#include "app/patch_extractor_names.h"

#include "foundation/log.h"
#include "platform/crash_point.h"
#include "platform/file.h"
#include "platform/file_mode.h"
#include "platform/path.h"
#include "platform/number.h"
#include "platform/process.h"
#include "platform/thread.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

const char* const s_cszPatchRoot = "updatepack/";
const char* const s_cszScriptPrefix = "update_extend/qv7_script_";
const char* const s_cszUpdateFolder = "UpdateFilesV3";
const char* const s_cszSkipTable[] = {"refitter.exe", "refitter.ini", "package.ini", "channel.ini"};
// A script that has not ended after an hour is taken to hang.
const uint32_t s_uScriptTimeoutMs = 60u * 60u * 1000u;

bool _IsSkipped(const std::string& strRelativeName)
{
    for (const char* cszName : s_cszSkipTable)
        if (Pf_StrCaseEqual(strRelativeName, cszName))
            return true;
    return false;
}

} // namespace

Rv_PatchExtractor::Rv_PatchExtractor() : m_nErrorCode(1) {}

int Rv_PatchExtractor::Init(const char* cszClientFilePath, const char* cszTempFilePath, const void* /*pvUnused*/)
{
    int nResult = 0;

    m_nErrorCode = 1;
    RVLOG_PROCESS_ERROR(cszClientFilePath);
    RVLOG_PROCESS_ERROR(cszClientFilePath[0]);
    RVLOG_PROCESS_ERROR(cszTempFilePath);
    RVLOG_PROCESS_ERROR(cszTempFilePath[0]);
    m_strClientFilePath = Pf_WithSeparator(cszClientFilePath);
    m_strTempFilePath = Pf_WithSeparator(cszTempFilePath);
    m_nErrorCode = 0;
    nResult = 1;
Exit0:
    return nResult;
}

// Every item name that will be joined to a folder is checked before anything
// is written, so that a hostile name fails the patch with nothing changed.
int Rv_PatchExtractor::_CheckItemNames(ZipHandle* hZip, int nTotalItemCount, ZRESULT* pzRetResult)
{
    int nResult = 0;
    ZipEntry Entry;
    std::string strRelativeName;

    for (int i = 0; i < nTotalItemCount; ++i) {
        *pzRetResult = GetZipItem(hZip, i, &Entry);
        RVLOG_PROCESS_ERROR(*pzRetResult == ZR_OK && "GetZipItem(i)");
        if (!Rv_GetPatchRelativeName(Entry, &strRelativeName))
            continue;
        if (!Rv_IsSafeRelativeItemName(strRelativeName)) {
            RvLog_Write(RVLOG_ERROR, "Refused the item `%s`: its name leaves the client folder.", Entry.name);
            RVLOG_PROCESS_ERROR(false && "Rv_IsSafeRelativeItemName()");
        }
    }
    nResult = 1;
Exit0:
    return nResult;
}

int Rv_PatchExtractor::Extract(const char* cszPatchFileName)
{
    int nResult = 0;
    int nRetCode = 0;
    ZRESULT zResult = 0x40000;
    ZipHandle* hZip = nullptr;
    ZipEntry Entry;
    int nTotalItemCount = 0;
    int nVersionFileIndex = -1;
    uint32_t uCurrentDataVersion = 0;
    uint32_t uNewDataVersion = 0;
    uint32_t uFrom = 0;
    uint32_t uTo = 0;
    UPDATE_FILE_MAP mapUpdateFiles;
    LINK_LIST_MAP mapLinkLists;
    std::vector<std::string> vecScripts;
    std::string strRelativeName;
    std::string strTarget;

    m_nErrorCode = 1;
    RVLOG_PROCESS_ERROR(cszPatchFileName);
    RVLOG_PROCESS_ERROR(cszPatchFileName[0]);
    RvLog_Write(RVLOG_INFO, "Start extract the package `%s`.", cszPatchFileName);

    hZip = OpenZip(cszPatchFileName);
    RVLOG_PROCESS_ERROR(hZip && "OpenZip()");
    zResult = GetZipItem(hZip, -1, &Entry);
    RVLOG_PROCESS_ERROR(zResult == ZR_OK && "GetZipItem(-1)");
    nTotalItemCount = Entry.index;
    RVLOG_PROCESS_ERROR(nTotalItemCount > 0);

    nRetCode = _CheckItemNames(hZip, nTotalItemCount, &zResult);
    RVLOG_PROCESS_ERROR(nRetCode && "_CheckItemNames()");

    _GetPakV3DataVersion(&uCurrentDataVersion);

    for (int i = 0; i < nTotalItemCount; ++i) {
        zResult = GetZipItem(hZip, i, &Entry);
        RVLOG_PROCESS_ERROR(zResult == ZR_OK && "GetZipItem(i)");
        if (!Rv_GetPatchRelativeName(Entry, &strRelativeName))
            continue;
        if (_IsSkipped(strRelativeName))
            continue;

        if (Pf_StrCaseEqual(strRelativeName, "version.cfg")) {
            RVLOG_PROCESS_ERROR(nVersionFileIndex < 0 && "There are more than one version file");
            nVersionFileIndex = i;
        } else if (Rv_EndsWithNoCase(strRelativeName, ".UPDATE", 8)) {
            strTarget = m_strTempFilePath + "/" + s_cszUpdateFolder + "/" + strRelativeName;
            nRetCode = _ExtractNormalItem(hZip, i, strTarget);
            RVLOG_PROCESS_ERROR(nRetCode && "_ExtractNormalItem()");
            nRetCode = _ReadUpdateFileFromVersion(strTarget, &uFrom);
            RVLOG_PROCESS_ERROR(nRetCode);
            auto ibRetCode = mapUpdateFiles.insert({uFrom, strTarget});
            RVLOG_PROCESS_ERROR(ibRetCode.second);
        } else if (Rv_EndsWithNoCase(strRelativeName, ".FileLinkList", 14)) {
            strTarget = m_strTempFilePath + "/" + s_cszUpdateFolder + "/" + strRelativeName;
            nRetCode = _ExtractNormalItem(hZip, i, strTarget);
            RVLOG_PROCESS_ERROR(nRetCode && "_ExtractNormalItem()");
            nRetCode = Rv_GetLinkListVersions(strRelativeName, &uFrom, &uTo);
            RVLOG_PROCESS_ERROR(nRetCode);
            RVLOG_PROCESS_ERROR(uFrom < uTo);
            if (uFrom >= uCurrentDataVersion) {
                auto ib = mapLinkLists.insert({uFrom, {uTo, strTarget}});
                RVLOG_PROCESS_ERROR(ib.second);
            }
        } else if (Rv_EndsWithNoCase(strRelativeName, ".pak", 5)) {
            nRetCode = _ExtractPackageItem(hZip, i);
            RVLOG_PROCESS_ERROR(nRetCode && "_ExtractPackageItem()");
        } else {
            nRetCode = _ExtractNormalItem(hZip, i, m_strClientFilePath + strRelativeName);
            RVLOG_PROCESS_ERROR(nRetCode && "_ExtractNormalItem()");
            if (Rv_BeginsWithNoCase(strRelativeName, s_cszScriptPrefix))
                vecScripts.push_back(strRelativeName);
        }
    }

    if (!mapUpdateFiles.empty()) {
        nRetCode = _PatchV3Package(mapUpdateFiles);
        RVLOG_PROCESS_ERROR(nRetCode);
        _GetPakV3DataVersion(&uNewDataVersion);
        if (uNewDataVersion > uCurrentDataVersion)
            _UpdateVBunLocalList(mapLinkLists, uCurrentDataVersion, uNewDataVersion);
    }
    for (const auto& Item : mapLinkLists) {
        Pf_DeleteNormalFile(Item.second.second);
    }

    nRetCode = _RunScripts(&vecScripts);
    RVLOG_PROCESS_ERROR(nRetCode);

    RVLOG_PROCESS_ERROR(nVersionFileIndex >= 0 && "version file not found.");
    nRetCode = _ExtractNormalItem(hZip, nVersionFileIndex, m_strClientFilePath + "version.cfg");
    RVLOG_PROCESS_ERROR(nRetCode && "Failed to extract version file.");

    m_nErrorCode = 0;
    RvLog_Write(RVLOG_INFO, "Extract the package successfully.");
    nResult = 1;
Exit0:
    if (!nResult)
        RvLog_Write(RVLOG_INFO, "Failed to extract the package, zResult = %X.", zResult);
    if (hZip)
        CloseZipHandle(hZip);
    return nResult;
}

int Rv_PatchExtractor::_CheckFreeSpace(const std::string& strPath, uint32_t uSize, int* pbRetEnough)
{
    int nResult = 0;
    int nRetCode = 0;
    uint64_t ullFree = 0;

    nRetCode = Pf_GetFreeSpace(strPath, &ullFree);
    RVLOG_PROCESS_ERROR(nRetCode && "GetDiskFreeSpaceEx()");
    *pbRetEnough = ullFree >= uSize;
    nResult = 1;
Exit0:
    return nResult;
}

int Rv_PatchExtractor::_ExtractNormalItem(ZipHandle* hZip, int nIndex, const std::string& strTarget)
{
    int nResult = 0;
    int nRetCode = 0;
    int bEnough = 0;
    int bWrittenAside = 0;
    ZRESULT zResult = 0;
    ZipEntry Entry;
    FILE* fpFile = nullptr;
    std::string strAside;
    size_t uSplit = strTarget.find_last_of("\\/");

    zResult = GetZipItem(hZip, nIndex, &Entry);
    RVLOG_PROCESS_ERROR(zResult == ZR_OK && "GetZipItem()");
    nRetCode = _CheckFreeSpace(m_strClientFilePath, (uint32_t)Entry.unc_size, &bEnough);
    RVLOG_PROCESS_ERROR(nRetCode && "GetDiskFreeSpaceEx()");
    if (!bEnough) {
        m_nErrorCode = 2;
        RVLOG_PROCESS_ERROR(false && "No enough space");
    }

    if (Entry.unc_size == 0) {
        if (uSplit != std::string::npos && uSplit > 0) {
            nRetCode = Pf_CreateDirChain(strTarget.substr(0, uSplit));
            RVLOG_PROCESS_ERROR(nRetCode && "_CreateDirectory()");
        }
        fpFile = Pf_FOpen(strTarget, "wb");
        if (!fpFile) {
            RvLog_Write(RVLOG_ERROR, "Failed to create empty file `%s`, GetLastError() = %d.", strTarget.c_str(),
                        Pf_GetLastError());
            RVLOG_PROCESS_ERROR(fpFile);
        }
        nRetCode = fclose(fpFile) == 0;
        fpFile = nullptr;
        RVLOG_PROCESS_ERROR(nRetCode && "fclose()");
        goto Exit1;
    }

    // The new file is written aside and renamed over the old one once it is
    // whole and on disk: a failed or killed extraction leaves the old file.
    strAside = m_strTempFilePath + strTarget.substr(uSplit == std::string::npos ? 0 : uSplit + 1);
    Pf_DeleteNormalFile(strAside);
    if (uSplit != std::string::npos && uSplit > 0) {
        nRetCode = Pf_CreateDirChain(strTarget.substr(0, uSplit));
        RVLOG_PROCESS_ERROR(nRetCode && "_CreateDirectory()");
    }
    Pf_CrashPoint();
    zResult = ExtractZipItem(hZip, nIndex, strAside.c_str());
    bWrittenAside = 1;
    if (zResult != ZR_OK) {
        RvLog_Write(RVLOG_ERROR, "Fail to extract the file `%s`, zResult = %X, GetLastError() = %d.", strTarget.c_str(),
                    zResult, Pf_GetLastError());
        RVLOG_PROCESS_ERROR(zResult == ZR_OK);
    }
    nRetCode = Pf_SyncFile(strAside);
    RVLOG_PROCESS_ERROR(nRetCode && "Pf_SyncFile()");
    if (Pf_PathExists(strTarget))
        Pf_SetReadOnly(strTarget, 0);
    Pf_CrashPoint();
    nRetCode = Pf_MoveFile(strAside, strTarget, 1);
    if (!nRetCode) {
        RvLog_Write(RVLOG_ERROR, "Failed to move %s to %s, GetLastError() = %d", strAside.c_str(), strTarget.c_str(),
                    Pf_GetLastError());
        RVLOG_PROCESS_ERROR(nRetCode);
    }
    bWrittenAside = 0;

Exit1:
    nResult = 1;
Exit0:
    if (fpFile)
        fclose(fpFile);
    if (bWrittenAside) {
        Pf_DeleteNormalFile(strAside);
    }
    return nResult;
}

int Rv_PatchExtractor::_RunScripts(std::vector<std::string>* pvecScripts)
{
    int nResult = 0;
    int nRetCode = 0;
    size_t uPrefixLen = strlen(s_cszScriptPrefix);
    std::string strPath;

    std::stable_sort(pvecScripts->begin(), pvecScripts->end(), [uPrefixLen](const std::string& a, const std::string& b) {
        return Pf_AtoI(a.c_str() + uPrefixLen) < Pf_AtoI(b.c_str() + uPrefixLen);
    });
    for (const std::string& strName : *pvecScripts) {
        strPath = m_strClientFilePath + strName;
        nRetCode = _RunAndWaitScript(strPath);
        RVLOG_PROCESS_ERROR(nRetCode);
        Pf_DeleteNormalFile(strPath);
    }
    nResult = 1;
Exit0:
    return nResult;
}

int Rv_PatchExtractor::_RunAndWaitScript(const std::string& strPath)
{
    int nResult = 0;
    int nRetCode = 0;
    int nExitCode = 0;
    Pf_Process Process;

    // Unpacked files carry no execute permission.
    nRetCode = Pf_SetExecutable(strPath);
    RVLOG_PROCESS_ERROR(nRetCode && "Pf_SetExecutable()");
    nRetCode = Process.Start("\"" + Pf_Native(strPath) + "\"", "");
    RVLOG_PROCESS_ERROR(nRetCode && "CreateProcess()");
    nRetCode = Process.Wait(s_uScriptTimeoutMs, &nExitCode);
    if (!nRetCode)
        Process.Terminate();
    RVLOG_PROCESS_ERROR(nRetCode && "nRetCode == WAIT_OBJECT_0");
    if (nExitCode != 0) {
        m_nErrorCode = nExitCode;
        RVLOG_PROCESS_ERROR(nExitCode == 0);
    }
    nResult = 1;
Exit0:
    if (!nResult)
        RvLog_Write(RVLOG_ERROR, "Failed to run application %s, GetLastError() = %d, dwExitCode = %d.", strPath.c_str(),
                    Pf_GetLastError(), nExitCode);
    return nResult;
}
