// The system helpers: current folder, folder creation, parent folders,
// waiting for a command, the DirectX checks and the processor-load sampler.
#include "foundation/system_helpers.h"
#include "platform/file.h"
#include "platform/os_info.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <unistd.h>

namespace {
// Enters a folder for the test's time and leaves RV_SIM_ROOT unset afterwards.
class SystemHelpers : public ::testing::Test {
protected:
    void SetUp() override
    {
        char szOld[4096];
        ASSERT_NE(nullptr, getcwd(szOld, sizeof(szOld)));
        m_strOldDir = szOld;
        ASSERT_EQ(0, chdir(m_dir.Path().c_str()));
    }
    void TearDown() override
    {
        unsetenv("RV_SIM_ROOT");
        (void)!chdir(m_strOldDir.c_str());
    }
    Rv_TestTempDir m_dir;
    std::string m_strOldDir;
};
} // namespace

TEST_F(SystemHelpers, CurrentDirEndsInOneSeparator)
{
    std::string strDir;
    ASSERT_TRUE(Rv_GetCurrentDir(&strDir));
    char szCwd[4096];
    ASSERT_NE(nullptr, getcwd(szCwd, sizeof(szCwd)));
    EXPECT_EQ(std::string(szCwd) + "\\", strDir);
    ASSERT_EQ(0, chdir("/"));
    ASSERT_TRUE(Rv_GetCurrentDir(&strDir));
    EXPECT_EQ("/", strDir);
}

TEST_F(SystemHelpers, ParentDir)
{
    struct Case {
        const char* cszPath;
        int bResult;
        const char* cszParent;
    };
    const Case aCases[] = {
        {"a\\b\\c.txt", 1, "a\\b"}, {"a/b\\c", 1, "a/b"}, {"a\\b/c", 1, "a\\b"}, {"dir\\", 1, "dir"},
        {"\\top", 1, ""},           {"plain", 0, ""},     {"", 0, ""},
    };
    for (const Case& c : aCases) {
        std::string strParent;
        EXPECT_EQ(c.bResult, _GetParentDir(c.cszPath, &strParent)) << c.cszPath;
        EXPECT_EQ(c.cszParent, strParent) << c.cszPath;
    }
}

TEST_F(SystemHelpers, MakeSureDirCreatesMissingParents)
{
    EXPECT_TRUE(Rv_MakeSureDirExisted("one\\two\\three"));
    EXPECT_TRUE(Pf_DirExists(m_dir.File("one/two/three")));
    // Existing folders, absolute or relative, are fine.
    EXPECT_TRUE(Rv_MakeSureDirExisted("one\\two\\three"));
    EXPECT_TRUE(Rv_MakeSureDirExisted((m_dir.Path() + "/one").c_str()));
    EXPECT_TRUE(Rv_MakeSureDirForFile("x\\y\\file.txt"));
    EXPECT_TRUE(Pf_DirExists(m_dir.File("x/y")));
    EXPECT_FALSE(Pf_PathExists(m_dir.File("x/y/file.txt")));
}

// A file where a folder should be is never taken for the folder.
TEST_F(SystemHelpers, FileInTheWayFails)
{
    Rv_TestWriteFile(m_dir.File("blocker"), "data");
    EXPECT_FALSE(Rv_CreateDirOrFindExisting("blocker"));
    EXPECT_FALSE(Rv_MakeSureDirExisted("blocker"));
    EXPECT_FALSE(Rv_MakeSureDirExisted("blocker\\sub"));
    EXPECT_FALSE(Rv_MakeSureDirForFile("blocker\\file.txt"));
    EXPECT_FALSE(Rv_MakeSureDirForFile(""));
    EXPECT_FALSE(Rv_MakeSureDirForFile(nullptr));
    EXPECT_FALSE(Rv_MakeSureDirExisted(""));
    EXPECT_EQ("data", Rv_TestReadFile(m_dir.File("blocker")));
}

TEST_F(SystemHelpers, CreateAndWaitProcessWaitsForTheEnd)
{
    EXPECT_TRUE(_CreateAndWaitProcess("sh -c \"sleep 0.2; echo done > out.txt; exit 3\""));
    EXPECT_EQ("done\n", Rv_TestReadFile(m_dir.File("out.txt")));
    EXPECT_FALSE(_CreateAndWaitProcess("no-such-program-here"));
    EXPECT_FALSE(_CreateAndWaitProcess(nullptr));
}

namespace {
const char* const s_aszD3DX9[] = {"D3DX9_40.dll", "D3DX9_41.dll", "D3DX9_42.dll", "D3DX9_43.dll"};
}

