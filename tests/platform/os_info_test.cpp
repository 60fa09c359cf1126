// Operating-system facts: the simulated machine's answers and the processor times.
#include "platform/os_info.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <unistd.h>

TEST(OsInfo, SimulatedFacts)
{
    Rv_TestTempDir sim;
    Rv_TestWriteFile(sim.File("os_version"), "6.1.7601\n");
    Rv_TestWriteFile(sim.File("host_64bit"), "0");
    Rv_TestWriteFile(sim.File("system_dir"), sim.Path() + "/sys32/");
    setenv("RV_SIM_ROOT", sim.Path().c_str(), 1);
    Pf_OsVersion version{};
    ASSERT_TRUE(Pf_GetOsVersion(&version));
    EXPECT_EQ(6u, version.uMajor);
    EXPECT_EQ(1u, version.uMinor);
    EXPECT_EQ(7601u, version.uBuild);
    EXPECT_EQ(0, Pf_IsHost64Bit());
    std::string strDir;
    ASSERT_TRUE(Pf_GetSystemDir(&strDir));
    EXPECT_EQ(sim.Path() + "/sys32", strDir);
    unsetenv("RV_SIM_ROOT");

    ASSERT_TRUE(Pf_GetOsVersion(&version));
    EXPECT_EQ(10u, version.uMajor);
}

TEST(OsInfo, SystemTimesKeepIdleWithinTotal)
{
    long lUnit = 10000000L / sysconf(_SC_CLK_TCK);
    uint64_t ullIdle = 0, ullKernel = 0, ullUser = 0;
    ASSERT_TRUE(Pf_ParseSystemTimes("cpu  10 2 30 400 5 6 7 8 0 0\ncpu0 1 2 3 4\n", &ullIdle, &ullKernel, &ullUser));
    EXPECT_EQ(405u * lUnit, ullIdle);
    EXPECT_EQ((30u + 6 + 7 + 8 + 405) * lUnit, ullKernel);
    EXPECT_EQ(12u * lUnit, ullUser);
    EXPECT_FALSE(Pf_ParseSystemTimes("intr 1 2 3", &ullIdle, &ullKernel, &ullUser));
    EXPECT_FALSE(Pf_ParseSystemTimes("cpu  1 2", &ullIdle, &ullKernel, &ullUser));

    ASSERT_TRUE(Pf_GetSystemTimes(&ullIdle, &ullKernel, &ullUser));
    EXPECT_LE(ullIdle, ullKernel + ullUser);
}
