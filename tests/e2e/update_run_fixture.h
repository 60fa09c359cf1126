// The client tree, server and runs shared by the end-to-end tests of whole
// update runs: a client at <root>/game/client (package folder <root>/pakV3)
// with its "version.cfg" and "refitter.ini", the loopback server's folder for
// the version line "zhcn" at <root>/www/zhcn, a simulated machine with the
// DirectX libraries and a scripted movie, and the transcript of the movie.
#pragma once
#include "platform/file.h"
#include "tests/support/http_server.h"
#include "tests/support/patch_builder.h"
#include "tests/support/patch_list_builder.h"
#include "tests/support/temp_dir.h"
#include "tests/support/update_client.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <utility>
#include <vector>

inline std::string Rv_TestE2EPatchName(const std::string& strFrom, const std::string& strTo)
{
    return "p_c_" + strFrom + "-to-" + strTo + "_.zip";
}

class UpdateRoad : public ::testing::Test {
protected:
    void SetUp() override
    {
        Rv_TestPrepareSimMachine(m_Dir);

        Pf_CreateDirChain(Client(""));
        int nStatus = -1;
        Rv_TestRun("cp '" RV_BINARY_DIR "/bin/Refitter.exe' '" + Client("Refitter.exe") + "'", &nStatus);
        ASSERT_EQ(0, nStatus);
        Rv_TestWriteFile(Client("version.cfg"), Rv_TestVersionCfg("1.0"));
        m_Server.Start();
        PointAt(m_Server.Url("/"));
    }
    void TearDown() override
    {
        m_Server.Stop();
        unsetenv("RV_SIM_ROOT");
        unsetenv("RV_EVENT_PREFIX");
        unsetenv("RV_REGISTRY_DIR");
    }
    // A run on a real machine: no simulated machine, and the home, the XDG
    // folders, the runtime folder and the registry store in the test's
    // folder; the reports go to the test's server. The values to set (the
    // folders are made), and UnsimulatedNames() the ones to unset.
    std::vector<std::pair<std::string, std::string>> UnsimulatedEnvironment()
    {
        const std::string strHome = m_Dir.File("home");
        Pf_CreateDirChain(strHome + "/.local/share");
        Pf_CreateDirChain(m_Dir.File("runtime"));
        chmod(m_Dir.File("runtime").c_str(), 0700);
        return {{"HOME", strHome},
                {"XDG_DATA_HOME", strHome + "/.local/share"},
                {"XDG_CONFIG_HOME", strHome + "/.config"},
                {"XDG_CACHE_HOME", strHome + "/.cache"},
                {"XDG_RUNTIME_DIR", m_Dir.File("runtime")},
                {"RV_REGISTRY_DIR", m_Dir.File("registry")},
                {"RV_REPORT_SERVICE", m_Server.HostPort()},
                {"RV_CHANNEL_SERVICE", m_Server.HostPort()}};
    }
    static std::vector<std::string> UnsimulatedNames() { return {"RV_SIM_ROOT", "RV_EVENT_PREFIX", "RV_CRASH_AT_STEP"}; }
    void PointAt(const std::string& strURL)
    {
        Rv_TestWriteFile(Client("refitter.ini"), "[server_1]\nip=" + strURL + "\n");
    }
    std::string Client(const std::string& strName) { return m_Dir.File("game/client/" + strName); }
    std::string Server(const std::string& strName) { return m_Dir.File("www/zhcn/" + strName); }
    // A patch whose only items are plain files and its version.cfg.
    Rv_TestServerPatch PlainPatch(const std::string& strFrom, const std::string& strTo,
                                  const std::vector<std::pair<std::string, std::string>>& vecFiles)
    {
        Rv_TestPatchBuilder Builder;
        for (const auto& file : vecFiles)
            Builder.AddFile(file.first, file.second);
        Builder.AddVersionFile(Rv_TestVersionCfg(strTo));
        return Zip(Rv_TestE2EPatchName(strFrom, strTo), Builder);
    }
    Rv_TestServerPatch Zip(const std::string& strName, const Rv_TestPatchBuilder& Builder)
    {
        std::string strZip = m_Dir.File("zips/" + strName);
        Pf_CreateDirChain(m_Dir.File("zips"));
        EXPECT_TRUE(Builder.Write(strZip));
        return Rv_TestServerPatch{strName, "", strZip, ""};
    }
    // Runs the updater with shell-quoted arguments; its exit code.
    int Run(const std::string& strArguments = "-a")
    {
        int nStatus = -1;
        Rv_TestRun("cd / && timeout 120 '" + Client("Refitter.exe") + "' " + strArguments + " </dev/null >/dev/null 2>&1",
                   &nStatus);
        return nStatus;
    }
    // Runs "-a" with writes past ullBytes of any file failing (EFBIG, the
    // signal ignored); its exit code.
    int RunUnderFileSizeLimit(uint64_t ullBytes)
    {
        int nStatus = -1;
        Rv_TestRun("cd / && trap '' XFSZ && timeout 120 prlimit --fsize=" + std::to_string(ullBytes) + " '" +
                       Client("Refitter.exe") + "' -a </dev/null >/dev/null 2>&1",
                   &nStatus);
        return nStatus;
    }
    // Runs "-a" killed at its nStep-th crash point: 137 when it was killed,
    // its own exit code when it got past every crash point.
    int RunKilledAt(int nStep)
    {
        setenv("RV_CRASH_AT_STEP", std::to_string(nStep).c_str(), 1);
        const int nExit = Run();
        unsetenv("RV_CRASH_AT_STEP");
        return nExit;
    }
    void SetScript(const std::string& strScript) { Rv_TestWriteFile(m_Dir.File("sim/movie_script"), strScript); }
    std::string Transcript() { return Rv_TestReadFile(m_Dir.File("sim/movie_transcript")); }
    std::string Logs() { return Rv_TestRun("cat '" + Client("") + "'logs/Refitter/*/*.log 2>/dev/null"); }
    bool Shows(const std::string& strLine) { return Transcript().find(strLine + "\n") != std::string::npos; }
    // The error shown: the state "1" follows the error's text.
    bool ShowsError(const char* cszText) { return Shows(std::string("SetTxtVersion\t") + cszText); }
    std::string InstalledVersion() { return Rv_TestInstalledVersion(Client("version.cfg")); }

    Rv_TestTempDir m_Dir;
    Rv_TestHttpServer m_Server{m_Dir.File("www")};
};
