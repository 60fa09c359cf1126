// The folder work of a package update before its operations: legacy data-file
// names, the clean-up of leftovers and stale directory files, the update key,
// and the empty directory file of a new branch.
#include "package/update_package.h"
#include "platform/file.h"
#include "platform/text.h"
#include "tests/support/package_builder.h"
#include "tests/support/package_log_capture.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

namespace {
class UpdateFolderTest : public ::testing::Test {
protected:
    std::u16string Folder() const { return Pf_Utf8ToUtf16(m_Dir.Path()); }
    void Write(const std::string& strName, const std::string& strBytes) const { Rv_TestWriteFile(m_Dir.File(strName), strBytes); }
    std::map<std::string, std::string> Snapshot() const { return Rv_TestSnapshotFolder(m_Dir.Path()); }

    Rv_TestTempDir m_Dir;
    Rv_TestPackageLog m_Log;
};
}

TEST_F(UpdateFolderTest, LegacyDataFilesTakeTheDatExtension)
{
    Write("pak0.DATA", "new zero");
    Write("pak0.DAT", "old zero");
    Write("pak1.data", "one");
    Write("notes.txt", "text");
    ASSERT_TRUE(_TransDataToDat(Folder().c_str()));
    std::map<std::string, std::string> mapExpected = {{"pak0.DAT", "new zero"}, {"pak1.DAT", "one"}, {"notes.txt", "text"}};
    EXPECT_EQ("", Rv_TestDiffSnapshots(mapExpected, Snapshot()));
}

TEST_F(UpdateFolderTest, CleanUpRemovesLeftoversAndDirectoryFilesOfAnotherVersion)
{
    Rv_TestConfigSpec Spec;
    Spec.uDataVersion = 3;
    const std::string strMain = Rv_TestMakeDirFile("main", 3, {{1, 2, 3}});
    Write("Package.CFG", Rv_TestMakeConfig(Spec));
    Write("main.DIR", strMain);
    Write("old.dir", Rv_TestMakeDirFile("old", 2, {}));
    Write("new.DIR", Rv_TestMakeDirFile("new", 0, {}));
    Write("short.DIR", "short");
    Write("main.DIR.1234.tmp", "leftover of a save");
    Write("x.99.ToDelete", "leftover of a clean-up");
    Write("main.DIR.BackupDir", strMain);
    Write("pak0.DAT", "data");
    Write("tmp", "no extension");
    ASSERT_TRUE(_CleanPackageDirectoryForUpdate(*(const RVPK_DATA_CONFIG*)Rv_TestMakeConfig(Spec).data(), Folder().c_str()));
    std::map<std::string, std::string> mapExpected = {{"Package.CFG", Rv_TestMakeConfig(Spec)},
                                                      {"main.DIR", strMain},
                                                      {"main.DIR.BackupDir", strMain},
                                                      {"pak0.DAT", "data"},
                                                      {"tmp", "no extension"}};
    EXPECT_EQ("", Rv_TestDiffSnapshots(mapExpected, Snapshot()));
    EXPECT_TRUE(m_Log.Has("Rename And Than delete DIR files: filepath = " + m_Dir.File("old.dir")));
    EXPECT_TRUE(m_Log.Has("Rename And Than delete tmp files: filepath = " + m_Dir.File("main.DIR.1234.tmp")));
    EXPECT_TRUE(m_Log.Has("Remove succeed: " + m_Dir.File("x.99.ToDelete")));
    EXPECT_TRUE(m_Log.Has("Move succeed:  " + m_Dir.File("short.DIR") + " -> " + m_Dir.File("short.DIR.")));
}

TEST(UpdateKey, ZeroInThePackageAcceptsAnyKey)
{
    Rv_TestPackageLog Log;
    const struct {
        uint32_t uInUpdateFile, uInConfig;
        int bAccepted;
    } aCases[] = {{5, 0, 1}, {0, 0, 1}, {5, 5, 1}, {5, 6, 0}, {0, 6, 0}};
    for (const auto& Case : aCases)
        EXPECT_EQ(Case.bAccepted, _ValidateUpdateKey(Case.uInUpdateFile, Case.uInConfig)) << Case.uInUpdateFile << " " << Case.uInConfig;
    EXPECT_TRUE(Log.Has("Validate Update Key: uUpdateKeyInUpdateFile = 5, uUpdateKeyInConfigFile = 6"));
}

TEST_F(UpdateFolderTest, NewBranchGetsAnEmptyDirectoryFileAndAnOldOneIsKept)
{
    const std::string strMain = Rv_TestMakeDirFile("main", 3, {{1, 2, 3}});
    Write("main.DIR", strMain);
    ASSERT_TRUE(_CreateDIRFilesIfNeeded(Folder().c_str(), u"main", u"Package.CFG"));
    ASSERT_TRUE(_CreateDIRFilesIfNeeded(Folder().c_str(), u"extra", u"Package.CFG"));
    std::map<std::string, std::string> mapExpected = {{"main.DIR", strMain}, {"extra.DIR", Rv_TestMakeDirFile("extra", 0, {})}};
    EXPECT_EQ("", Rv_TestDiffSnapshots(mapExpected, Snapshot()));
}
