// The package update procedure over a small package: every operation type,
// the version and key checks, the rollback of a failed or killed update, and
// hostile update files refused with the package left as it was.
#include "package/update_file.h"
#include "package/update_package.h"
#include "platform/crash_point.h"
#include "platform/file.h"
#include "platform/text.h"
#include "tests/support/package_builder.h"
#include "tests/support/package_log_capture.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

namespace {
const uint64_t s_ullMax = 4096;

std::string _Pattern(char cFirst)
{
    std::string str(s_ullMax, '\0');
    for (size_t i = 0; i < str.size(); ++i)
        str[i] = (char)(cFirst + i % 26);
    return str;
}

std::string _Put(std::string str, size_t uOffset, const std::string& strBytes)
{
    return str.replace(uOffset, strBytes.size(), strBytes);
}

std::string _CE(size_t uCount)
{
    return std::string(uCount, '\xCE');
}

class UpdatePackageTest : public ::testing::Test {
protected:
    UpdatePackageTest()
    {
        m_Spec.ullMaxSizePerDataFile = s_ullMax;
        m_Spec.uDataFileCount = 2;
        m_Spec.uDataVersion = 1;
        Rv_TestWriteFile(m_Dir.File("work/src.bin"), "0123456789");
    }
    std::string Pak() const { return m_Dir.File("pak"); }
    std::string Work() const { return m_Dir.File("work"); }
    void MakePackage() const
    {
        Pf_RemoveTree(Pak());
        Rv_TestMakePackage(Pak(), m_Spec, {_Pattern('a'), _Pattern('A')},
                           {{"main.DIR", Rv_TestMakeDirFile("main", 1, {{1, 0, 10}, {2, 100, 50}, {3, 200, 10}, {4, 300, 10}})}});
    }
    // Writes the update file and applies it; *pnNoNeed gets the flag.
    int Apply(const Rv_TestUpdateFileBuilder& Update, int* pnNoNeed = nullptr) const
    {
        Rv_TestWriteFile(m_Dir.File("work/update.upd"), Update.Build());
        int nNoNeed = -1;
        int nResult = Rv_UpdatePackage(Pf_Utf8ToUtf16(m_Dir.File("work/update.upd")).c_str(),
                                       Pf_Utf8ToUtf16(Pak() + "/Package.CFG").c_str(), &nNoNeed, Pf_Utf8ToUtf16(Work()).c_str());
        if (pnNoNeed)
            *pnNoNeed = nNoNeed;
        return nResult;
    }
    std::map<std::string, std::string> Snapshot() const { return Rv_TestSnapshotFolder(Pak()); }

