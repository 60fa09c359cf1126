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
    // Data files at or beyond the configuration's count (1) go; names that
    // are not the ones the data files are given stay.
    Write("pak1.DAT", "added by a rolled-back update");
    Write("PAK12.data", "added by a rolled-back update");
    Write("pak01.DAT", "not a data-file name");
    Write("pakx.DAT", "not a data-file name");
    Write("other3.DAT", "not a data-file name");
    Write("pak99999999999.DAT", "not a data-file name");
    ASSERT_TRUE(_CleanPackageDirectoryForUpdate(*(const RVPK_DATA_CONFIG*)Rv_TestMakeConfig(Spec).data(), Folder().c_str()));
    std::map<std::string, std::string> mapExpected = {{"Package.CFG", Rv_TestMakeConfig(Spec)},
                                                      {"main.DIR", strMain},
                                                      {"main.DIR.BackupDir", strMain},
                                                      {"pak0.DAT", "data"},
                                                      {"tmp", "no extension"},
                                                      {"pak01.DAT", "not a data-file name"},
                                                      {"pakx.DAT", "not a data-file name"},
                                                      {"other3.DAT", "not a data-file name"},
                                                      {"pak99999999999.DAT", "not a data-file name"}};
    EXPECT_EQ("", Rv_TestDiffSnapshots(mapExpected, Snapshot()));
    EXPECT_TRUE(m_Log.Has("Remove succeed: " + m_Dir.File("pak1.DAT")));
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
    // The failed check's line comes first, then the two keys.
    Log.Clear();
    EXPECT_FALSE(_ValidateUpdateKey(5, 6));
    std::vector<std::string> vecLines = Log.Lines();
    ASSERT_EQ(2u, vecLines.size()) << Log.All();
    EXPECT_EQ(0u, vecLines[0].find("RVLOG_PROCESS_ERROR(uUpdateKeyInUpdateFile == uUpdateKeyInConfigFile) at line ")) << vecLines[0];
    EXPECT_EQ("Validate Update Key: uUpdateKeyInUpdateFile = 5, uUpdateKeyInConfigFile = 6", vecLines[1]);
}

TEST(StoreNames, StandAloneFilesMayNotTakeTheNamesOfThePackagesOwnFiles)
{
    const char16_t* const apcszManaged[] = {u"Package.CFG", u"package.cfg", u"Package.CFG.temp", u"BackupData", u"BACKUPDATA",
                                            u"main.DIR.BackupDir", u"x.backupdir", u"new.dir", u"a.TMP", u"main.DIR.5.tmp",
                                            u"x.temp", u"y.3.ToDelete", u"pak0.DAT", u"PAK7.data", u"pak01.DAT", u"pak4294967296.DAT"};
    const char16_t* const apcszFree[] = {u"readme.txt", u"pak.DAT", u"pakx.DAT", u"pak1.DAT.txt", u"other1.DAT", u"Package.CFG2",
                                         u"BackupData2", u"DIR", u"pak1DAT"};
    for (const char16_t* pcszName : apcszManaged)
        EXPECT_TRUE(_IsNameManagedByPackage(pcszName, u"Package.CFG", u"pak")) << Pf_Utf16ToUtf8(pcszName);
    for (const char16_t* pcszName : apcszFree)
        EXPECT_FALSE(_IsNameManagedByPackage(pcszName, u"Package.CFG", u"pak")) << Pf_Utf16ToUtf8(pcszName);
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
