// The reporter's DirectX probes, its environment of the moment and the
// configured version, over simulated machines: a system folder with a
// stamped dxdiag.exe, a private registry, the diagnostics provider's fact.
#include "config/application_path.h"
#include "platform/registry.h"
#include "tests/support/version_stamp.h"
#include "tests/telemetry/probes/probe_access.h"

#include <regex>

typedef NyClientReportTestAccess Access;

class DirectXProbes : public ProbeMachine {
protected:
    void SetUp() override
    {
        ProbeMachine::SetUp();
        Pf_CreateDirChain(m_Dir.File("system"));
        Fact("system_dir", m_Dir.File("system"));
    }
    // dxdiag.exe of that version; "" removes it.
    void DxDiag(const std::string& strVersion)
    {
        if (strVersion.empty())
            Pf_DeleteFile(m_Dir.File("system/dxdiag.exe"));
        else
            Rv_TestWriteFile(m_Dir.File("system/dxdiag.exe"), std::string(300, '\x90') + Rv_TestVersionStamp(strVersion));
    }
    // The registry's DirectX version; "" removes the key's value file.
    void Register(const std::string& strVersion)
    {
        Pf_RegKey key;
        ASSERT_EQ(ERROR_SUCCESS, key.Create(PF_HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\DirectX"));
        ASSERT_EQ(ERROR_SUCCESS, key.SetString("Version", strVersion));
    }
};

TEST_F(DirectXProbes, DxDiagVersionsNameOnlyTheirExactRows)
{
    struct Case {
        const char* cszVersion;
        const char* cszText;
        int bDx11;
    } aCases[] = {
        {"6.00.6000.16386", "DirectX 10", 0},
        {"6.0.6001.18000", "DirectX 10", 0},
        {"6.01.7000.0000", "DirectX 11", 1},
        {"6.1.7601.17514", "<failed>", 1},
        {"10.0.19041.1", "<failed>", 1},
        {"5.3.2600.5512", "<failed>", 0},
    };
    for (const Case& c : aCases) {
        DxDiag(c.cszVersion);
        EXPECT_EQ(c.cszText, Probe(Access::DxDiagVersionInfo())) << c.cszVersion;
        EXPECT_EQ(c.bDx11, Access::IsDx11Installed(m_Report)) << c.cszVersion;
    }
    DxDiag("");
    EXPECT_EQ("<failed>", Probe(Access::DxDiagVersionInfo()));
    EXPECT_EQ(0, Access::IsDx11Installed(m_Report));
    EXPECT_NE(std::string::npos, m_Log.Text().find("nRetCode && \"Rv_GetApplicationFileVersionNumber()\""));
}

TEST_F(DirectXProbes, RegisterVersionsNameOnlyTheirExactRows)
{
    struct Case {
        const char* cszVersion;
        const char* cszText;
        int bDx9;
    } aCases[] = {
        {"4.08.01.0810", "DirectX 8.1", 0},  {"4.08.01.0881", "DirectX 8.1", 0},  {"4.08.01.0901", "DirectX 8.1a", 0},
        {"4.08.02.0134", "DirectX 8.2", 0},  {"4.09.00.0900", "DirectX 9.0", 1},  {"4.09.00.0901", "DirectX 9.0a", 1},
        {"4.09.00.0902", "DirectX 9.0b", 1}, {"4.09.00.0903", "DirectX 9.0c", 1}, {"4.09.00.0904", "DirectX 9.0c", 1},
        {"4.9.0.904", "DirectX 9.0c", 1},    {"4.09.00.0905", "<failed>", 0},     {"banana", "<failed>", 0},
    };
    for (const Case& c : aCases) {
        Register(c.cszVersion);
        EXPECT_EQ(c.cszText, Probe(Access::DxVersionInfoInRegister())) << c.cszVersion;
        EXPECT_EQ(c.bDx9, Access::IsDx9Installed(m_Report)) << c.cszVersion;
    }
}

TEST_F(DirectXProbes, DirectXTextTakesDxDiagThenTheRegistry)
{
    Register("4.09.00.0904");
    DxDiag("6.01.7000.0000");
    EXPECT_EQ("DirectX 11", Probe(Access::DirectXVersionInfo()));
    DxDiag("6.1.7601.17514");
    EXPECT_EQ("DirectX 9.0c", Probe(Access::DirectXVersionInfo()));
    Register("4.09.00.0905");
    EXPECT_EQ("<failed>", Probe(Access::DirectXVersionInfo()));
    EXPECT_NE(std::string::npos, m_Log.Text().find("nRetCode && \"_GetDxVersionInfoInRegister()\""));
}

TEST_F(DirectXProbes, DirectXTextExTakesTheProviderThenTheRegistry)
{
    Register("4.09.00.0902");
    // No provider: the registry answers.
    EXPECT_EQ("DirectX 9.0b", Probe(Access::DirectXVersionInfoEx()));
    Fact("dxdiag_directx_version", "DirectX 12");
    EXPECT_EQ("DirectX 12", Probe(Access::DirectXVersionInfoEx()));
    // A provider without the property gives an empty text, not the registry's.
    Fact("dxdiag_directx_version", "");
    EXPECT_EQ("", Probe(Access::DirectXVersionInfoEx()));
    // 254 characters fit, 255 do not; the registry then answers.
    Fact("dxdiag_directx_version", std::string(254, 'd'));
    EXPECT_EQ(std::string(254, 'd'), Probe(Access::DirectXVersionInfoEx()));
    Fact("dxdiag_directx_version", std::string(255, 'd'));
    EXPECT_EQ("DirectX 9.0b", Probe(Access::DirectXVersionInfoEx()));
    EXPECT_NE(std::string::npos, m_Log.Text().find("nLen < _countof(szPropValue)"));
    EXPECT_FALSE((m_Report.*Access::DirectXVersionInfoEx())(nullptr));
}

TEST_F(DirectXProbes, EnvironmentGivesLoadFreeMemoryAndPresence)
{
    Fact("sleep_divisor", "1000");
    MachineFile("/proc/meminfo", "MemTotal: 2000 kB\nMemAvailable: 1500 kB\n");
    Register("4.09.00.0903");
    DxDiag("6.1.7601.17514");
    std::string strCpu, strFree, strDx9, strDx11;
    EXPECT_TRUE(Access::GetEnvironment(m_Report, &strCpu, &strFree, &strDx9, &strDx11));
    EXPECT_TRUE(std::regex_match(strCpu, std::regex("[0-9]{1,2}|100"))) << strCpu;
    EXPECT_EQ("1536000", strFree);
    EXPECT_EQ("1", strDx9);
    EXPECT_EQ("1", strDx11);

    // Nothing to measure or read: zeros, and still a success.
    Fact("missing_calls", "GetSystemTimes\n");
    Pf_DeleteFile(MachinePath("/proc/meminfo"));
    Register("4.08.02.0134");
    DxDiag("");
    EXPECT_TRUE(Access::GetEnvironment(m_Report, &strCpu, &strFree, &strDx9, &strDx11));
    EXPECT_EQ("0", strCpu);
    EXPECT_EQ("0", strFree);
    EXPECT_EQ("0", strDx9);
    EXPECT_EQ("0", strDx11);
}

TEST_F(DirectXProbes, ConfiguredVersionAndDx11Switch)
{
    Rv_SetApplicationNameForTest(m_Dir.File("client/Refitter.exe"));
    Rv_TestWriteFile(m_Dir.File("client/version.cfg"), "[Version]\nTalon5.version=1.0-2,3\n");
    Rv_TestWriteFile(m_Dir.File("client/config.ini"), "[Main]\nUse3DEngineDX11_IfExist=1\n");
    EXPECT_EQ("1.0.2.3", Probe(Access::CurrentVersionNumber()));
    EXPECT_EQ(1, Access::IsDx11Enable(m_Report));
    Rv_TestWriteFile(m_Dir.File("client/version.cfg"), "[Version]\n");
    Rv_TestWriteFile(m_Dir.File("client/config.ini"), "[Main]\nUse3DEngineDX11_IfExist=0\n");
    EXPECT_EQ("", Probe(Access::CurrentVersionNumber()));
    EXPECT_EQ(0, Access::IsDx11Enable(m_Report));
    Rv_SetApplicationNameForTest("");
}