    // Version 1 -> 2 with every operation type.
    static Rv_TestUpdateFileBuilder EveryOperation()
    {
        Rv_TestUpdateFileBuilder Update;
        Update.uNewUpdateKey = 7;
        Update.AddDirIndex(10, s_ullMax + 500, 5);
        Update.ModifyDirectoryEntry(1, 0, 20);
        Update.AddData(10, "HELLOWORLD");
        Update.RemoveData(s_ullMax, 16);
        Update.AddEmptyDataFiles(2, 1);
        Update.MoveData(100, 2 * s_ullMax, 50);
        Update.AddAloneFile(u"sub\\a.txt", "alone");
        Update.AddDirectoryFile(u"extra", Rv_TestMakeDirFile("extra", 1, {{77, s_ullMax + 600, 4}}));
        // All at once: 300 receives what 200 held, 400 what 300 held before the batch.
        Update.BatchMove({{200, 300, 10}, {300, 400, 10}});
        Update.BatchAdd({{s_ullMax + 505, 3, 1, 5}, {s_ullMax + 500, 5, 1, 0}, {2 * s_ullMax + 100, 4, 2, 2}});
        // Contiguous targets across a data-file boundary.
        Update.BatchAdd({{s_ullMax - 2, 2, 1, 0}, {s_ullMax, 2, 1, 2}});
        Update.AddSelfDataSource(1, "ABCDEFGH");
        Update.AddFileDataSource(2, u"src.bin", 1);
        for (auto [ullAddress, ullSize] : std::vector<std::pair<uint64_t, uint64_t>>{
                 {10, 10}, {s_ullMax, 16}, {100, 50}, {200, 10}, {300, 10}, {400, 10}, {s_ullMax + 500, 8}, {s_ullMax - 2, 2}})
            Update.AddOverwriteSegment(ullAddress, ullSize);
        return Update;
    }
    std::map<std::string, std::string> AfterEveryOperation() const
    {
        const std::string strBase0 = _Pattern('a');
        std::string strPak0 = _Put(strBase0, 10, "HELLOWORLD");
        strPak0 = _Put(strPak0, 100, _CE(50));
        strPak0 = _Put(strPak0, 200, _CE(10));
        strPak0 = _Put(strPak0, 300, strBase0.substr(200, 10));
        strPak0 = _Put(strPak0, 400, strBase0.substr(300, 10));
        strPak0 = _Put(strPak0, s_ullMax - 2, "AB");
        std::string strPak1 = _Put(_Pattern('A'), 0, "CD" + _CE(14));
        strPak1 = _Put(strPak1, 500, "ABCDEFGH");
        std::string strPak2 = _Put(_CE(s_ullMax), 0, strBase0.substr(100, 50));
        strPak2 = _Put(strPak2, 100, "3456");
        Rv_TestConfigSpec Spec = m_Spec;
        Spec.uDataVersion = 2;
        Spec.uDataFileCount = 3;
        Spec.uUpdateKey = 7;
        return {{"Package.CFG", Rv_TestMakeConfig(Spec)},
                {"pak0.DAT", strPak0},
                {"pak1.DAT", strPak1},
                {"pak2.DAT", strPak2},
                {"main.DIR", Rv_TestMakeDirFile("main", 2, {{1, 0, 20}, {2, 2 * s_ullMax, 50}, {3, 300, 10}, {4, 400, 10}, {10, s_ullMax + 500, 5}})},
                {"extra.DIR", Rv_TestMakeDirFile("extra", 2, {{77, s_ullMax + 600, 4}})},
                {"sub/a.txt", "alone"}};
    }
    // Version 2 -> 3, applied after the first to see that the package still works.
    static Rv_TestUpdateFileBuilder NextUpdate()
    {
        Rv_TestUpdateFileBuilder Update;
        Update.uFromDataVersion = 2;
        Update.uToDataVersion = 3;
        Update.uUpdateKeyInUpdateFile = 7;
        Update.AddData(0, "Z");
        Update.ModifyDirectoryEntry(10, s_ullMax + 500, 6);
        Update.AddOverwriteSegment(0, 1);
        return Update;
    }

    Rv_TestTempDir m_Dir;
    Rv_TestPackageLog m_Log;
    Rv_TestConfigSpec m_Spec;
};
}

TEST_F(UpdatePackageTest, EveryOperationTypeOnASmallPackage)
{
    MakePackage();
    int nNoNeed = -1;
    ASSERT_TRUE(Apply(EveryOperation(), &nNoNeed)) << m_Log.All();
    EXPECT_EQ(0, nNoNeed);
    EXPECT_EQ("", Rv_TestDiffSnapshots(AfterEveryOperation(), Snapshot()));
    EXPECT_TRUE(m_Log.Has("The package has been upgraded to the latest version successfully...(latest version = 2)"));

    ASSERT_TRUE(Apply(NextUpdate(), &nNoNeed)) << m_Log.All();
    std::map<std::string, std::string> mapNow = Snapshot();
    EXPECT_EQ('Z', mapNow["pak0.DAT"][0]);
    EXPECT_EQ(3u, (uint8_t)mapNow["Package.CFG"][24]);
}

TEST_F(UpdatePackageTest, OlderUpdateIsNotNeededAndNewerOneFails)
{
    m_Spec.uDataVersion = 5;
    MakePackage();
    Rv_TestWriteFile(Pak() + "/main.DIR.1.tmp", "leftover");
    const std::map<std::string, std::string> mapBefore = Snapshot();
    Rv_TestUpdateFileBuilder Update;
    Update.uFromDataVersion = 4;
    Update.uToDataVersion = 5;
    Update.AddData(0, "X");
    int nNoNeed = -1;
    ASSERT_TRUE(Apply(Update, &nNoNeed));
    EXPECT_EQ(1, nNoNeed);
    // Only the clean-up touched the folder: the stale main.DIR (version 1) and the leftover went.
    std::map<std::string, std::string> mapExpected = mapBefore;
    mapExpected.erase("main.DIR.1.tmp");
    mapExpected.erase("main.DIR");
    EXPECT_EQ("", Rv_TestDiffSnapshots(mapExpected, Snapshot()));

    Update.uFromDataVersion = 6;
    EXPECT_FALSE(Apply(Update, &nNoNeed));
    EXPECT_EQ(0, nNoNeed);
    EXPECT_TRUE(m_Log.Has("UpdateHeader.uFromDataVersion == DataConfig.uDataVersion"));
    EXPECT_EQ("", Rv_TestDiffSnapshots(mapExpected, Snapshot()));
}

