// Patch archives for tests and the demo, written with minizip.
#include "tests/support/patch_builder.h"

#include "foundation/md5.h"
#include "platform/file.h"

#include <minizip/zip.h>

#include <cstdio>
#include <ctime>

const char* const g_cszTestPatchRoot = "updatepack/";
const char* const g_cszTestScriptPrefix = "update_extend/qv7_script_";

void Rv_TestPatchBuilder::AddRawItem(const std::string& strName, const std::string& strData)
{
    m_vecItems.push_back({strName, strData, false, m_bStored});
}

void Rv_TestPatchBuilder::AddRawFolder(const std::string& strName)
{
    m_vecItems.push_back({strName, "", true, m_bStored});
}

void Rv_TestPatchBuilder::AddFile(const std::string& strRelativeName, const std::string& strData)
{
    AddRawItem(g_cszTestPatchRoot + strRelativeName, strData);
}

void Rv_TestPatchBuilder::AddVersionFile(const std::string& strText)
{
    AddFile("version.cfg", strText);
}

void Rv_TestPatchBuilder::AddUpdateFile(const std::string& strRelativeName, const Rv_TestUpdateFileBuilder& Update)
{
    AddFile(strRelativeName, Update.Build());
}

void Rv_TestPatchBuilder::AddSingleFilePackage(const std::string& strRelativeName,
                                               const std::vector<Rv_TestPackageEntry>& vecEntries)
{
    AddFile(strRelativeName, Rv_TestBuildSingleFilePackage(vecEntries));
}

void Rv_TestPatchBuilder::AddPackFile(const std::string& strRelativeName, const std::vector<Rv_TestPackEntry>& vecEntries)
{
    AddFile(strRelativeName, Rv_TestBuildPackFile(vecEntries));
}

std::string Rv_TestMakeLinkList(const std::map<uint64_t, uint64_t>& mapLinks)
{
    std::string strText;
    for (const auto& [ullId, ullTarget] : mapLinks)
        strText += std::to_string(ullId) + ">" + std::to_string(ullTarget) + "\n";
    return strText;
}

void Rv_TestPatchBuilder::AddLinkList(uint32_t uFrom, uint32_t uTo, const std::map<uint64_t, uint64_t>& mapLinks,
                                      const std::string& strFolder)
{
    AddFile(strFolder + std::to_string(uFrom) + "-" + std::to_string(uTo) + ".FileLinkList", Rv_TestMakeLinkList(mapLinks));
}

void Rv_TestPatchBuilder::AddScript(int nNumber, const std::string& strShellBody)
{
    AddFile(std::string(g_cszTestScriptPrefix) + std::to_string(nNumber) + ".sh", "#!/bin/sh\n" + strShellBody + "\n");
}

int Rv_TestPatchBuilder::Write(const std::string& strZipPath, std::string* pstrRetMD5) const
{
    int nResult = 0;
    char szMD5[33] = {0};
    Pf_DeleteFile(strZipPath);
    zipFile hZip = zipOpen64(strZipPath.c_str(), APPEND_STATUS_CREATE);
    if (!hZip)
        return 0;

    time_t tNow = time(nullptr);
    struct tm tmNow;
    localtime_r(&tNow, &tmNow);
    zip_fileinfo Info {};
    Info.tmz_date.tm_sec = (uInt)tmNow.tm_sec;
    Info.tmz_date.tm_min = (uInt)tmNow.tm_min;
    Info.tmz_date.tm_hour = (uInt)tmNow.tm_hour;
    Info.tmz_date.tm_mday = (uInt)tmNow.tm_mday;
    Info.tmz_date.tm_mon = (uInt)tmNow.tm_mon;
    Info.tmz_date.tm_year = (uInt)tmNow.tm_year + 1900;

    for (const Item& item : m_vecItems) {
        std::string strName = item.strName;
        zip_fileinfo ItemInfo = Info;
        if (item.bFolder) {
            if (strName.empty() || strName.back() != '/')
                strName += '/';
            ItemInfo.external_fa = 0x10;   // the folder attribute
        }
        if (zipOpenNewFileInZip64(hZip, strName.c_str(), &ItemInfo, nullptr, 0, nullptr, 0, nullptr,
                                  item.bStored ? 0 : Z_DEFLATED, item.bStored ? 0 : Z_DEFAULT_COMPRESSION, 0) != ZIP_OK)
            goto Exit0;
        if (!item.strData.empty() &&
            zipWriteInFileInZip(hZip, item.strData.data(), (unsigned)item.strData.size()) != ZIP_OK) {
            zipCloseFileInZip(hZip);
            goto Exit0;
        }
        if (zipCloseFileInZip(hZip) != ZIP_OK)
            goto Exit0;
    }
    nResult = 1;
Exit0:
    if (zipClose(hZip, nullptr) != ZIP_OK)
        nResult = 0;
    if (nResult && pstrRetMD5) {
        nResult = MakeFileMD5(szMD5, strZipPath.c_str());
        *pstrRetMD5 = szMD5;
    }
    return nResult;
}