TEST_F(SystemHelpers, DirectXChecks)
{
    Rv_TestTempDir sim;
    Rv_TestTempDir system;
    Rv_TestWriteFile(sim.File("system_dir"), system.Path() + "\n");
    setenv("RV_SIM_ROOT", sim.Path().c_str(), 1);
    for (const char* cszName : s_aszD3DX9)
        Rv_TestWriteFile(system.File(cszName), "");
    std::string strSetup;

    // All four there: nothing needed, whatever the installer folders hold.
    EXPECT_TRUE(RVU_IsSystemFileExist("D3DX9_41.dll"));
    EXPECT_FALSE(RVU_IsSystemFileExist("D3DX9_39.dll"));
    EXPECT_TRUE(RVU_IsD3DX9Installed());
    EXPECT_FALSE(RVU_IsDirectXPackageNeeded());

    // One missing, no installer: the package is needed.
    ASSERT_TRUE(Pf_DeleteFile(system.File("D3DX9_43.dll")));
    EXPECT_FALSE(RVU_IsD3DX9Installed());
    EXPECT_FALSE(_GetDirectXInstaller(&strSetup));
    EXPECT_TRUE(RVU_IsDirectXPackageNeeded());

    // A setup without its cabinet is no installer.
    Rv_TestWriteFile(m_dir.File("3rdParty/dx9_43/DXSETUP.exe"), "");
    EXPECT_TRUE(RVU_IsDirectXPackageNeeded());
    ASSERT_TRUE(Pf_DeleteFile(m_dir.File("3rdParty/dx9_43/DXSETUP.exe")));

    // Cabinet two levels up, setup in place: each is looked up on its own.
    ASSERT_TRUE(Pf_CreateDirChain(m_dir.File("a/b")));
    ASSERT_EQ(0, chdir(m_dir.File("a/b").c_str()));
    Rv_TestWriteFile(m_dir.File("3rdParty/dx9_43/Jun2010_d3dx9_43_x86.cab"), "");
    Rv_TestWriteFile(m_dir.File("a/b/3rdParty/dx9_43/DXSETUP.exe"), "");
    std::string strCurrent;
    ASSERT_TRUE(Rv_GetCurrentDir(&strCurrent));
    ASSERT_TRUE(_GetDirectXInstaller(&strSetup));
    EXPECT_EQ(strCurrent + "3rdParty\\dx9_43\\DXSETUP.exe", strSetup);
    EXPECT_FALSE(RVU_IsDirectXPackageNeeded());

    // With both levels holding a setup, the one two levels up comes first.
    Rv_TestWriteFile(m_dir.File("3rdParty/dx9_43/DXSETUP.exe"), "");
    ASSERT_TRUE(_GetDirectXInstaller(&strSetup));
    EXPECT_EQ(strCurrent + "..\\..\\3rdParty\\dx9_43\\DXSETUP.exe", strSetup);
}

// A machine whose system folder holds no Windows libraries (no simulated
// one, or a simulated machine without that fact) has nothing to install.
TEST_F(SystemHelpers, DirectXCountsAsPresentWithoutAWindowsSystemFolder)
{
    Rv_TestTempDir sim;
    for (bool bSimulated : {false, true}) {
        if (bSimulated)
            setenv("RV_SIM_ROOT", sim.Path().c_str(), 1);
        else
            unsetenv("RV_SIM_ROOT");
        EXPECT_FALSE(RVU_IsSystemFileExist("D3DX9_43.dll")) << bSimulated;
        EXPECT_TRUE(RVU_IsD3DX9Installed()) << bSimulated;
        EXPECT_FALSE(RVU_IsDirectXPackageNeeded()) << bSimulated;
    }
    unsetenv("RV_SIM_ROOT");
}

namespace {
struct Times {
    int bOk;
    uint64_t ullIdle, ullKernel, ullUser;
};
std::vector<Times> s_vecTimes;
size_t s_uNext = 0;
int _FakeSystemTimes(uint64_t* pullIdle, uint64_t* pullKernel, uint64_t* pullUser)
{
    const Times& t = s_vecTimes.at(s_uNext++);
    *pullIdle = t.ullIdle;
    *pullKernel = t.ullKernel;
    *pullUser = t.ullUser;
    return t.bOk;
}
} // namespace

TEST(CpuUsageSampler, MeasuresFromTheFirstSample)
{
    // First sample, then samples as {times, expected percentage}.
    s_vecTimes = {
        {1, 1000, 2000, 1000},
        {1, 1500, 2600, 1400},  // total 1000, idle 500: 50
        {1, 1600, 3000, 2000},  // total 2000, idle 600: 70, still from the first sample
        {1, 1000, 2000, 1000},  // no time passed: 0
        {0, 9000, 9000, 9000},  // the call fails: 0
        {1, 9000, 2100, 1000},  // idle beyond the total: 0, never a wrapped-round number
        {1, 1003, 2002, 1001},  // total 3, idle 3: 0
        {1, 1001, 2002, 1001},  // total 3, idle 1: 200/3 cut to 66
    };
    const float afExpected[] = {50, 70, 0, 0, 0, 0, 66};
    s_uNext = 0;
    CpuUsageSampler sampler;
    EXPECT_FALSE(sampler.TakeFirstSample());
    EXPECT_EQ(0.0f, sampler.Sample());
    sampler.m_pfnGetSystemTimes = _FakeSystemTimes;
    ASSERT_TRUE(sampler.TakeFirstSample());
    for (float fExpected : afExpected)
        EXPECT_EQ(fExpected, sampler.Sample()) << s_uNext;
}

TEST(CpuUsageSampler, RealTimesStayInRange)
{
    CpuUsageSampler sampler;
    sampler.m_pfnGetSystemTimes = Pf_GetSystemTimes;
    ASSERT_TRUE(sampler.TakeFirstSample());
    float fUsage = sampler.Sample();
    EXPECT_GE(fUsage, 0.0f);
    EXPECT_LE(fUsage, 100.0f);
}
