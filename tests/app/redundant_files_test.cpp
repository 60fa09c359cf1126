// Pruning of the log's day folders and removal of the old runtime leftovers,
// and that nothing outside the installation is touched.
#include "app/redundant_files.h"

#include "tests/app/machine_fixture.h"

namespace {

class RedundantFiles : public SimulatedMachine {
protected:
    // A day folder of the log holding one log file, created on day nDay.
    void DayFolder(const std::string& strIdentity, const std::string& strName, int nDay)
    {
        std::string strDir = App("Logs/" + strIdentity + "/" + strName);
        Rv_TestWriteFile(strDir + "/a.log", "line\n");
        Pf_FILETIME ft = Pf_U64ToFileTime(s_ullBase + (uint64_t)nDay * RVU_FILETIME_UNITS_PER_DAY);
        ASSERT_TRUE(Pf_SetFileTimes(strDir, &ft, &ft));
    }
    void SaveDays(const char* cszDays)
    {
        Rv_TestWriteFile(App("refitter.ini"), std::string("[Logs]\nSaveDays=") + cszDays + "\n");
    }
    int Run() { return RVU_RemoveRedundantFiles(App("").c_str()); }

    static constexpr uint64_t s_ullBase = 133000000000000000ull;
};

TEST_F(RedundantFiles, DayFoldersKeptByDaysBeforeTheNewest)
{
    struct Case {
        const char* cszSaveDays;   // nullptr: no ini, the default of 3
        std::vector<bool> vecKept; // days 1, 2, 3, 8, 10
    };
    const Case aCases[] = {
        {"3", {false, false, false, true, true}},
        {nullptr, {false, false, false, true, true}},
        {"8", {false, false, true, true, true}},
        {"0", {true, true, true, true, true}},
        {"-2", {true, true, true, true, true}},
        {"2147483647", {true, true, true, true, true}},
    };
    const int anDays[] = {1, 2, 3, 8, 10};
    for (const Case& c : aCases) {
        Pf_RemoveTree(App("Logs"));
        Pf_DeleteFile(App("refitter.ini"));
        if (c.cszSaveDays)
            SaveDays(c.cszSaveDays);
        for (int nDay : anDays)
            DayFolder("Refitter", "day" + std::to_string(nDay), nDay);
        EXPECT_TRUE(Run());
        for (size_t i = 0; i < c.vecKept.size(); ++i)
            EXPECT_EQ(c.vecKept[i], Pf_DirExists(App("Logs/Refitter/day" + std::to_string(anDays[i]))) != 0)
                << (c.cszSaveDays ? c.cszSaveDays : "default") << " day " << anDays[i];
    }
}

// Each identity is pruned against its own newest day.
TEST_F(RedundantFiles, IdentitiesPrunedSeparately)
{
    DayFolder("Refitter", "old", 1);
    DayFolder("Refitter", "new", 20);
    DayFolder("Client", "only", 1);
    DayFolder(".hidden", "old", 1);
    DayFolder(".hidden", "new", 20);
    EXPECT_TRUE(Run());
    EXPECT_FALSE(Pf_DirExists(App("Logs/Refitter/old")));
    EXPECT_TRUE(Pf_DirExists(App("Logs/Refitter/new")));
    EXPECT_TRUE(Pf_DirExists(App("Logs/Client/only")));
    EXPECT_TRUE(Pf_DirExists(App("Logs/.hidden/old")));
}

TEST_F(RedundantFiles, ReadOnlyFilesGoAndDotFoldersStay)
{
    Rv_TestWriteFile(App("Logs/Refitter/locked/b.log"), "x");
    DayFolder("Refitter", "locked", 1);
    DayFolder("Refitter", "dotted", 1);
    DayFolder("Refitter", "new", 10);
    ASSERT_TRUE(Pf_SetReadOnly(App("Logs/Refitter/locked/b.log"), 1));
    Rv_TestWriteFile(App("Logs/Refitter/dotted/.keep/c.log"), "x");
    Pf_FILETIME ft = Pf_U64ToFileTime(s_ullBase + RVU_FILETIME_UNITS_PER_DAY);
    ASSERT_TRUE(Pf_SetFileTimes(App("Logs/Refitter/dotted"), &ft, &ft));
    EXPECT_TRUE(Run());
    EXPECT_FALSE(Pf_PathExists(App("Logs/Refitter/locked")));
    EXPECT_TRUE(Pf_FileExists(App("Logs/Refitter/dotted/.keep/c.log")));
    EXPECT_FALSE(Pf_FileExists(App("Logs/Refitter/dotted/a.log")));
    EXPECT_NE(std::string::npos, LogText().find("Failed to remove directory `")) << LogText();
}

TEST_F(RedundantFiles, LeftoversTwoLevelsUpRemovedOthersStay)
{
    Rv_TestWriteFile(m_Dir.File("3rdParty/DX9/sub/d3d.cab"), "x");
    Rv_TestWriteFile(m_Dir.File("3rdParty/PhysX_8.10.13_SystemSoftware.exe"), "x");
    Rv_TestWriteFile(m_Dir.File("3rdParty/dx9_43/DXSETUP.exe"), "x");
    EXPECT_TRUE(Run());
    EXPECT_FALSE(Pf_PathExists(m_Dir.File("3rdParty/DX9")));
    EXPECT_FALSE(Pf_PathExists(m_Dir.File("3rdParty/PhysX_8.10.13_SystemSoftware.exe")));
    EXPECT_TRUE(Pf_FileExists(m_Dir.File("3rdParty/dx9_43/DXSETUP.exe")));
    // Gone already: not an error.
    EXPECT_TRUE(Run());
}

// Links are removed, never followed, and the current folder cannot lead the
// removal outside the installation (two levels above the application folder).
TEST_F(RedundantFiles, NothingOutsideTheInstallation)
{
    Rv_TestTempDir outside;
    Rv_TestWriteFile(outside.File("keep/file.txt"), "x");
    Rv_TestWriteFile(outside.File("Logs/Refitter/old/a.log"), "x");
    Rv_TestWriteFile(outside.File("Logs/Refitter/new/a.log"), "x");
    Pf_FILETIME ft = Pf_U64ToFileTime(s_ullBase);
    ASSERT_TRUE(Pf_SetFileTimes(outside.File("Logs/Refitter/old"), &ft, &ft));
    Pf_CreateDirChain(m_Dir.File("3rdParty"));
    ASSERT_EQ(0, symlink(outside.File("keep").c_str(), m_Dir.File("3rdParty/DX9").c_str()));
    ASSERT_EQ(0, symlink(outside.File("keep/file.txt").c_str(),
                         m_Dir.File("3rdParty/PhysX_8.10.13_SystemSoftware.exe").c_str()));
    ASSERT_EQ(0, symlink(outside.File("Logs").c_str(), App("Logs").c_str()));
    EXPECT_TRUE(Run());
    EXPECT_TRUE(Pf_FileExists(outside.File("keep/file.txt")));
    EXPECT_TRUE(Pf_FileExists(outside.File("Logs/Refitter/old/a.log")));

    // Started from a folder outside, whose leftovers and logs are not ours.
    Pf_CreateDirChain(outside.File("a/b"));
    Rv_TestWriteFile(outside.File("3rdParty/DX9/x.cab"), "x");
    ASSERT_EQ(0, chdir(outside.File("a/b").c_str()));
    Rv_TestWriteFile(outside.File("a/b/Logs/Refitter/old/a.log"), "x");
    Rv_TestWriteFile(outside.File("a/b/Logs/Refitter/new/a.log"), "x");
    ASSERT_TRUE(Pf_SetFileTimes(outside.File("a/b/Logs/Refitter/old"), &ft, &ft));
    EXPECT_TRUE(Run());
    EXPECT_TRUE(Pf_FileExists(outside.File("3rdParty/DX9/x.cab")));
    EXPECT_TRUE(Pf_FileExists(outside.File("a/b/Logs/Refitter/old/a.log")));
}

TEST_F(RedundantFiles, BadArgumentsAndMissingFolders)
{
    EXPECT_FALSE(RVU_RemoveRedundantFiles(nullptr));
    EXPECT_FALSE(RVU_RemoveRedundantFiles(""));
    // No log folder at all is not an error.
    EXPECT_TRUE(Run());
    std::vector<std::string> vecNames = {"stale"};
    EXPECT_TRUE(_GetSubDirNameList(App("missing").c_str(), &vecNames));
    EXPECT_TRUE(vecNames.empty());
    EXPECT_TRUE(_RemoveFile(App("missing.txt").c_str()));
    EXPECT_TRUE(_RemoveDirectory(App("missing").c_str()));
}

} // namespace
