// A simulated machine for the tests of the update steps, the installers and
// the system checks: "sim/" with a healthy desktop's facts, the DirectX
// libraries in "system/", the registry store in "registry/", the updater at
// "game/client/Refitter.exe" and the current folder in its folder.
#pragma once
#include "app/load_string.h"
#include "config/application_path.h"
#include "platform/file.h"
#include "platform/message_box.h"
#include "platform/registry.h"
#include "tests/foundation/log_capture.h"
#include "tests/support/temp_dir.h"
#include "tests/support/update_client.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

class SimulatedMachine : public ::testing::Test {
protected:
    void SetUp() override
    {
        char szOld[4096];
        ASSERT_NE(nullptr, getcwd(szOld, sizeof(szOld)));
        m_strOldDir = szOld;
        Pf_CreateDirChain(App(""));
        Rv_SetApplicationNameForTest(App("Refitter.exe"));
        ASSERT_EQ(0, chdir(App("").c_str()));
        setenv("RV_SIM_ROOT", m_Dir.File("sim").c_str(), 1);
        setenv("RV_REGISTRY_DIR", m_Dir.File("registry").c_str(), 1);
        Rv_TestWriteDesktopFacts(m_Dir.File("sim"));
        Fact("sleep_divisor", "100");
        Fact("free_bytes", "100000000000");
        Fact("system_dir", m_Dir.File("system"));
        for (const char* cszLibrary : s_aszD3DX9)
            Rv_TestWriteFile(m_Dir.File("system/") + cszLibrary, "");
        m_Log.emplace(m_Dir);
    }
    void TearDown() override
    {
        m_Log.reset();
        unsetenv("RV_SIM_ROOT");
        unsetenv("RV_REGISTRY_DIR");
        Rv_SetApplicationNameForTest("");
        (void)!chdir(m_strOldDir.c_str());
    }

    void Fact(const std::string& strName, const std::string& strValue)
    {
        Rv_TestWriteFile(m_Dir.File("sim/" + strName), strValue + "\n");
    }
    // The client's folder, with a final "/".
    std::string App(const std::string& strName) const { return m_Dir.File("game/client/" + strName); }
    std::string Boxes() const { return Rv_TestReadFile(m_Dir.File("sim/msgbox_transcript")); }
    std::string Started() const { return Rv_TestReadFile(m_Dir.File("sim/started_commands")); }
    std::string LogText() const { return m_Log->Text(); }
    // The transcript line of a box with string-table texts, answered OK.
    static std::string Box(unsigned uTextId, unsigned uType)
    {
        char szText[RVU_STRING_BUFFER_SIZE];
        char szCaption[RVU_STRING_BUFFER_SIZE];
        return Pf_MessageBoxLine(RVU_LoadString(szText, uTextId), RVU_LoadString(szCaption, 122), uType, PF_IDOK) +
               "\n";
    }
    static std::string Text(unsigned uId)
    {
        char szText[RVU_STRING_BUFFER_SIZE];
        return RVU_LoadString(szText, uId);
    }
    // A shell script that stands for an outside program.
    static void WriteScript(const std::string& strPath, const std::string& strBody)
    {
        Rv_TestWriteFile(strPath, "#!/bin/sh\n" + strBody + "\n");
        chmod(strPath.c_str(), 0755);
    }
    // A string value of HKEY_LOCAL_MACHINE, or "<none>".
    static std::string RegValue(const std::string& strKey, const std::string& strName)
    {
        Pf_RegKey key;
        char szValue[1024];
        if (key.Open(PF_HKEY_LOCAL_MACHINE, strKey) != ERROR_SUCCESS ||
            key.QueryString(strName, szValue, sizeof(szValue)) != ERROR_SUCCESS)
            return "<none>";
        return szValue;
    }

    static constexpr const char* s_aszD3DX9[] = {"D3DX9_40.dll", "D3DX9_41.dll", "D3DX9_42.dll", "D3DX9_43.dll"};
    Rv_TestTempDir m_Dir;
    std::optional<Rv_TestLogCapture> m_Log;
    std::string m_strOldDir;
};
