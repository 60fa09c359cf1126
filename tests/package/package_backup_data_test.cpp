// The backup of data ranges: saved before an update, written back by a
// rollback (empty sections skipped), and a damaged backup kept and failed.
#include "package/package_backup.h"

#include "package/wide_string.h"
#include "platform/file.h"
#include "platform/text.h"
#include "tests/support/package_log_capture.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(DataBackup, RollbackRestoresSavedRangesAndKeepsADamagedBackup)
{
    Rv_TestTempDir Dir;
    Rv_TestPackageLog Log;
    std::u16string strFolder = Pf_Utf8ToUtf16(Dir.Path());
    const std::string strOriginal0(1000, 'a'), strOriginal1(1000, 'b');
    Rv_TestWriteFile(Dir.File("pak0.DAT"), strOriginal0);
    Rv_TestWriteFile(Dir.File("pak1.DAT"), strOriginal1);
    RVPK_DATA_CONFIG Config;
    memset(&Config, 0, sizeof(Config));
    Config.uDataVersion = 3;
    Config.uDataFileCount = 2;
    Config.ullMaxSizePerDataFile = 1000;
    ASSERT_TRUE(Rv_WriteFixedString(Config.szFileNamePrefix, 64, u"pak"));
    std::vector<RVPK_DATA_SEGMENT> vecSegments = {{10, 20}, {1500, 0}, {1990, 10}};
    ASSERT_TRUE(_BackupAllDataFiles(strFolder.c_str(), vecSegments, Config)) << Log.All();

    // The update overwrites the ranges, then is interrupted.
    Rv_TestWriteFile(Dir.File("pak0.DAT"), std::string(1000, 'X'));
    Rv_TestWriteFile(Dir.File("pak1.DAT"), std::string(1000, 'Y'));
    const std::string strBackup = Rv_TestReadFile(Dir.File("BackupData"));
    // The segment of size 0 got a record of its own: the rollback must take
    // such a record, or an update that lists one could never be rolled back.
    RVPK_BACKUP_DATA_FILE_HEADER Header;
    RVPK_BACKUP_DATA_SECTION aSections[3];
    ASSERT_GE(strBackup.size(), sizeof(Header) + sizeof(aSections));
    memcpy(&Header, strBackup.data(), sizeof(Header));
    memcpy(aSections, strBackup.data() + sizeof(Header), sizeof(aSections));
    EXPECT_EQ(Header.ulBackupDataSectionListCount, 3u);
    EXPECT_EQ(aSections[1].ullAddress, 1500u);
    EXPECT_EQ(aSections[1].ullSize, 0u);
    ASSERT_TRUE(_RecoverDataFileIfNeeded(strFolder.c_str(), Config)) << Log.All();
    std::string strExpected0(1000, 'X'), strExpected1(1000, 'Y');
    strExpected0.replace(10, 20, strOriginal0.substr(10, 20));
    strExpected1.replace(990, 10, strOriginal1.substr(990, 10));
    EXPECT_EQ(Rv_TestReadFile(Dir.File("pak0.DAT")), strExpected0);
    EXPECT_EQ(Rv_TestReadFile(Dir.File("pak1.DAT")), strExpected1);
    EXPECT_FALSE(Pf_PathExists(Dir.File("BackupData")));

    // A backup with a bad signature is kept and the rollback fails.
    std::string strDamaged = strBackup;
    strDamaged[0] ^= 0x55;
    Rv_TestWriteFile(Dir.File("BackupData"), strDamaged);
    EXPECT_FALSE(_RecoverDataFileIfNeeded(strFolder.c_str(), Config));
    EXPECT_EQ(Rv_TestReadFile(Dir.File("BackupData")), strDamaged);
    EXPECT_EQ(Rv_TestReadFile(Dir.File("pak0.DAT")), strExpected0);
}
