// The patch list builder for tests and the demo.
#include "tests/support/patch_list_builder.h"
#include "foundation/md5.h"
#include "platform/file.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

std::string Rv_TestPatchListText(const std::string& strLatestVersion, const std::vector<Rv_TestListedPatch>& vecPatches)
{
    std::string strText = "[Version]\r\nLatestVersion=" + strLatestVersion + "\r\n\r\n[PatchList]\r\n";
    for (size_t i = 0; i < vecPatches.size(); ++i) {
        std::string strNumber = std::to_string(i + 1);
        strText += "Patch_" + strNumber + "=" + vecPatches[i].strName + "\r\n";
        strText += "PatchMD5_" + strNumber + "=" + vecPatches[i].strMD5 + "\r\n";
    }
    return strText;
}

std::string Rv_TestFileMD5(const std::string& strPath)
{
    char szMD5[33] = "";
    if (!MakeFileMD5(szMD5, strPath.c_str()))
        return "";
    return szMD5;
}

void Rv_TestWritePatchServer(const std::string& strFolder, const std::string& strLatestVersion,
                             const std::vector<Rv_TestServerPatch>& vecPatches,
                             std::vector<Rv_TestListedPatch>* pvecRetListed)
{
    std::vector<Rv_TestListedPatch> vecListed;
    Pf_CreateDirChain(strFolder);
    for (const Rv_TestServerPatch& patch : vecPatches) {
        std::string strTarget = strFolder + "/" + patch.strName;
        if (!patch.strSourceFile.empty())
            EXPECT_TRUE(Pf_CopyFile(patch.strSourceFile, strTarget, 0)) << patch.strSourceFile;
        else
            Rv_TestWriteFile(strTarget, patch.strData);
        std::string strMD5 = patch.strListedMD5.empty() ? Rv_TestFileMD5(strTarget) : patch.strListedMD5;
        EXPECT_FALSE(strMD5.empty()) << strTarget;
        vecListed.push_back({patch.strName, strMD5});
    }
    Rv_TestWriteFile(strFolder + "/autoupdateentry.txt", Rv_TestPatchListText(strLatestVersion, vecListed));
    if (pvecRetListed)
        *pvecRetListed = vecListed;
}
