// Power and memory status: the simulated machine's facts, and sane answers
// from the real machine.
#include "platform/power.h"

#include "platform/system_call.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

class PowerStatus : public ::testing::Test {
protected:
    void SetUp() override { setenv("RV_SIM_ROOT", m_Dir.File("sim").c_str(), 1); }
    void TearDown() override { unsetenv("RV_SIM_ROOT"); }
    void Fact(const char* cszName, const char* cszValue)
    {
        Rv_TestWriteFile(m_Dir.File("sim/") + cszName, std::string(cszValue) + "\n");
    }
    Rv_TestTempDir m_Dir;
};

TEST_F(PowerStatus, FactsAnswerAndBadFactsAreIgnored)
{
    Pf_PowerStatus real{};
    ASSERT_TRUE(Pf_GetSystemPowerStatus(&real));
    EXPECT_TRUE(real.byBatteryLifePercent <= 100 || real.byBatteryLifePercent == PF_BATTERY_PERCENT_UNKNOWN);

    Fact("ac_line", "0");
    Fact("battery_percent", "37");
    Pf_PowerStatus status{};
    ASSERT_TRUE(Pf_GetSystemPowerStatus(&status));
    EXPECT_EQ(PF_AC_LINE_OFFLINE, status.byACLineStatus);
    EXPECT_EQ(37, status.byBatteryLifePercent);

    Fact("ac_line", "256");
    Fact("battery_percent", "lots");
    ASSERT_TRUE(Pf_GetSystemPowerStatus(&status));
    EXPECT_EQ(real.byACLineStatus, status.byACLineStatus);
    EXPECT_EQ(real.byBatteryLifePercent, status.byBatteryLifePercent);
    EXPECT_FALSE(Pf_GetSystemPowerStatus(nullptr));
}

TEST_F(PowerStatus, MemoryCallNeedsItsLengthAndHonoursTheFact)
{
    auto pfnCall = (Pf_GlobalMemoryStatusExFunction)Pf_GetSystemCall("Kernel32.dll", "GlobalMemoryStatusEx");
    ASSERT_NE(nullptr, pfnCall);
    Pf_MemoryStatusEx status{};
    EXPECT_FALSE(pfnCall(&status));
    status.dwLength = 63;
    EXPECT_FALSE(pfnCall(&status));

    status.dwLength = sizeof(status);
    ASSERT_TRUE(pfnCall(&status));
    EXPECT_GT(status.ullTotalPhys, 0u);
    EXPECT_LE(status.ullAvailPhys, status.ullTotalPhys);

    Fact("available_memory", "314572800");
    ASSERT_TRUE(pfnCall(&status));
    EXPECT_EQ(314572800u, status.ullAvailPhys);
    EXPECT_LE(status.ullAvailPhys, status.ullTotalPhys);

    Fact("missing_calls", "GlobalMemoryStatusEx");
    EXPECT_EQ(nullptr, Pf_GetSystemCall("Kernel32.dll", "GlobalMemoryStatusEx"));
}

} // namespace
