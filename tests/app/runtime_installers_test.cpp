// The Flash control and DirectX checks with their installers, which stand
// here as scripts that change the simulated machine as a real install would.
#include "app/runtime_installers.h"

#include "tests/app/machine_fixture.h"

namespace {

class RuntimeInstallers : public SimulatedMachine {
protected:
    void SetUp() override
    {
        SimulatedMachine::SetUp();
        Fact("player_version", "11.2");
    }
    // An installer that records how it was started, then runs strInstall.
    void WriteInstaller(const std::string& strPath, const std::string& strInstall)
    {
        WriteScript(strPath, "echo \"$0 $*\" >> '" + m_Dir.File("installer_runs") + "'\n" + strInstall);
    }
    std::string Runs() { return Rv_TestReadFile(m_Dir.File("installer_runs")); }
    std::string FlashInstall() { return "echo 10.0 > '" + m_Dir.File("sim/player_version") + "'"; }
    std::string DirectXInstall()
    {
        std::string strBody;
        for (const char* cszLibrary : s_aszD3DX9)
            strBody += "touch '" + m_Dir.File("system/") + cszLibrary + "'\n";
        return strBody;
    }
    void WriteDirectXPackage(const std::string& strInstall)
    {
        Rv_TestWriteFile(App("3rdParty/dx9_43/Jun2010_d3dx9_43_x86.cab"), "cab");
        WriteInstaller(App("3rdParty/dx9_43/DXSETUP.exe"), strInstall);
    }
};

TEST_F(RuntimeInstallers, FlashByVersion)
{
    const struct {
        const char* cszVersion;
        int bAvailable;
    } aCases[] = {{"9.0", 1}, {"11.2", 1}, {"8.9", 0}, {"none", 0}};
    for (const auto& c : aCases) {
        Fact("player_version", c.cszVersion);
        EXPECT_EQ(c.bAvailable, _CheckFlashAvailable()) << c.cszVersion;
    }
    Fact("player_version", "none");
    _CheckFlashAvailable();
    EXPECT_NE(std::string::npos, LogText().find("RVLOG_COM_PROCESS_ERROR(0x80040154)")) << LogText();
}

TEST_F(RuntimeInstallers, FlashPresentRunsNothing)
{
    WriteInstaller(App("3rdParty/install_flash_player_10_active_x.exe"), FlashInstall());
    EXPECT_TRUE(RVU_MakeSureFlashInstalled());
    EXPECT_EQ("", Runs());
    EXPECT_EQ("", Boxes());
}

// The installer two levels up is preferred to the one in place.
TEST_F(RuntimeInstallers, FlashMissingIsInstalled)
{
    Fact("player_version", "none");
    WriteInstaller(m_Dir.File("3rdParty/install_flash_player_10_active_x.exe"), FlashInstall());
    WriteInstaller(App("3rdParty/install_flash_player_10_active_x.exe"), "");
    EXPECT_TRUE(RVU_MakeSureFlashInstalled());
    EXPECT_EQ(App("../../3rdParty/install_flash_player_10_active_x.exe") + " \n", Runs());
    EXPECT_EQ("", Boxes());
}

TEST_F(RuntimeInstallers, FlashInstallThatDoesNotHelpTellsTheUser)
{
    for (bool bInstaller : {false, true}) {
        Pf_DeleteFile(m_Dir.File("sim/msgbox_transcript"));
        Fact("player_version", "8.0");
        if (bInstaller)
            WriteInstaller(App("3rdParty/install_flash_player_10_active_x.exe"), "");
        EXPECT_FALSE(RVU_MakeSureFlashInstalled());
        EXPECT_EQ(Box(138, PF_MB_ICONINFORMATION), Boxes());
    }
    EXPECT_EQ(App("3rdParty/install_flash_player_10_active_x.exe") + " \n", Runs());
    EXPECT_NE(std::string::npos, LogText().find("Failed to install flash.")) << LogText();
}

TEST_F(RuntimeInstallers, DirectXPresentIsSilent)
{
    WriteDirectXPackage(DirectXInstall());
    EXPECT_TRUE(RVU_CheckGameEnvironment());
    EXPECT_EQ("", Runs());
    EXPECT_EQ("", Boxes());
}

TEST_F(RuntimeInstallers, DirectXInstalledNeedsMoreThanTheMinimumFree)
{
    const struct {
        const char* cszFree;
        bool bInstalled;
    } aCases[] = {{"117440512", true}, {"117440511", false}};
    for (const auto& c : aCases) {
        Pf_DeleteFile(m_Dir.File("system/D3DX9_40.dll"));
        Pf_DeleteFile(m_Dir.File("sim/msgbox_transcript"));
        Pf_DeleteFile(m_Dir.File("installer_runs"));
        Fact("free_bytes", c.cszFree);
        WriteDirectXPackage(DirectXInstall());
        EXPECT_EQ(c.bInstalled, RVU_CheckGameEnvironment() != 0) << c.cszFree;
        if (c.bInstalled) {
            EXPECT_NE(std::string::npos, Runs().find("DXSETUP.exe /Silent\n")) << Runs();
            EXPECT_EQ(Box(139, PF_MB_ICONINFORMATION), Boxes());
        } else {
            EXPECT_EQ("", Runs());
            EXPECT_EQ(Box(141, PF_MB_OK) + Box(140, PF_MB_ICONERROR), Boxes());
        }
    }
}

TEST_F(RuntimeInstallers, DirectXFailures)
{
    struct Case {
        const char* cszName;
        bool bCabinet;
        bool bSetupInstalls;
    };
    const Case aCases[] = {
        {"no cabinet", false, true},
        {"setup that installs nothing", true, false},
    };
    for (const Case& c : aCases) {
        Pf_RemoveTree(App("3rdParty"));
        Pf_DeleteFile(m_Dir.File("system/D3DX9_43.dll"));
        Pf_DeleteFile(m_Dir.File("sim/msgbox_transcript"));
        Pf_DeleteFile(m_Dir.File("installer_runs"));
        WriteDirectXPackage(c.bSetupInstalls ? DirectXInstall() : "");
        if (!c.bCabinet)
            Pf_DeleteFile(App("3rdParty/dx9_43/Jun2010_d3dx9_43_x86.cab"));
        EXPECT_FALSE(RVU_CheckGameEnvironment()) << c.cszName;
        EXPECT_EQ(Box(140, PF_MB_ICONERROR), Boxes()) << c.cszName;
        EXPECT_EQ(c.bCabinet, !Runs().empty()) << c.cszName;
    }
}

} // namespace
