// The steps after an update: the warnings for the user and the registry
// values of the installation.
#include "app/update_steps.h"

#include "foundation/registry_value.h"
#include "telemetry/machine_id.h"
#include "tests/app/machine_fixture.h"

namespace {

class UpdateSteps : public SimulatedMachine {
protected:
    void SetUp() override
    {
        SimulatedMachine::SetUp();
        Rv_TestWriteFile(App("version.cfg"), Rv_TestVersionCfg("1.0.3"));
    }
    static std::string Value(const char* cszName)
    {
        char szValue[512];
        if (!Rv_GetStringValueFromRegister("zhcn", cszName, szValue, sizeof(szValue)))
            return "<none>";
        return szValue;
    }
};

TEST_F(UpdateSteps, HealthyDesktopGivesNoWarning)
{
    std::string strWarning = "left over";
    EXPECT_TRUE(Rv_RunAfterUpdate(&strWarning));
    EXPECT_EQ("", strWarning);
    EXPECT_EQ("", Boxes());
}

TEST_F(UpdateSteps, LaptopOnBatteryWithLittleMemory)
{
    Fact("ac_line", "0");
    Fact("battery_percent", "64");
    Fact("available_memory", "314572800");
    std::string strWarning;
    EXPECT_TRUE(Rv_RunAfterUpdate(&strWarning));
    EXPECT_EQ("0|" + Text(170) + "&1|" + Text(171), strWarning);
}

TEST_F(UpdateSteps, RegistryValuesAfterAnUpdateAndWhenNoneWasNeeded)
{
    for (int bAfterUpdate : {1, 0}) {
        Pf_RemoveTree(m_Dir.File("registry"));
        std::string strWarning;
        EXPECT_TRUE(bAfterUpdate ? Rv_RunAfterUpdate(&strWarning) : Rv_RunIfNotNeedUpdate());
        EXPECT_EQ("1.0.3", Value("version"));
        EXPECT_EQ(App(""), Value("installPath"));
    }
}

// A version file without a version fails only that value; the others follow.
TEST_F(UpdateSteps, VersionMissingOnlyFailsItsOwnValue)
{
    Rv_TestWriteFile(App("version.cfg"), "[Version]\nTalon5.VersionLineName=zhcn\n");
    std::string strWarning;
    EXPECT_TRUE(Rv_RunAfterUpdate(&strWarning));
    EXPECT_EQ("<none>", Value("version"));
    EXPECT_EQ(App(""), Value("installPath"));
    EXPECT_NE(std::string::npos, LogText().find("Failed to write current version number.")) << LogText();

    char szUUID[132] = {};
    ASSERT_TRUE(Rv_GetFelnUUIDEx(szUUID));
    EXPECT_EQ(std::string(szUUID), Value("UUIDEx"));
}

// Without a version line every value is refused and logged; nothing else stops.
TEST_F(UpdateSteps, EmptyVersionTypeWritesNothing)
{
    EXPECT_TRUE(_WriteRegisterInfo("", "1.0", App("").c_str()));
    for (const char* cszName : {"version", "installPath", "UUIDEx"})
        EXPECT_EQ("<none>", RegValue("SOFTWARE\\Tervana\\QV7", cszName)) << cszName;
    EXPECT_NE(std::string::npos, LogText().find("Failed to write install path.")) << LogText();
}

// A missing D3DX9 library without an installer ends in the error box, and the
// steps after it still run.
TEST_F(UpdateSteps, DirectXFailureDoesNotStopTheChain)
{
    Pf_DeleteFile(m_Dir.File("system/D3DX9_42.dll"));
    Fact("ac_line", "0");
    Fact("battery_percent", "10");
    std::string strWarning;
    EXPECT_TRUE(Rv_RunAfterUpdate(&strWarning));
    EXPECT_EQ(Box(140, PF_MB_ICONERROR), Boxes());
    EXPECT_EQ("0|" + Text(170), strWarning);
    EXPECT_EQ("1.0.3", Value("version"));
}

} // namespace