TEST_F(UpdatePackageTest, WrongKeyFailsBeforeAnythingChanges)
{
    m_Spec.uUpdateKey = 9;
    MakePackage();
    const std::map<std::string, std::string> mapBefore = Snapshot();
    Rv_TestUpdateFileBuilder Update = EveryOperation();
    Update.uUpdateKeyInUpdateFile = 8;
    EXPECT_FALSE(Apply(Update));
    EXPECT_EQ("", Rv_TestDiffSnapshots(mapBefore, Snapshot()));
    Update.uUpdateKeyInUpdateFile = 9;
    ASSERT_TRUE(Apply(Update)) << m_Log.All();
}

TEST_F(UpdatePackageTest, FailedUpdateIsRolledBackByTheNextCall)
{
    MakePackage();
    const std::map<std::string, std::string> mapBefore = Snapshot();
    Rv_TestUpdateFileBuilder Bad = EveryOperation();
    Bad.RawOperation(1, "");
    EXPECT_FALSE(Apply(Bad));
    EXPECT_TRUE(m_Log.Has("No matching operation. Operation type:1"));
    EXPECT_EQ(RVPK_PACKAGE_STATE_UPDATING, (uint8_t)Snapshot()["Package.CFG"][192]);

    // The next call rolls back first and saves state 1, also when its own update does not apply.
    Rv_TestUpdateFileBuilder Older;
    Older.uFromDataVersion = 0;
    int nNoNeed = -1;
    ASSERT_TRUE(Apply(Older, &nNoNeed)) << m_Log.All();
    EXPECT_EQ(1, nNoNeed);
    std::map<std::string, std::string> mapNow = Snapshot();
    EXPECT_EQ(mapBefore.at("pak0.DAT"), mapNow["pak0.DAT"]);
    EXPECT_EQ(mapBefore.at("pak1.DAT"), mapNow["pak1.DAT"]);
    EXPECT_EQ(mapBefore.at("main.DIR"), mapNow["main.DIR"]);
    EXPECT_EQ(mapBefore.at("Package.CFG"), mapNow["Package.CFG"]);
    // The branch the failed update added is gone: its file never carried the package's version.
    EXPECT_EQ(0u, mapNow.count("extra.DIR"));
    // So is the data file it added: the configuration's count no longer takes it in.
    EXPECT_EQ(0u, mapNow.count("pak2.DAT"));

    ASSERT_TRUE(Apply(EveryOperation())) << m_Log.All();
    EXPECT_EQ("", Rv_TestDiffSnapshots(AfterEveryOperation(), Snapshot()));
}

TEST_F(UpdatePackageTest, BranchAddedByAFailedUpdateDoesNotBlockTheRetry)
{
    // The added branch's own header holds the package's version: a rollback
    // that kept it would make every retry fail at "branch already loaded".
    MakePackage();
    Rv_TestUpdateFileBuilder Bad;
    Bad.AddDirectoryFile(u"extra", Rv_TestMakeDirFile("extra", 1, {{77, 5, 4}}));
    Bad.RawOperation(1, "");
    EXPECT_FALSE(Apply(Bad));
    Rv_TestUpdateFileBuilder Good;
    Good.AddDirectoryFile(u"extra", Rv_TestMakeDirFile("extra", 1, {{77, 5, 4}}));
    ASSERT_TRUE(Apply(Good)) << m_Log.All();
    EXPECT_EQ(Rv_TestMakeDirFile("extra", 2, {{77, 5, 4}}), Snapshot()["extra.DIR"]);
}

