// Update files of the current package format: their from-version, the
// "pakV3" package they apply to (in the client folder's grandparent), the
// update procedure run once per file in version order with the package log
// routed into the program log, and the streaming downloader's list brought
// to the package's new data version.
#include "app/patch_extractor.h"

#include "foundation/log.h"
#include "package/data_config.h"
#include "package/local_resource_list.h"
#include "package/log_stream.h"
#include "package/update_file.h"
#include "package/update_package.h"
#include "platform/file.h"
#include "platform/ini.h"
#include "platform/path.h"
#include "platform/text.h"

#include <algorithm>
#include <cstdio>

namespace {

const size_t s_uMaxWidePath = 260;

// The wide form of a path, 1 to 259 characters.
int _ToWidePath(const std::string& strPath, std::u16string* pwstrRetPath)
{
    return Pf_Utf8ToUtf16Strict(strPath, pwstrRetPath) && !pwstrRetPath->empty() && pwstrRetPath->size() < s_uMaxWidePath;
}

} // namespace

std::string Rv_PatchExtractor::_PakV3Folder() const
{
    std::string strFolder = m_strClientFilePath;
    while (!strFolder.empty() && Pf_IsSeparator(strFolder.back()))
        strFolder.pop_back();
    for (int i = 0; i < 2; ++i) {
        size_t uSplit = strFolder.find_last_of("\\/");
        if (uSplit == std::string::npos)
            return "";
        strFolder.resize(uSplit);
    }
    strFolder += "\\pakV3";
    if (strFolder.size() >= s_uMaxWidePath)
        return "";
    return strFolder;
}

void Rv_PatchExtractor::_GetPakV3DataVersion(uint32_t* puRetDataVersion) const
{
    std::u16string wstrFolder;
    std::string strFolder = _PakV3Folder();

    *puRetDataVersion = 0;
    if (strFolder.empty() || !_ToWidePath(strFolder, &wstrFolder))
        return;
    if (!Rv_GetPakV3DataVersion(puRetDataVersion, wstrFolder.c_str()))
        *puRetDataVersion = 0;
}

int Rv_PatchExtractor::_ReadUpdateFileFromVersion(const std::string& strPath, uint32_t* puRetFromVersion)
{
    int nResult = 0;
    unsigned uRetCode = 0;
    FILE* fpUpdateFile = nullptr;
    RVPK_UPDATE_FILE_HEADER UpdateFileHeader;

    fpUpdateFile = Pf_FOpen(strPath, "rb");
    RVLOG_PROCESS_ERROR(fpUpdateFile);
    uRetCode = (unsigned)fread(&UpdateFileHeader, sizeof(UpdateFileHeader), 1, fpUpdateFile);
    RVLOG_PROCESS_ERROR(uRetCode == 1);
    RVLOG_PROCESS_ERROR(UpdateFileHeader.uSignature == RVPK_UPD_SIGNATURE);
    *puRetFromVersion = UpdateFileHeader.uFromDataVersion;
    nResult = 1;
Exit0:
    if (fpUpdateFile)
        fclose(fpUpdateFile);
    return nResult;
}

