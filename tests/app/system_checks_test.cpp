// The checks behind the warnings after an update (battery, free memory,
// processor load) and the mouse compatibility flag.
#include "app/system_checks.h"

#include "platform/app_compat.h"
#include "tests/app/machine_fixture.h"

namespace {

using SystemChecks = SimulatedMachine;

TEST_F(SystemChecks, PowerWarningOnlyOnBatteryWithoutMains)
{
    struct Case {
        const char* cszACLine;
        const char* cszBattery;
        bool bWarn;
    };
    const Case aCases[] = {
        {"0", "50", true},  {"0", "100", true}, {"0", "0", true},
        {"0", "255", false},   // a desktop that cannot report a battery
        {"1", "50", false}, {"255", "50", false},
    };
    for (const Case& c : aCases) {
        Fact("ac_line", c.cszACLine);
        Fact("battery_percent", c.cszBattery);
        std::string strWarning;
        EXPECT_TRUE(RVU_CheckLaptopPower(&strWarning));
        EXPECT_EQ(c.bWarn ? "0|" + Text(170) : "", strWarning) << c.cszACLine << " " << c.cszBattery;
    }
}

TEST_F(SystemChecks, MemoryWarningBelowFourHundredMiB)
{
    const struct {
        const char* cszAvailable;
        bool bWarn;
    } aCases[] = {{"314572800", true}, {"419430399", true}, {"419430400", false}, {"8589934592", false}};
    for (const auto& c : aCases) {
        Fact("available_memory", c.cszAvailable);
        std::string strWarning;
        EXPECT_TRUE(RVU_CheckFreeMemory(&strWarning));
        EXPECT_EQ(c.bWarn ? "1|" + Text(171) : "", strWarning) << c.cszAvailable;
    }
}

TEST_F(SystemChecks, ProcessorWarningAboveEightyPercent)
{
    const struct {
        const char* cszBusy;
        bool bWarn;
    } aCases[] = {{"0", false}, {"80", false}, {"81", true}, {"100", true}};
    for (const auto& c : aCases) {
        Fact("cpu_busy", c.cszBusy);
        std::string strWarning;
        EXPECT_TRUE(RVU_CheckCpuUsage(&strWarning));
        EXPECT_EQ(c.bWarn ? "2|" + Text(172) : "", strWarning) << c.cszBusy;
    }
}

// A system without the memory call fails the check; without the processor
// times the check has nothing to measure and still succeeds.
TEST_F(SystemChecks, MissingSystemCalls)
{
    Fact("available_memory", "1");
    Fact("cpu_busy", "100");
    Fact("missing_calls", "GlobalMemoryStatusEx\nGetSystemTimes");
    std::string strWarning;
    EXPECT_FALSE(RVU_CheckFreeMemory(&strWarning));
    EXPECT_TRUE(RVU_CheckCpuUsage(&strWarning));
    EXPECT_EQ("", strWarning);
}

TEST_F(SystemChecks, EntriesJoinedWithAmpersandAndNullTextOnlySkipsAppending)
{
    Fact("ac_line", "0");
    Fact("battery_percent", "20");
    Fact("available_memory", "1048576");
    Fact("cpu_busy", "95");
    std::string strWarning;
    EXPECT_TRUE(RVU_CheckLaptopPower(&strWarning));
    EXPECT_TRUE(RVU_CheckFreeMemory(&strWarning));
    EXPECT_TRUE(RVU_CheckCpuUsage(&strWarning));
    EXPECT_EQ("0|" + Text(170) + "&1|" + Text(171) + "&2|" + Text(172), strWarning);

    EXPECT_TRUE(RVU_CheckLaptopPower(nullptr));
    EXPECT_TRUE(RVU_CheckFreeMemory(nullptr));
    EXPECT_TRUE(RVU_CheckCpuUsage(nullptr));
}

TEST_F(SystemChecks, MouseFlagByWindowsVersionOnceOnly)
{
    const struct {
        const char* cszVersion;
        bool bFlagged;
    } aCases[] = {
        {"5.1.2600", false}, {"5.2.3790", true}, {"6.0.6000", true}, {"6.1.7601", true},
        {"6.2.9200", true},  {"6.3.9600", true}, {"10.0.19045", false},
    };
    for (const auto& c : aCases) {
        Pf_RemoveTree(m_Dir.File("registry"));
        Pf_DeleteFile(m_Dir.File("sim/started_commands"));
        Fact("os_version", c.cszVersion);
        EXPECT_TRUE(RVU_CheckMousePointerFreezesOnWin8Point1()) << c.cszVersion;
        EXPECT_EQ(c.bFlagged ? "NoDTToDITMouseBatch" : "<none>",
                  RegValue(g_cszPfAppCompatLayersKey, App("Refitter.exe")))
            << c.cszVersion;
        // A second run finds the value and neither writes nor flushes again.
        EXPECT_TRUE(RVU_CheckMousePointerFreezesOnWin8Point1()) << c.cszVersion;
        EXPECT_EQ(c.bFlagged ? "Rundll32 apphelp.dll,ShimFlushCache\n" : "", Started()) << c.cszVersion;
    }
}

// Layers the user gave the program are left as they are.
TEST_F(SystemChecks, MouseFlagKeepsAValueAlreadyThere)
{
    Fact("os_version", "6.1.7601");
    Pf_RegKey key;
    ASSERT_EQ(ERROR_SUCCESS, Pf_CreateAppCompatLayersKey(&key));
    ASSERT_EQ(ERROR_SUCCESS, key.SetString(App("Refitter.exe"), "~ RUNASADMIN WIN7RTM"));
    EXPECT_TRUE(RVU_CheckMousePointerFreezesOnWin8Point1());
    EXPECT_EQ("~ RUNASADMIN WIN7RTM", RegValue(g_cszPfAppCompatLayersKey, App("Refitter.exe")));
    EXPECT_EQ("", Started());
}

TEST_F(SystemChecks, MouseFlagFailsWhenTheStoreCannotBeWritten)
{
    Fact("os_version", "6.2.9200");
    Rv_TestWriteFile(m_Dir.File("registry"), "a file where the store should be");
    EXPECT_FALSE(RVU_CheckMousePointerFreezesOnWin8Point1());
    EXPECT_EQ("", Started());
}

} // namespace