TEST_F(UpdatePackageTest, HostileUpdateFilesAreRefusedAndRolledBack)
{
    Rv_TestUpdateFileBuilder TypeSevenAbsolute;
    TypeSevenAbsolute.AddAloneFile(u"/etc/evil", "x");
    Rv_TestUpdateFileBuilder TypeSevenUp;
    TypeSevenUp.AddAloneFile(u"sub\\..\\..\\evil", "x");
    Rv_TestUpdateFileBuilder TypeSevenEmpty;
    TypeSevenEmpty.AddAloneFile(u"empty.txt", "");
    Rv_TestUpdateFileBuilder TypeEightPath;
    TypeEightPath.AddDirectoryFile(u"../evil", Rv_TestMakeDirFile("evil", 1, {}));
    Rv_TestUpdateFileBuilder TypeEightLoaded;
    TypeEightLoaded.AddDirectoryFile(u"MAIN", Rv_TestMakeDirFile("main", 1, {}));
    Rv_TestUpdateFileBuilder HugeAddData;
    HugeAddData.AddDataRaw(0, 0x100000001ull, "x");
    Rv_TestUpdateFileBuilder ShortAddData;
    ShortAddData.AddDataRaw(0, 1000, "x");
    Rv_TestUpdateFileBuilder BatchTotalTooSmall;
    BatchTotalTooSmall.AddSelfDataSource(1, "ABCDEFGH");
    BatchTotalTooSmall.BatchAdd({{0, 4, 1, 0}, {4, 4, 1, 4}}, 4);
    Rv_TestUpdateFileBuilder HostileBatchMove;
    HostileBatchMove.RawOperation(RVPK_OP_BATCH_MOVE_DATA, std::string("\xFF\xFF\xFF\x0F", 4));
    Rv_TestUpdateFileBuilder EmptyBatchMove;
    EmptyBatchMove.BatchMove({});
    Rv_TestUpdateFileBuilder ZeroSizeBatchMove;
    ZeroSizeBatchMove.BatchMove({{1000, 999999999, 0}});
    Rv_TestUpdateFileBuilder HugeEmptyFileCount;
    HugeEmptyFileCount.AddEmptyDataFiles(2, 0x7FFFFFFF);   // 8 TiB of data files
    // Stand-alone files named like the files the store manages, or with a
    // folder of such a name.
    std::vector<Rv_TestUpdateFileBuilder> vecManagedNames;
    for (const char16_t* pcszName : {u"Package.CFG", u"package.cfg", u"Package.CFG.temp", u"BackupData", u"backupdata\\x.txt",
                                     u"main.DIR.BackupDir", u"x.dir", u"main.DIR.7.tmp", u"a.ToDelete", u"pak0.DAT", u"PAK5.data/x"}) {
        vecManagedNames.emplace_back();
        vecManagedNames.back().AddAloneFile(pcszName, "x");
    }
    const struct {
        const char* cszName;
        const Rv_TestUpdateFileBuilder& Update;
        const char* cszLog;
    } aCases[] = {
        {"absolute stand-alone path", TypeSevenAbsolute, "Rv_IsSafeRelativePath(szName)"},
        {"stand-alone path with ..", TypeSevenUp, "Rv_IsSafeRelativePath(szName)"},
        {"empty stand-alone file", TypeSevenEmpty, "uDataSize > 0"},
        {"branch with a separator", TypeEightPath, "Rv_IsSafeFileName(szName)"},
        {"branch already loaded", TypeEightLoaded, "ibRetCode.second"},
        {"inline data of 4 GiB and more", HugeAddData, "Operation.ullSize <= "},
        {"inline data past the end of the file", ShortAddData, "CheckDataAvailable"},
        {"batch total below the items' sum", BatchTotalTooSmall, "uTotalDataSize >= sum of the item sizes"},
        {"hostile batch move count", HostileBatchMove, "ullListSize <= "},
        {"empty batch move", EmptyBatchMove, "in Rv_UpdateFileReader::GetNextData"},
        {"batch move record of size 0", ZeroSizeBatchMove, "RVLOG_PROCESS_ERROR(ullSize != 0)"},
        {"more new data files than the disk holds", HugeEmptyFileCount, "ullFreeBytes"},
        {"stand-alone file named like the configuration", vecManagedNames[0], "RVLOG_PROCESS_ERROR(!_IsNameManagedByPackage(szName))"},
        {"... in another case", vecManagedNames[1], "!_IsNameManagedByPackage(szName)"},
        {"... like its temporary file", vecManagedNames[2], "!_IsNameManagedByPackage(szName)"},
        {"... like the backup data", vecManagedNames[3], "!_IsNameManagedByPackage(szName)"},
        {"... in a folder named like the backup data", vecManagedNames[4], "!_IsNameManagedByPackage(szName)"},
        {"... like a directory backup", vecManagedNames[5], "!_IsNameManagedByPackage(szName)"},
        {"... like a directory file", vecManagedNames[6], "!_IsNameManagedByPackage(szName)"},
        {"... like a leftover", vecManagedNames[7], "!_IsNameManagedByPackage(szName)"},
        {"... like a file to delete", vecManagedNames[8], "!_IsNameManagedByPackage(szName)"},
        {"... like a data file", vecManagedNames[9], "!_IsNameManagedByPackage(szName)"},
        {"... in a folder named like a legacy data file", vecManagedNames[10], "!_IsNameManagedByPackage(szName)"},
    };
    for (const auto& Case : aCases) {
        SCOPED_TRACE(Case.cszName);
        m_Log.Clear();
        MakePackage();
        const std::map<std::string, std::string> mapBefore = Snapshot();
        EXPECT_FALSE(Apply(Case.Update));
        EXPECT_TRUE(m_Log.Has(Case.cszLog)) << m_Log.All();
        // Nothing was written outside the package, and the live directory file is untouched.
        EXPECT_FALSE(Pf_PathExists(m_Dir.File("evil")));
        EXPECT_FALSE(Pf_PathExists(m_Dir.File("evil.DIR")));
        EXPECT_EQ(mapBefore.at("main.DIR"), Snapshot()["main.DIR"]);
        // The next call rolls the package back to what it was.
        Rv_TestUpdateFileBuilder Older;
        Older.uFromDataVersion = 0;
        ASSERT_TRUE(Apply(Older)) << m_Log.All();
        std::map<std::string, std::string> mapNow = Snapshot();
        mapNow.erase("empty.txt");
        EXPECT_EQ("", Rv_TestDiffSnapshots(mapBefore, mapNow));
    }
}