int Rv_PatchExtractor::_PatchV3Package(const UPDATE_FILE_MAP& mapUpdateFiles)
{
    int nResult = 0;
    int nRetCode = 0;
    int bNoNeedUpdate = 0;
    uint32_t uAttributes = 0;
    Rv_PlatformLogAdapter* pAdapter = nullptr;
    RV_LOG_STREAM_HANDLE hLogStream = nullptr;
    std::u16string swzUpdateFile;
    std::u16string swzCurrentPackageConfigFile;
    std::u16string swzWorkingDirectory;
    std::string strConfigFile;
    std::string strPakV3 = _PakV3Folder();

    // Names reach the package store as UTF-16 through the platform's
    // conversion; the runtime's locale is left alone.
    pAdapter = new Rv_PlatformLogAdapter();
    hLogStream = Rv_AddLogStream(pAdapter);
    pAdapter->Release();
    pAdapter = nullptr;
    RVLOG_PROCESS_ERROR(hLogStream);

    for (const auto& [uFromVersion, strUpdateFile] : mapUpdateFiles) {
        nRetCode = _ToWidePath(strUpdateFile, &swzUpdateFile);
        RVLOG_PROCESS_ERROR(nRetCode && "uRetCode > 0 && uRetCode < _countof(swzUpdateFile)");

        RVLOG_PROCESS_ERROR(!strPakV3.empty() && "nRetCode");
        strConfigFile = strPakV3 + "\\Package.CFG";
        nRetCode = _ToWidePath(strConfigFile, &swzCurrentPackageConfigFile);
        RVLOG_PROCESS_ERROR(nRetCode && "nRetCode > 0 && nRetCode < _countof(swzCurrentPackageConfigFile)");
        Pf_SetReadOnly(strConfigFile, 0);
        nRetCode = Pf_FileExists(strConfigFile) && Pf_GetFileAttributes(strConfigFile, &uAttributes) &&
                   !(uAttributes & 0x01);
        if (!nRetCode) {
            RvLog_Write(RVLOG_ERROR, "Access %s error, This file is not existing.err = %d", strConfigFile.c_str(),
                        Pf_GetLastError());
            goto Exit0;
        }

        nRetCode = _ToWidePath(m_strClientFilePath, &swzWorkingDirectory);
        RVLOG_PROCESS_ERROR(nRetCode && "uRetCode > 0 && uRetCode < _countof(swzWorkingDirectory)");

        bNoNeedUpdate = 0;
        nRetCode = Rv_UpdatePackage(swzUpdateFile.c_str(), swzCurrentPackageConfigFile.c_str(), &bNoNeedUpdate,
                                    swzWorkingDirectory.c_str());
        if (!nRetCode) {
            RvLog_Write(RVLOG_ERROR, "Update v3 package file error: swzUpdateFile = %s, swzCurrentPackageConfigFile = %s",
                        strUpdateFile.c_str(), strConfigFile.c_str());
            goto Exit0;
        }
        RvLog_Write(RVLOG_ERROR, "Update v3 package file success: swzUpdateFile = %s, swzCurrentPackageConfigFile = %s",
                    strUpdateFile.c_str(), strConfigFile.c_str());
        if (bNoNeedUpdate)
            RvLog_Write(RVLOG_ERROR, "No need update the package: swzUpdateFile = %s, swzCurrentPackageConfigFile = %s",
                        strUpdateFile.c_str(), strConfigFile.c_str());
        Pf_DeleteNormalFile(strUpdateFile);
    }
    nResult = 1;
Exit0:
    if (hLogStream)
        Rv_RemoveLogStream(hLogStream);
    return nResult;
}

int Rv_PatchExtractor::_UpdateVBunLocalList(const LINK_LIST_MAP& mapLinkLists, uint32_t uOldDataVersion,
                                            uint32_t uNewDataVersion)
{
    int nResult = 0;
    int nRetCode = 0;
    std::string strVBunIni = m_strClientFilePath + "vbun.ini";
    std::string strPrefix;
    Rv_LocalResourceList LocalList;

    if (Pf_IniReadInt(strVBunIni, "VBUN", "Enable", 0) == 0)
        goto Exit1;
    strPrefix = Pf_IniReadString(strVBunIni, "VBUN", "Prefix", "");
    if (strPrefix.size() > 259)
        strPrefix.resize(259);
    if (strPrefix.compare(0, 10, "3.3.0.5751") == 0)
        goto Exit1;

    nRetCode = LocalList.Load((m_strClientFilePath + "\\Vbun\\v3.lcl").c_str());
    RVLOG_PROCESS_ERROR(nRetCode && "LocalList.Load()");
    RVLOG_PROCESS_ERROR(LocalList.m_uDataVersion == uOldDataVersion);
    for (const auto& [uFrom, ToAndPath] : mapLinkLists) {
        RVLOG_PROCESS_ERROR(uFrom < ToAndPath.first);
        RVLOG_PROCESS_ERROR(uFrom >= LocalList.m_uDataVersion);
        RVLOG_PROCESS_ERROR(ToAndPath.first <= uNewDataVersion);
        nRetCode = LocalList.ApplyFileLinkList(ToAndPath.first, ToAndPath.second.c_str());
        RVLOG_PROCESS_ERROR(nRetCode && "LocalList.ApplyFileLinkList()");
    }
    LocalList.m_uDataVersion = std::max(LocalList.m_uDataVersion, uNewDataVersion);
    nRetCode = LocalList.Save();
    RVLOG_PROCESS_ERROR(nRetCode && "LocalList.Save()");
Exit1:
    nResult = 1;
Exit0:
    return nResult;
}
