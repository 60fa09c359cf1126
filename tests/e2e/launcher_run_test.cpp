// Runs of the built Refitter.exe as a launcher starts it on a real machine:
// no simulated machine at all (the user's stores, the runtime folder and
// the home kept in the test's folder, the update server and the report
// services on loopback), no
// standard streams, and command-line values that are not our events.
#include "tests/e2e/update_run_fixture.h"

#include "foundation/process_count.h"
#include "platform/clock.h"

namespace {

const char* const s_cszLatestText = "客户端已是最新版本，无需更新";
const char* const s_cszUpdateFailed = "更新失败！";

class LauncherRun : public UpdateRoad {
protected:
    // Runs the client's updater with no RV_SIM_ROOT, from a launcher without
    // a terminal (strStreams: where its standard streams go); its exit code
    // (124 when it did not end by itself).
    int RunUnsimulated(const std::string& strArguments, const std::string& strStreams = "</dev/null >/dev/null 2>&1")
    {
        std::string strEnv = "env";
        for (const std::string& strName : UnsimulatedNames())
            strEnv += " -u " + strName;
        for (const auto& value : UnsimulatedEnvironment())
            strEnv += " " + value.first + "='" + value.second + "'";
        int nStatus = -1;
        Rv_TestRun("cd / && " + strEnv + " timeout 120 '" + Client("Refitter.exe") + "' " + strArguments + " " +
                       strStreams,
                   &nStatus);
        return nStatus;
    }
    bool Requested(const std::string& strName)
    {
        for (const Rv_TestHttpRequest& request : m_Server.Requests()) {
            if (request.strPath.find(strName) != std::string::npos)
                return true;
        }
        return false;
    }
};

} // namespace

// An up-to-date client on a machine whose system folder holds no Windows
// libraries: "-q" ends by itself, fetches no DirectX package and asks nothing.
TEST_F(LauncherRun, UpToDateClientQuitsWithoutDirectXOrBoxes)
{
    Rv_TestWritePatchServer(Server(""), "1.0", {});
    Rv_TestPatchBuilder DirectX;
    DirectX.AddRawItem("DXSETUP.txt", "setup");
    ASSERT_TRUE(DirectX.Write(Server("dx9_43.zip")));

    EXPECT_EQ(0, RunUnsimulated("-q")) << Logs();
    EXPECT_EQ(1u, m_Server.RequestsFor("/zhcn/autoupdateentry.txt").size()) << Logs();
    EXPECT_FALSE(Requested("dx9_43.zip"));
    // The reports went to the test's own service, none to the built-in one.
    EXPECT_TRUE(Requested("/gamereport/"));
    std::string strLogs = Logs();
    EXPECT_EQ(std::string::npos, strLogs.find("report.refitter.net")) << strLogs;
    EXPECT_NE(std::string::npos, strLogs.find(s_cszLatestText)) << strLogs;
    EXPECT_EQ(std::string::npos, strLogs.find("MessageBox ")) << strLogs;
    EXPECT_NE(std::string::npos, strLogs.find("Refitter exit !")) << strLogs;
    EXPECT_EQ("1.0", InstalledVersion());
    EXPECT_FALSE(Pf_PathExists(m_Dir.File("3rdParty")));
    // Nothing of the run's own is left in the client's folder.
    EXPECT_EQ("", Rv_TestRun("cd '" + Client("") + "' && ls -A | grep -v -x -e Refitter.exe -e version.cfg -e refitter.ini "
                             "-e logs -e update"));
}

// Started with every standard stream closed, the self-update still hands
// over to its window copy, which shows the client up to date and ends by
// itself once its work has ended.
TEST_F(LauncherRun, ClosedStandardStreamsStillHandOver)
{
    Rv_TestWritePatchServer(Server(""), "1.0", {});
    Rv_TestWriteFile(Server("updaterV2/updaterversion.txt"), "[version]\nLatestVersion=1.0.0.1\n[updatefilelist]\n");
    EXPECT_EQ(0, RunUnsimulated("", "<&- >&- 2>&-"));
    unsigned uCount = 1;
    for (int i = 0; i < 600 && Rv_GetProcessCount(Client("Refitter.exe").c_str(), &uCount) && uCount > 0; ++i)
        Pf_Sleep(100);
    EXPECT_EQ(0u, uCount) << "the window copy did not end by itself";
    const std::string strLogs = Logs();
    EXPECT_NE(std::string::npos, strLogs.find(std::string("Movie command: SetTxtM(") + s_cszLatestText + ")")) << strLogs;
    EXPECT_NE(std::string::npos, strLogs.find("Update with the window, mode 1.")) << strLogs;
    EXPECT_NE(std::string::npos, strLogs.find("Movie: the work has ended")) << strLogs;
}

// "-w" with values that are not the self-update's events: the window runs,
// its wait fails, and it shows the failed update without asking the server.
TEST_F(LauncherRun, ForeignHandlesShowTheFailedUpdate)
{
    Rv_TestWritePatchServer(Server(""), "1.1", {PlainPatch("1.0", "1.1", {{"a.txt", "new"}})});
    EXPECT_EQ(0, Run("-W 0000012C 00000130"));
    EXPECT_TRUE(ShowsError(s_cszUpdateFailed)) << Transcript();
    EXPECT_TRUE(m_Server.Requests().empty());
    EXPECT_EQ("1.0", InstalledVersion());
    EXPECT_NE(std::string::npos, Logs().find("Update with the window, mode 1.")) << Logs();
    EXPECT_NE(std::string::npos, Logs().find("The handles 0000012C and 00000130 are not the self-update's events."))
        << Logs();
}
