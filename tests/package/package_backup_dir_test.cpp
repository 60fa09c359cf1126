// Backup copies of directory files: making them, restoring them in a
// rollback (missing targets, header branch names, stale or invalid copies),
// and deleting the backup.
#include "package/package_backup.h"
#include "platform/file.h"
#include "platform/text.h"
#include "tests/support/package_builder.h"
#include "tests/support/package_log_capture.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

namespace {
class DirBackupTest : public ::testing::Test {
protected:
    std::u16string Folder() const { return Pf_Utf8ToUtf16(m_Dir.Path()); }
    std::string Read(const std::string& strName) const { return Rv_TestReadFile(m_Dir.File(strName)); }
    void Write(const std::string& strName, const std::string& strBytes) const { Rv_TestWriteFile(m_Dir.File(strName), strBytes); }
    bool Exists(const std::string& strName) const { return Pf_PathExists(m_Dir.File(strName)); }

    Rv_TestTempDir m_Dir;
    Rv_TestPackageLog m_Log;
    const std::string m_strMainV3 = Rv_TestMakeDirFile("main", 3, {{5, 0, 10}, {6, 10, 20}});
    const std::string m_strMainV4 = Rv_TestMakeDirFile("main", 4, {{5, 0, 10}});
};
}

TEST_F(DirBackupTest, BackupCopiesEveryDirectoryFileAndDeleteRemovesTheBackup)
{
    Write("main.DIR", m_strMainV3);
    Write("extra.dir", Rv_TestMakeDirFile("extra", 3, {}));
    Write("pak0.DAT", "data");
    Write("BackupData", "old");
    ASSERT_TRUE(_BackupAllDirFiles(Folder().c_str()));
    EXPECT_EQ(m_strMainV3, Read("main.DIR.BackupDir"));
    EXPECT_EQ(Read("extra.dir"), Read("extra.dir.BackupDir"));
    EXPECT_FALSE(Exists("pak0.DAT.BackupDir"));
    // A second backup does not copy the copies.
    ASSERT_TRUE(_BackupAllDirFiles(Folder().c_str()));
    EXPECT_FALSE(Exists("main.DIR.BackupDir.BackupDir"));

    ASSERT_TRUE(Rv_DeletePackageBackup(Folder().c_str()));
    EXPECT_FALSE(Exists("main.DIR.BackupDir"));
    EXPECT_FALSE(Exists("extra.dir.BackupDir"));
    EXPECT_FALSE(Exists("BackupData"));
    EXPECT_EQ(m_strMainV3, Read("main.DIR"));
    EXPECT_EQ("data", Read("pak0.DAT"));
}

TEST_F(DirBackupTest, RollbackRestoresChangedAndMissingDirectoryFiles)
{
    Write("main.DIR", m_strMainV4);
    Write("main.DIR.BackupDir", m_strMainV3);
    Write("gone.DIR.BackupDir", Rv_TestMakeDirFile("gone", 3, {{1, 2, 3}}));   // its target was lost mid-save
    Write("main.DIR.12345.tmp", "leftover of a save");
    ASSERT_TRUE(_RecoverDirFileIfNeeded(Folder().c_str(), 3));
    EXPECT_EQ(m_strMainV3, Read("main.DIR"));
    EXPECT_EQ(Rv_TestMakeDirFile("gone", 3, {{1, 2, 3}}), Read("gone.DIR"));
    EXPECT_FALSE(Exists("main.DIR.BackupDir"));
    EXPECT_FALSE(Exists("gone.DIR.BackupDir"));
    EXPECT_FALSE(Exists("main.DIR.12345.tmp"));
    EXPECT_TRUE(m_Log.Has("WARNING :Rollback directory, DirectoryName = main.DIR.BackupDir"));
    // Run again (as after a kill in the middle): nothing left to do, nothing lost.
    ASSERT_TRUE(_RecoverDirFileIfNeeded(Folder().c_str(), 3));
    EXPECT_EQ(m_strMainV3, Read("main.DIR"));
}

TEST_F(DirBackupTest, TargetComesFromTheCopysOwnName)
{
    Write("main.DIR", m_strMainV4);
    // The header names another branch (or a hostile path): the copy still restores main.DIR.
    Write("main.DIR.BackupDir", Rv_TestMakeDirFile("..\\..\\evil", 3, {{9, 9, 9}}));
    ASSERT_TRUE(_RecoverDirFileIfNeeded(Folder().c_str(), 3));
    EXPECT_EQ(Rv_TestMakeDirFile("..\\..\\evil", 3, {{9, 9, 9}}), Read("main.DIR"));
    EXPECT_EQ(1u, Rv_TestSnapshotFolder(m_Dir.Path()).size());   // main.DIR only, nothing written elsewhere
}

TEST_F(DirBackupTest, LegacyCopyUsesACheckedHeaderBranch)
{
    Write("BackupDir", Rv_TestMakeDirFile("main", 3, {{7, 7, 7}}));
    ASSERT_TRUE(_RecoverDirFileIfNeeded(Folder().c_str(), 3));
    EXPECT_EQ(Rv_TestMakeDirFile("main", 3, {{7, 7, 7}}), Read("main.DIR"));
    EXPECT_FALSE(Exists("BackupDir"));

    Write("BackupDir", Rv_TestMakeDirFile("../escape", 3, {}));
    EXPECT_FALSE(_RecoverDirFileIfNeeded(Folder().c_str(), 3));
    EXPECT_TRUE(m_Log.Has("Rv_IsSafeFileName(szBranchName)"));
    EXPECT_TRUE(Exists("BackupDir"));
}

TEST_F(DirBackupTest, InvalidOrStaleCopiesAreDeletedWithoutRestoring)
{
    Write("main.DIR", m_strMainV4);
    Write("main.DIR.BackupDir", std::string(512, '\0'));
    Write("old.DIR", "current");
    Write("old.DIR.BackupDir", Rv_TestMakeDirFile("old", 2, {}));
    ASSERT_TRUE(_RecoverDirFileIfNeeded(Folder().c_str(), 3));
    EXPECT_EQ(m_strMainV4, Read("main.DIR"));
    EXPECT_EQ("current", Read("old.DIR"));
    EXPECT_FALSE(Exists("main.DIR.BackupDir"));
    EXPECT_FALSE(Exists("old.DIR.BackupDir"));
    for (const char* csz : {"BackupDirHeader.uSignature          = 0", "BackupDirHeader.uFileFormatVersion  = 0",
                            "BackupDirHeader.szBranchName[0]     = 0", "BackupDirHeader.szConfigFileName[0] = 0"})
        EXPECT_TRUE(m_Log.Has(csz)) << csz;
}

TEST_F(DirBackupTest, ShortCopyOrRelativeFolderFails)
{
    Write("main.DIR.BackupDir", "short");
    EXPECT_FALSE(_RecoverDirFileIfNeeded(Folder().c_str(), 3));
    EXPECT_TRUE(Exists("main.DIR.BackupDir"));

    Write("main.DIR.BackupDir", m_strMainV3);
    std::string strCwd;
    ASSERT_TRUE(Pf_GetCurrentDir(&strCwd));
    ASSERT_TRUE(Pf_SetCurrentDir(m_Dir.Path()));
    EXPECT_FALSE(_RecoverDirFileIfNeeded(u".", 3));
    ASSERT_TRUE(Pf_SetCurrentDir(strCwd));
    EXPECT_TRUE(m_Log.Has("absolute package folder"));
}
