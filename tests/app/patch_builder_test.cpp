// The patch archive builder against the zip reader and Info-ZIP's unzip:
// item names, folder items, contents, and the digest beside md5sum.
#include "foundation/zip.h"
#include "platform/file.h"
#include "tests/support/patch_builder.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(PatchBuilderTest, ItemsReadBackWithNamesContentsAndDigest)
{
    Rv_TestTempDir Dir;
    Rv_TestPatchBuilder Builder;
    Builder.AddRawFolder("updatepack/data");
    Builder.AddFile("data/a.txt", "alpha");
    Builder.AddVersionFile("1.0.0.2");
    Builder.AddLinkList(3, 4, {{10, 20}, {11, 21}}, "vbun/");
    Builder.AddScript(7, "exit 0");
    Builder.SetStored(true);
    Builder.AddRawItem("other/b.bin", std::string("\0\1\2", 3));
    std::string strZip = Dir.File("p.zip");
    std::string strMD5;
    ASSERT_TRUE(Builder.Write(strZip, &strMD5));

    std::string strSum = Rv_TestRun("md5sum '" + strZip + "'");
    EXPECT_EQ(strSum.substr(0, 32), strMD5);

    const std::vector<std::pair<std::string, std::string>> vecExpected = {
        {"updatepack/data/", ""},
        {"updatepack/data/a.txt", "alpha"},
        {"updatepack/version.cfg", "1.0.0.2"},
        {"updatepack/vbun/3-4.FileLinkList", "10>20\n11>21\n"},
        {"updatepack/update_extend/qv7_script_7.sh", "#!/bin/sh\nexit 0\n"},
        {"other/b.bin", std::string("\0\1\2", 3)},
    };
    ZipHandle* hZip = OpenZip(strZip.c_str());
    ASSERT_NE(hZip, nullptr);
    ZipEntry Entry;
    ASSERT_EQ(GetZipItem(hZip, -1, &Entry), ZR_OK);
    ASSERT_EQ(Entry.index, (int)vecExpected.size());
    for (int i = 0; i < Entry.index; ++i) {
        ZipEntry Item;
        ASSERT_EQ(GetZipItem(hZip, i, &Item), ZR_OK);
        SCOPED_TRACE(vecExpected[i].first);
        const std::string& strName = vecExpected[i].first;
        bool bFolder = strName.back() == '/';
        EXPECT_EQ(bFolder, (Item.attr & ZIP_ATTR_DIRECTORY) != 0);
        EXPECT_EQ(Item.name, strName);
        if (!bFolder) {
            EXPECT_EQ(Rv_TestRun("unzip -p '" + strZip + "' '" + vecExpected[i].first + "'"), vecExpected[i].second);
        }
    }
    CloseZipHandle(hZip);
}