TEST_F(UpdatePackageTest, DataSourcesMayLieInSubFoldersOfTheWorkingFolder)
{
    MakePackage();
    Rv_TestWriteFile(m_Dir.File("work/data/part/src.bin"), "abcdefgh");
    Rv_TestUpdateFileBuilder Update;
    Update.AddFileDataSource(1, u"data\\part\\src.bin", 2);
    Update.AddFileDataSource(2, u"data/part/src.bin", 0);
    Update.BatchAdd({{10, 3, 1, 0}, {20, 2, 2, 6}});
    Update.AddOverwriteSegment(10, 3);
    Update.AddOverwriteSegment(20, 2);
    ASSERT_TRUE(Apply(Update)) << m_Log.All();
    EXPECT_EQ(_Put(_Put(_Pattern('a'), 10, "cde"), 20, "gh"), Snapshot()["pak0.DAT"]);
}

TEST_F(UpdatePackageTest, NewDataFilesMustFitTheFreeSpace)
{
    struct SimGuard {
        ~SimGuard() { unsetenv("RV_SIM_ROOT"); }
    } Guard;
    Rv_TestWriteFile(m_Dir.File("sim/free_bytes"), std::to_string(3 * s_ullMax - 1));
    setenv("RV_SIM_ROOT", m_Dir.File("sim").c_str(), 1);
    MakePackage();
    const std::map<std::string, std::string> mapBefore = Snapshot();
    Rv_TestUpdateFileBuilder Three;
    Three.AddEmptyDataFiles(2, 3);
    EXPECT_FALSE(Apply(Three));
    EXPECT_TRUE(m_Log.Has("ERROR: not enough disk space for 3 new data files of 4096 bytes, free = 12287")) << m_Log.All();
    EXPECT_FALSE(Pf_PathExists(Pak() + "/pak2.DAT"));
    Rv_TestUpdateFileBuilder Two;
    Two.uFromDataVersion = 1;
    Two.AddEmptyDataFiles(2, 2);
    EXPECT_TRUE(Apply(Two)) << m_Log.All();
    std::map<std::string, std::string> mapNow = Snapshot();
    EXPECT_EQ(_CE(s_ullMax), mapNow["pak3.DAT"]);
    EXPECT_EQ(mapBefore.at("pak1.DAT"), mapNow["pak1.DAT"]);
}

