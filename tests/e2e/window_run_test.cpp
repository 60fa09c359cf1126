// The updater's window in runs of the built Refitter.exe with the scripted
// movie: the commands at window ready and the "-q" quit, the question before
// a download is stopped, starting the game and its configuration tool, the
// skin, unknown calls, the window copy of a self-update waiting for its
// parent's word, the steps before the window, and the warnings and registry
// values after the update.
#include "foundation/registry_value.h"
#include "platform/app_compat.h"
#include "platform/process.h"
#include "platform/thread.h"
#include "tests/e2e/update_run_fixture.h"
#include "tests/support/sync_server_builder.h"

#include <chrono>
#include <thread>

namespace {

class WindowRun : public UpdateRoad {
protected:
    // The first lines of the transcript.
    std::vector<std::string> FirstLines(size_t uCount)
    {
        std::vector<std::string> vecLines;
        std::string strText = Transcript();
        size_t uPos = 0;
        while (vecLines.size() < uCount && uPos < strText.size()) {
            size_t uEnd = strText.find('\n', uPos);
            vecLines.push_back(strText.substr(uPos, uEnd - uPos));
            uPos = uEnd == std::string::npos ? strText.size() : uEnd + 1;
        }
        return vecLines;
    }
    // Waits up to five seconds for a file that another process writes.
    bool WaitForFile(const std::string& strPath)
    {
        for (int i = 0; i < 100 && !Pf_PathExists(strPath); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return Pf_PathExists(strPath);
    }
    void WriteStub(const std::string& strName, const std::string& strBody)
    {
        Rv_TestWriteFile(Client(strName), "#!/bin/sh\n" + strBody + "\n");
        int nStatus = -1;
        Rv_TestRun("chmod +x '" + Client(strName) + "'", &nStatus);
        ASSERT_EQ(0, nStatus);
    }
};

const char* const s_cszUpdateFailed = "更新失败！";

} // namespace

// "-q" closes by itself once the client is found up to date; the window-ready
// commands come first, in their order.
TEST_F(WindowRun, WindowReadyCommandsThenQuitWhenLatest)
{
    Rv_TestWritePatchServer(Server(""), "1.0", {});
    Rv_TestWriteFile(Client("refitter.ini"),
                     "[server_1]\nip=" + m_Server.Url("/") + "\nbulletin=http://news.example/?a=1&b=2\n[Skin]\nid=3\n");
    SetScript("");
    EXPECT_EQ(0, Run("-q"));
    const std::vector<std::string> vecExpected = {
        "GetUrlOfConfig\thttp://news.example/?a=1&b=2",
        "CallBackSetFistMotion\t0",
        "SetUpdateState\t0",
        "SkinID\t3",
        "SetTxtVersion\tDemo: 1.0>>>   1.0",
        "SetUpdateState\t0",
        "SetTxtM\t正在准备自更新...",
    };
    EXPECT_EQ(vecExpected, FirstLines(vecExpected.size())) << Transcript();
    EXPECT_TRUE(Shows("SetTxtM\t客户端已是最新版本，无需更新")) << Transcript();
}

// Closing while patches download asks first; "No" keeps the download, "Yes"
// stops it and nothing of the patch reaches the client.
TEST_F(WindowRun, CloseDuringTheDownloadAsksFirst)
{
    Rv_TestServerPatch Patch = PlainPatch("1.0", "1.1", {{"a.txt", "new"}});
    Rv_TestWritePatchServer(Server(""), "1.1", {Patch});
    Rv_TestHttpFault hold;
    hold.bHold = true;
    m_Server.SetFault("/zhcn/" + Patch.strName, hold);
    Rv_TestWriteFile(m_Dir.File("sim/msgbox_answers"), "no\nyes\n");
    SetScript("on SetUpdateState 3 call CloseWindow every 300\n");

    EXPECT_EQ(0, Run());
    const std::string strBoxes = Rv_TestReadFile(m_Dir.File("sim/msgbox_transcript"));
    const std::string strQuestion = "正在下载更新文件，是否中断下载？";
    size_t uFirst = strBoxes.find(strQuestion);
    ASSERT_NE(std::string::npos, uFirst) << strBoxes;
    EXPECT_NE(std::string::npos, strBoxes.find(strQuestion, uFirst + 1)) << strBoxes;
    EXPECT_FALSE(Pf_PathExists(Client("a.txt")));
    EXPECT_EQ("1.0", InstalledVersion());
}

TEST_F(WindowRun, StartGameStartsTheClientWithItsMarker)
{
    Rv_TestWritePatchServer(Server(""), "1.0", {});
    WriteStub("QV7Client.exe", "echo \"$@\" > \"$(dirname \"$0\")/args.txt\"");
    SetScript("on SetUpdateState 1 call StartGame\n");
    EXPECT_EQ(0, Run());
    ASSERT_TRUE(WaitForFile(Client("args.txt"))) << Logs();
    EXPECT_EQ("DOTNOTSTARTGAMEBYQV7CLIENT.EXE\n", Rv_TestReadFile(Client("args.txt")));
    const std::string strMarker = Rv_TestReadFile(Client("QV7Client.exe.eec"));
    ASSERT_EQ(16u, strMarker.size());
    EXPECT_EQ(std::string("\x01\x00\x00\x00", 4), strMarker.substr(12));
}

TEST_F(WindowRun, ConfigToolSkinAndUnknownCalls)
{
    Rv_TestWritePatchServer(Server(""), "1.0", {});
    WriteStub("GameConfig.exe", "echo ran > \"$(dirname \"$0\")/tool.txt\"");
    SetScript("on SetUpdateState 1 call OptionGame\non SetUpdateState 1 call SetSkinID 9\n"
              "on SetUpdateState 1 call NoSuchCall\non SetUpdateState 1 call CloseWindow after 300\n");
    EXPECT_EQ(0, Run());
    EXPECT_TRUE(WaitForFile(Client("tool.txt"))) << Logs();
    EXPECT_NE(std::string::npos, Rv_TestReadFile(Client("refitter.ini")).find("id=9"));
    EXPECT_NE(std::string::npos, Logs().find("Unknown callback function name: NoSuchCall"));
}

// The window copy of a self-update waits for one of its two events; a
// parent that ends without signalling ends the wait as a failed update.
TEST_F(WindowRun, SelfUpdateWindowWaitsForItsParent)
{
    Rv_TestWritePatchServer(Server(""), "1.0", {});
    struct Case {
        const char* cszWhat;
        int nSignal;            // 0 the success event, 1 the failure event, -1 none
        bool bLatest;           // the run reaches "latest"
    } aCases[] = {
        {"success", 0, true},
        {"failure", 1, false},
        {"parent gone", -1, false},
    };
    for (const Case& c : aCases) {
        Pf_DeleteFile(m_Dir.File("sim/movie_transcript"));
        Rv_TestRun("rm -rf '" + Client("logs") + "'");
        m_Server.ClearFaults();
        const size_t uListRequests = m_Server.RequestsFor("/zhcn/autoupdateentry.txt").size();
        Pf_Event success, failed;
        ASSERT_TRUE(success.Init(0, 0, 1));
        ASSERT_TRUE(failed.Init(0, 0, 1));
        Pf_Event* apInherit[] = {&success, &failed};
        const std::string strArguments = " -w " + Pf_EventHandleText(success) + " " + Pf_EventHandleText(failed);
        // Without a signal, the window's parent is a shell that leaves after a second.
        const std::string strCommand =
            c.nSignal < 0 ? "/bin/sh -c \"'" + Client("Refitter.exe") + "'" + strArguments +
                                " </dev/null >/dev/null 2>&1 & sleep 1\""
                          : "\"" + Client("Refitter.exe") + "\"" + strArguments;
        Pf_Process process;
        ASSERT_TRUE(process.Start(strCommand, "/", apInherit, 2)) << c.cszWhat;
        if (c.nSignal == 0)
            success.Set();
        else if (c.nSignal == 1)
            failed.Set();
        int nExitCode = -1;
        ASSERT_TRUE(process.Wait(60000, &nExitCode)) << c.cszWhat;
        EXPECT_EQ(0, nExitCode) << c.cszWhat;
        if (c.nSignal < 0) {
            // The window itself ends once it has shown the error.
            for (int i = 0; i < 200 && Logs().find("Refitter exit !") == std::string::npos; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            EXPECT_NE(std::string::npos, Logs().find("The self-updating process ended without a signal."))
                << c.cszWhat;
        }
        EXPECT_EQ(c.bLatest, Shows("SetTxtM\t客户端已是最新版本，无需更新")) << c.cszWhat << "\n" << Transcript();
        EXPECT_EQ(!c.bLatest, ShowsError(s_cszUpdateFailed)) << c.cszWhat << "\n" << Transcript();
        EXPECT_EQ(uListRequests + (c.bLatest ? 1 : 0), m_Server.RequestsFor("/zhcn/autoupdateentry.txt").size())
            << c.cszWhat;
    }
}

// After an update on a laptop running on its battery the movie gets the
// power warning before the end state, and the installation's registry
// values name the new version and the client's folder.
TEST_F(WindowRun, AfterTheUpdateWarningsAndRegistryValues)
{
    Rv_TestWritePatchServer(Server(""), "1.1", {PlainPatch("1.0", "1.1", {{"a.txt", "new"}})});
    // The run ends complete after the file synchronisation.
    Rv_TestWriteFile(Client("refitter.ini"),
                     "[server_1]\nip=" + m_Server.Url("/") + "\nSyncFileURL=" + m_Server.Url("/sync/") + "\n");
    Rv_TestSyncServerBuilder Sync;
    Sync.AddFile("game\\client\\res\\same.txt", "same", Rv_TestSyncTime(100));
    ASSERT_TRUE(Sync.Write(m_Dir.File("www/sync")));
    Rv_TestWriteFile(m_Dir.File("sim/ac_line"), "0\n");
    Rv_TestWriteFile(m_Dir.File("sim/battery_percent"), "37\n");
    EXPECT_EQ(0, Run());
    EXPECT_EQ("1.1", InstalledVersion()) << Logs();
    const std::string strWarning = "SetStatusWarnning\t0|程序检测到您的笔记本没有连接电源。\n"
                                   "为达到更加流畅的游戏好效果，请为您的笔记本接上电源！\n";
    const std::string strText = Transcript();
    size_t uWarning = strText.find(strWarning);
    ASSERT_NE(std::string::npos, uWarning) << strText;
    EXPECT_EQ(uWarning + strWarning.size(), strText.find("SetUpdateState\t1\n", uWarning)) << strText;

    char szValue[512];
    ASSERT_TRUE(Rv_GetStringValueFromRegister("zhcn", "version", szValue, sizeof(szValue)));
    EXPECT_STREQ("1.1", szValue);
    ASSERT_TRUE(Rv_GetStringValueFromRegister("zhcn", "installPath", szValue, sizeof(szValue)));
    EXPECT_EQ(Client(""), szValue);
    ASSERT_TRUE(Rv_GetStringValueFromRegister("zhcn", "UUIDEx", szValue, sizeof(szValue)));
    EXPECT_EQ(32u, strlen(szValue));
}

// Up to date on a healthy desktop: no warning, and the values are written all the same.
TEST_F(WindowRun, LatestWritesTheRegistryValuesWithoutWarning)
{
    Rv_TestWritePatchServer(Server(""), "1.0", {});
    EXPECT_EQ(0, Run());
    EXPECT_EQ(std::string::npos, Transcript().find("SetStatusWarnning")) << Transcript();
    char szValue[512];
    ASSERT_TRUE(Rv_GetStringValueFromRegister("zhcn", "version", szValue, sizeof(szValue)));
    EXPECT_STREQ("1.0", szValue);
}

// Before the window: a missing Flash control is installed from the
// installation's "3rdParty" folder, and on Windows 7 the executable gets its
// mouse compatibility layer.
TEST_F(WindowRun, BeforeTheWindowFlashIsInstalledAndTheMouseFlagSet)
{
    Rv_TestWritePatchServer(Server(""), "1.0", {});
    Rv_TestWriteFile(m_Dir.File("sim/player_version"), "none\n");
    Rv_TestWriteFile(m_Dir.File("sim/os_version"), "6.1.7601\n");
    const std::string strInstaller = m_Dir.File("3rdParty/install_flash_player_10_active_x.exe");
    Rv_TestWriteFile(strInstaller, "#!/bin/sh\necho 11.2 > '" + m_Dir.File("sim/player_version") + "'\n");
    int nStatus = -1;
    Rv_TestRun("chmod +x '" + strInstaller + "'", &nStatus);
    ASSERT_EQ(0, nStatus);

    EXPECT_EQ(0, Run());
    EXPECT_EQ("11.2", Rv_TestReadFile(m_Dir.File("sim/player_version")).substr(0, 4));
    EXPECT_TRUE(Shows("SetTxtM\t客户端已是最新版本，无需更新")) << Transcript() << Logs();
    EXPECT_EQ("", Rv_TestReadFile(m_Dir.File("sim/msgbox_transcript")));

    Pf_RegKey key;
    char szValue[64];
    ASSERT_EQ(ERROR_SUCCESS, key.Open(PF_HKEY_LOCAL_MACHINE, g_cszPfAppCompatLayersKey));
    ASSERT_EQ(ERROR_SUCCESS, key.QueryString(Client("Refitter.exe"), szValue, sizeof(szValue)));
    EXPECT_STREQ("NoDTToDITMouseBatch", szValue);
    EXPECT_EQ("Rundll32 apphelp.dll,ShimFlushCache\n", Rv_TestReadFile(m_Dir.File("sim/started_commands")));
}
