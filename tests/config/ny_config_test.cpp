// The updater configuration: files, sections, keys, defaults, the development
// ini's overrides, empty and too long values, the beta list and the "laptop" switch.
#include "config/application_path.h"
#include "config/ny_config.h"
#include "platform/file.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

class NyConfigTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_strApp = m_Dir.Path() + "/Game/bin/";
        Pf_CreateDirChain(m_strApp);
        Rv_SetApplicationNameForTest(m_strApp + "Refitter.exe");
    }
    void TearDown() override { Rv_SetApplicationNameForTest(""); }
    void Write(const std::string& strName, const std::string& strText) { Rv_TestWriteFile(m_strApp + strName, strText); }

    Rv_TestTempDir m_Dir;
    std::string m_strApp;
};

TEST_F(NyConfigTest, EveryFileAndKey)
{
    Write("version.cfg", "[Version]\nTalon5.versionName=Name 1\nTalon5.VersionLineName=zhcn\nTalon5.versionex=exp\n"
                         "Talon5.version=1-0-0,5\n");
    Write("refitter.ini", "[server_1]\nip=http://u.example/\nbulletin=http://b.example\nSyncFileURL=http://s.main\n"
                          "[Skin]\nid=main\n");
    Write("refitterDev.ini", "[server_1]\nSyncFileURL=http://s.dev\nDevMessageURL=http://m.dev\n[Skin]\nid=dev\n");
    Rv_TestWriteFile(m_Dir.Path() + "/cybercafe.ini", "[Register]\nRegisterURL=http://r.example\n");
    Write("config.ini", "[Main]\nUse3DEngineDX11_IfExist=1\n[DevVersion]\nBetaVersion=beta1\n");
    Write("BetaVersionList.ini", "[beta1]\nReadableName=Beta\nBinPath=bb\\\nBin64Path=bb64\\\n");

    NyConfig config;
    ASSERT_TRUE(config.LoadConfigParameters(0));
    EXPECT_EQ(m_strApp, config.m_strApplicationPath);
    EXPECT_EQ(m_strApp + "update\\", config.m_strUpdatePath);
    EXPECT_EQ(m_strApp + "../../", config.m_strRootPath);
    EXPECT_EQ("Name 1", config.m_strVersionName);
    EXPECT_EQ("zhcn_exp", config.m_strVersionType);
    EXPECT_EQ("1.0.0.5", config.GetVersion());
    EXPECT_EQ("http://u.example/zhcn_exp/", config.m_strDownloadURL);
    EXPECT_EQ("http://b.example", config.m_strBulletinURL);
    EXPECT_EQ("http://r.example", config.m_strRegisterURL);
    EXPECT_EQ("http://s.dev", config.m_strSyncFileURL);
    EXPECT_EQ("http://m.dev", config.m_strDevMessageURL);
    EXPECT_EQ(1, config.m_nUse3DEngineDX11IfExist);
    EXPECT_EQ("main", config.m_strSkinID);
    EXPECT_EQ("Beta", config.m_strBetaReadableName);
    EXPECT_EQ("bb\\", config.m_strBetaBinPath);
    EXPECT_EQ("bb64\\", config.m_strBetaBin64Path);
    EXPECT_EQ("", config.m_strGameName);

    // The development ini holds the file: the skin goes there, and the main ini still wins on reload.
    ASSERT_TRUE(config.SetSkinID("new"));
    ASSERT_TRUE(config.LoadConfigParameters(0));
    EXPECT_EQ("main", config.m_strSkinID);
}

TEST_F(NyConfigTest, MissingEmptyAndTooLongValues)
{
    std::string strLong(256, 'x');
    Write("version.cfg", "[Version]\nTalon5.versionex=exp\nTalon5.version=" + strLong + "\n");
    Write("refitter.ini", "[server_1]\nbulletin=\nSyncFileURL=http://s.main\n[Skin]\nid=" + strLong + "\n");
    // Present but empty: the development value blanks the main one.
    Write("refitterDev.ini", "[server_1]\nSyncFileURL=\n[Skin]\nid=dev\n");
    Write("config.ini", "[DevVersion]\nBetaVersion=nosuch\n");

    NyConfig config;
    ASSERT_TRUE(config.LoadConfigParameters(0));
    EXPECT_EQ("", config.m_strVersionType);     // an extension without a line is ignored
    EXPECT_EQ("", config.m_strVersion);         // too long counts as absent, never cut
    EXPECT_EQ("", config.m_strDownloadURL);
    EXPECT_EQ("", config.m_strBulletinURL);
    EXPECT_EQ("", config.m_strSyncFileURL);
    EXPECT_EQ("", config.m_strDevMessageURL);
    EXPECT_EQ(0, config.m_nUse3DEngineDX11IfExist);
    EXPECT_EQ("dev", config.m_strSkinID);
    EXPECT_EQ("", config.m_strBetaReadableName);
    EXPECT_EQ("", config.m_strBetaBinPath);

    // Without a development ini the skin goes to the main ini.
    Pf_DeleteFile(m_strApp + "refitterDev.ini");
    ASSERT_TRUE(config.SetSkinID("s2"));
    ASSERT_TRUE(config.LoadConfigParameters(0));
    EXPECT_EQ("s2", config.m_strSkinID);
    EXPECT_FALSE(config.SetSkinID(nullptr));
}

TEST_F(NyConfigTest, NoFilesAtAll)
{
    NyConfig config;
    ASSERT_TRUE(config.LoadConfigParameters(0));
    EXPECT_EQ("", config.m_strDownloadURL);
    EXPECT_EQ("", config.m_strVersion);
    EXPECT_EQ("", config.m_strSkinID);
    Rv_SetApplicationNameForTest("Refitter.exe");
    EXPECT_FALSE(config.LoadConfigParameters(0));
}

TEST_F(NyConfigTest, LaptopSwitchesToZhcn)
{
    std::string strLaptop = m_Dir.Path() + "/Game/Laptop/";
    Pf_CreateDirChain(strLaptop);
    Pf_CreateDirChain(m_Dir.Path() + "/Game/zhcn");
    Rv_TestWriteFile(m_Dir.Path() + "/Game/zhcn/version.cfg", "[Version]\nTalon5.version=2.0\n");
    Rv_SetApplicationNameForTest(strLaptop + "Refitter.exe");
    std::string strSaved;
    Pf_GetCurrentDir(&strSaved);

    NyConfig config;
    ASSERT_TRUE(config.LoadConfigParameters(0));
    EXPECT_EQ(strLaptop, config.m_strApplicationPath);
    ASSERT_TRUE(config.LoadConfigParameters(1));
    EXPECT_EQ(m_Dir.Path() + "/Game/zhcn/", config.m_strApplicationPath);
    EXPECT_EQ("2.0", config.m_strVersion);
    std::string strCurrent;
    Pf_GetCurrentDir(&strCurrent);
    EXPECT_EQ(m_Dir.Path() + "/Game/zhcn", strCurrent);
    Pf_SetCurrentDir(strSaved);

    std::string strPath = "no separator";
    EXPECT_FALSE(Rv_AdjustApplicationPath(&strPath));
    strPath = "C:\\Game\\bin\\R.exe";
    EXPECT_TRUE(Rv_AdjustApplicationPath(&strPath));
    EXPECT_EQ("C:\\Game\\bin\\R.exe", strPath);
    strPath = m_Dir.Path() + "/nosuch/laptop/R.exe";   // no "zhcn" to enter
    EXPECT_FALSE(Rv_AdjustApplicationPath(&strPath));
}