TEST_F(UpdatePackageTest, DataFilesAbove4GiBAreRefusedBeforeAnythingIsWritten)
{
    m_Spec.ullMaxSizePerDataFile = 0x100000000ull;
    m_Spec.uDataFileCount = 0;
    Rv_TestMakePackage(Pak(), m_Spec, {}, {{"main.DIR", Rv_TestMakeDirFile("main", 1, {{1, 0, 10}})}});
    const std::map<std::string, std::string> mapBefore = Snapshot();
    Rv_TestUpdateFileBuilder Update;
    Update.AddDirIndex(2, 20, 5);
    EXPECT_FALSE(Apply(Update));
    EXPECT_TRUE(m_Log.Has("RVLOG_PROCESS_ERROR(Config.ullMaxSizePerDataFile <= UINT32_MAX)")) << m_Log.All();
    // Still in state 1, without a backup: nothing to roll back.
    EXPECT_EQ("", Rv_TestDiffSnapshots(mapBefore, Snapshot()));
}

TEST_F(UpdatePackageTest, KilledAtEveryStepTheRerunGivesTheNewPackage)
{
    MakePackage();
    const std::map<std::string, std::string> mapBefore = Snapshot();
    ASSERT_TRUE(Apply(EveryOperation())) << m_Log.All();
    const std::map<std::string, std::string> mapAfter = Snapshot();
    ASSERT_EQ("", Rv_TestDiffSnapshots(AfterEveryOperation(), mapAfter));

    uint64_t uStep = 1;
    for (;; ++uStep) {
        SCOPED_TRACE(uStep);
        ASSERT_LT(uStep, 1000u);
        MakePackage();
        pid_t nChild = fork();
        ASSERT_NE(-1, nChild);
        if (nChild == 0) {
            Pf_ArmCrashPoint(uStep);
            _exit(Apply(EveryOperation()) ? 0 : 1);
        }
        int nStatus = 0;
        ASSERT_EQ(nChild, waitpid(nChild, &nStatus, 0));
        if (WIFEXITED(nStatus)) {
            // Past the last step: the run was whole.
            EXPECT_EQ(0, WEXITSTATUS(nStatus));
            EXPECT_EQ("", Rv_TestDiffSnapshots(mapAfter, Snapshot()));
            break;
        }
        ASSERT_TRUE(WIFSIGNALED(nStatus));
        // The final save marks the new version: a kill before it leaves the old one.
        const bool bSaved = (uint8_t)Snapshot().at("Package.CFG")[24] == 2;
        int nCopied = -1;
        Rv_TestRun("cp -a '" + Pak() + "' '" + Pak() + ".killed'", &nCopied);
        ASSERT_EQ(0, nCopied);

        // A rollback alone (an update from an older version, which changes
        // nothing itself) gives the old package back byte for byte, or keeps
        // the new one after the final save. Besides the package's files, a
        // rollback leaves what the update created (its stand-alone file and
        // data file) and the temporary file of a write the kill cut short.
        m_Log.Clear();
        Rv_TestUpdateFileBuilder Older;
        Older.uFromDataVersion = 0;
        int nNoNeed = -1;
        ASSERT_TRUE(Apply(Older, &nNoNeed)) << m_Log.All();
        EXPECT_EQ(1, nNoNeed);
        std::map<std::string, std::string> mapNow = Snapshot();
        if (!bSaved) {
            for (const char* cszLeft : {"sub/a.txt", "sub/a.txt.tmp", "pak2.DAT", "Package.CFG.temp"})
                mapNow.erase(cszLeft);
        }
        EXPECT_EQ("", Rv_TestDiffSnapshots(bSaved ? mapAfter : mapBefore, mapNow)) << "saved: " << bSaved;

        // The rerun from the state the kill left: a kill after the final save
        // left the new package already (the rerun is then not needed); any
        // earlier one is rolled back and redone.
        Rv_TestRun("rm -rf '" + Pak() + "' && mv '" + Pak() + ".killed' '" + Pak() + "'", &nCopied);
        ASSERT_EQ(0, nCopied);
        m_Log.Clear();
        ASSERT_TRUE(Apply(EveryOperation(), &nNoNeed)) << m_Log.All();
        EXPECT_EQ(bSaved ? 1 : 0, nNoNeed);
        EXPECT_EQ("", Rv_TestDiffSnapshots(mapAfter, Snapshot()));
        ASSERT_TRUE(Apply(NextUpdate())) << m_Log.All();
    }
    EXPECT_GT(uStep, 10u);
}
