// The updater object: the texts sent when the window is ready, statuses and
// the first-error rule, the close routine by status, the movie's named calls
// (start the game with its marker, the configuration tool, the skin), and
// the progress texts.
#include "app/ny_refitter.h"

#include "config/application_path.h"
#include "foundation/log.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "telemetry/client_report.h"
#include "tests/foundation/log_capture.h"
#include "tests/support/temp_dir.h"
#include "tests/support/update_client.h"

#include <gtest/gtest.h>

#include <optional>

#include <sys/stat.h>

#include <cstring>

namespace {

const char* const s_cszMovie = "REFITTER-MOVIE 1\ntitle T\n";

// A worker whose update ends where the test says, without an error.
class StatusWorkerRefitter : public NyRefitter {
public:
    ~StatusWorkerRefitter() override { UnInit(); }
    int nEndStatus = UPDATE_STATUS_UPDATING;

protected:
    int _RunUpdateFlows() override
    {
        _SetStatusCode(nEndStatus);
        return 1;
    }
};

class NyRefitterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_strApp = m_Dir.Path() + "/Game Dir/bin/";
        Pf_CreateDirChain(m_strApp);
        Rv_SetApplicationNameForTest(m_strApp + "Refitter.exe");
        setenv("RV_SIM_ROOT", m_Dir.File("sim").c_str(), 1);
        Rv_TestWriteFile(m_Dir.File("sim/player_version"), "11.2");
        Rv_TestWriteFile(m_Dir.File("sim/host_64bit"), "0");
        Rv_TestWriteFile(m_Dir.File("sim/sleep_divisor"), "10");
        // The steps after an update find a healthy desktop with its DirectX libraries.
        Rv_TestWriteDesktopFacts(m_Dir.File("sim"));
        for (const char* cszLibrary : {"D3DX9_40.dll", "D3DX9_41.dll", "D3DX9_42.dll", "D3DX9_43.dll"})
            Rv_TestWriteFile(m_Dir.File("system/") + cszLibrary, "");
        Rv_TestWriteFile(m_Dir.File("sim/system_dir"), m_Dir.File("system"));
        setenv("RV_REGISTRY_DIR", m_Dir.File("registry").c_str(), 1);
        Script("");
        Rv_TestWriteFile(m_Dir.File("movie.swf"), s_cszMovie);
        m_Log.emplace(m_Dir);
    }
    void TearDown() override
    {
        // Reports started by the run end while the simulated machine still
        // points them at the closed loopback port.
        g_ClientReport.UnInit();
        m_Log.reset();
        unsetenv("RV_SIM_ROOT");
        unsetenv("RV_REGISTRY_DIR");
        Rv_SetApplicationNameForTest("");
    }
    void Script(const std::string& strRules) { Rv_TestWriteFile(m_Dir.File("sim/movie_script"), strRules); }
    void WriteConfig()
    {
        Write("version.cfg", "[Version]\nTalon5.versionName=Name 1\nTalon5.VersionLineName=zhcn\n"
                             "Talon5.version=1.0.0.5\n");
        Write("refitter.ini", "[server_1]\nip=http://u.example/\nbulletin=http://b.example/a?b=1&c=2\n"
                              "[Skin]\nid=main\n");
    }
    void Write(const std::string& strName, const std::string& strText) { Rv_TestWriteFile(m_strApp + strName, strText); }
    std::string Transcript() { return Rv_TestReadFile(m_Dir.File("sim/movie_transcript")); }
    std::string Boxes() { return Rv_TestReadFile(m_Dir.File("sim/msgbox_transcript")); }
    std::string LogText() { return m_Log->Text(); }
    int InitRefitter(NyRefitter* pRefitter) { return pRefitter->Init(m_Dir.File("movie.swf").c_str()); }
    // Delivers what is queued for the movie, as the loop does; 1 when the
    // window was asked to close.
    int Drain(NyRefitter* pRefitter)
    {
        int bQuit = 0;
        Pf_Message message;
        NyFlashWindow* pWindow = pRefitter->GetFlashWindow();
        while (pWindow->GetWindow()->Peek(&message)) {
            if (message.uMessage == WM_FLASH_QUIT)
                bQuit = 1;
            else
                pWindow->WindowProc(message);
        }
        return bQuit;
    }
    // Waits up to ten seconds for a file to appear.
    int WaitForFile(const std::string& strPath)
    {
        for (int i = 0; i < 1000 && !Pf_FileExists(strPath); ++i)
            Pf_Sleep(100);
        return Pf_FileExists(strPath);
    }
    void WriteStubClient(const std::string& strName)
    {
        Write(strName, "#!/bin/sh\necho \"$@\" > '" + m_Dir.File("client_args.tmp") + "'\nmv '" +
                           m_Dir.File("client_args.tmp") + "' '" + m_Dir.File("client_args") + "'\n");
        chmod((m_strApp + strName).c_str(), 0755);
    }

    Rv_TestTempDir m_Dir;
    std::optional<Rv_TestLogCapture> m_Log;
    std::string m_strApp;
};

TEST_F(NyRefitterTest, WindowReadySendsTheFirstTextsThenTheWorkerRuns)
{
    WriteConfig();
    Script("on SetUpdateState 1 call CloseWindow\n");
    NyRefitter refitter;
    ASSERT_TRUE(InitRefitter(&refitter));
    ASSERT_TRUE(refitter.AutoUpdate(nullptr, nullptr));
    refitter.UnInit();

    // Without the update flows in this build the worker ends in the general failure.
    EXPECT_EQ(UPDATE_ERROR_UPDATE_FAILED, refitter.GetErrorCode());
    std::string strTranscript = Transcript();
    EXPECT_EQ(0u, strTranscript.find("GetUrlOfConfig\thttp://b.example/a?b=1&c=2\n"
                                     "CallBackSetFistMotion\t0\n"
                                     "SetUpdateState\t0\n"
                                     "SkinID\tmain\n"
                                     "SetTxtVersion\tName 1: 1.0.0.5>>>   1.0.0.5\n")) // the movie reads the entities
        << strTranscript;
    EXPECT_NE(std::string::npos, strTranscript.find("SetUpdateState\t0\nSetTxtM\t正在准备自更新...\n"));
    EXPECT_NE(std::string::npos, strTranscript.find("SetTxtVersion\t更新失败！\nSetUpdateState\t1\n"));
}

TEST_F(NyRefitterTest, MissingConfigurationShowsItsError)
{
    Write("version.cfg", "[Version]\nTalon5.versionName=N\nTalon5.version=1.0.0.5\n");
    Script("on SetUpdateState 1 call CloseWindow\n");
    NyRefitter refitter;
    ASSERT_TRUE(InitRefitter(&refitter));
    ASSERT_TRUE(refitter.AutoUpdate(nullptr, nullptr));
    refitter.UnInit();

    EXPECT_EQ(UPDATE_ERROR_CONFIG_INCOMPLETE, refitter.GetErrorCode());
    EXPECT_NE(std::string::npos, Transcript().find("SetTxtVersion\t缺少必要的启动文件，启动失败！\nSetUpdateState\t1\n"));
    EXPECT_NE(std::string::npos, LogText().find("Download URL is empty."));
}

TEST_F(NyRefitterTest, OnlyTheFirstErrorStays)
{
    NyRefitter refitter;
    ASSERT_TRUE(InitRefitter(&refitter));
    ASSERT_TRUE(refitter._SetErrorCode(UPDATE_ERROR_NETWORK_BROKEN));
    ASSERT_TRUE(refitter._SetErrorCode(UPDATE_ERROR_DISK_FULL));
    EXPECT_FALSE(refitter._SetStatusCode(99));
    ASSERT_TRUE(refitter._SetStatusCode(UPDATE_STATUS_DOWNLOADING));
    Drain(&refitter);
    refitter.UnInit();

    EXPECT_EQ(UPDATE_ERROR_NETWORK_BROKEN, refitter.GetErrorCode());
    std::string strTranscript = Transcript();
    EXPECT_NE(std::string::npos, strTranscript.find("SetTxtVersion\t网络中断，请检查网络连接！\nSetUpdateState\t1\n"));
    EXPECT_EQ(std::string::npos, strTranscript.find("磁盘空间不足"));
    EXPECT_NE(std::string::npos, strTranscript.find("SetUpdateState\t3\nSetTxtM\t正在下载更新包...      \n"));
    EXPECT_NE(std::string::npos, LogText().find("Unexpected statuscode:99"));
}

TEST_F(NyRefitterTest, CloseRoutineByStatus)
{
    struct Case {
        int nStatus;
        int nError;
        const char* cszAnswer; // "" for no box expected
        int bQuits;
    };
    const Case cases[] = {
        {UPDATE_STATUS_PREPARING, UPDATE_ERROR_NONE, "", 0},
        {UPDATE_STATUS_UPDATING, UPDATE_ERROR_NONE, "", 0},
        {UPDATE_STATUS_PREPARING, UPDATE_ERROR_UPDATE_FAILED, "", 1},
        {UPDATE_STATUS_DOWNLOADING, UPDATE_ERROR_NONE, "no", 0},
        {UPDATE_STATUS_DOWNLOADING, UPDATE_ERROR_NONE, "yes", 1},
        {UPDATE_STATUS_SYNCHRONISING, UPDATE_ERROR_NONE, "no", 0},
        {UPDATE_STATUS_DOWNLOADING, UPDATE_ERROR_NETWORK_BROKEN, "", 1},
        {UPDATE_STATUS_COMPLETE, UPDATE_ERROR_NONE, "", 1},
        {UPDATE_STATUS_LATEST, UPDATE_ERROR_NONE, "", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.nStatus << " " << c.nError << " " << c.cszAnswer);
        Rv_TestWriteFile(m_Dir.File("sim/msgbox_answers"), std::string(c.cszAnswer) + "\n");
        Pf_DeleteFile(m_Dir.File("sim/msgbox_transcript"));
        NyRefitter refitter;
        ASSERT_TRUE(InitRefitter(&refitter));
        refitter._SetStatusCode(c.nStatus);
        refitter._SetErrorCode(c.nError);
        Drain(&refitter);
        EXPECT_TRUE(refitter.FlashCallback("closewindow", {}));
        EXPECT_EQ(c.bQuits, Drain(&refitter));
        std::string strBoxes = Boxes();
        if (c.cszAnswer[0])
            EXPECT_NE(std::string::npos, strBoxes.find(c.nStatus == UPDATE_STATUS_DOWNLOADING
                                                           ? "正在下载更新文件，是否中断下载？"
                                                           : "正在与服务器同步文件，是否中断同步？"))
                << strBoxes;
        else
            EXPECT_EQ("", strBoxes);
        refitter.UnInit();
    }
}

TEST_F(NyRefitterTest, WindowClosesOnceTheWorkerEndedWithoutError)
{
    WriteConfig();
    // The version line is redrawn every 500 ms, so the close is asked again and again.
    Script("on SetTxtVersion call CloseWindow\n");
    StatusWorkerRefitter refitter;
    ASSERT_TRUE(InitRefitter(&refitter));
    ASSERT_TRUE(refitter.AutoUpdate(nullptr, nullptr)); // returns only when the window closed
    EXPECT_EQ(UPDATE_STATUS_UPDATING, refitter.GetStatusCode());
    EXPECT_EQ(UPDATE_ERROR_NONE, refitter.GetErrorCode());
}

TEST_F(NyRefitterTest, QuitModeClosesByItselfWhenLatest)
{
    WriteConfig();
    StatusWorkerRefitter refitter;
    refitter.nEndStatus = UPDATE_STATUS_LATEST;
    refitter.SetQuitWhenDone(1);
    ASSERT_TRUE(InitRefitter(&refitter));
    ASSERT_TRUE(refitter.AutoUpdate(nullptr, nullptr));
    EXPECT_NE(std::string::npos, Transcript().find("SetUpdateState\t1\nSetTxtM\t客户端已是最新版本，无需更新\n"));
}

TEST_F(NyRefitterTest, ManualPatchPathMustFit)
{
    Script("on SetUpdateState 1 call CloseWindow\n");
    NyRefitter refitter;
    ASSERT_TRUE(InitRefitter(&refitter));
    EXPECT_FALSE(refitter.ManualUpdate(std::string(260, 'p').c_str()));
    EXPECT_FALSE(refitter.ManualUpdate(""));
    EXPECT_TRUE(refitter.ManualUpdate(std::string(259, 'p').c_str())); // runs until the error closes it
    refitter.UnInit();
}

TEST_F(NyRefitterTest, CallTable)
{
    NyRefitter refitter;
    ASSERT_TRUE(InitRefitter(&refitter));
    EXPECT_FALSE(refitter.FlashCallback("NoSuchCall", {}));
    EXPECT_FALSE(refitter.FlashCallback("CanMove", {}));
    EXPECT_FALSE(refitter.FlashCallback("MinWindow", {}));
    EXPECT_FALSE(refitter.FlashCallback("Print", {}));
    EXPECT_TRUE(refitter.FlashCallback("PRINT", {"x"}));
    EXPECT_FALSE(refitter.FlashCallback("ReportControlClick", {}));
    EXPECT_TRUE(refitter.FlashCallback("ReportControlClick", {"button"}));
    EXPECT_FALSE(refitter.FlashCallback("SetSkinID", {}));
    EXPECT_TRUE(refitter.FlashCallback("CheckQuit", {}));
    EXPECT_EQ(0, Drain(&refitter)); // no quit flag yet
    refitter.UnInit();
    EXPECT_NE(std::string::npos, LogText().find("Unknown callback function name: NoSuchCall"));
}

TEST_F(NyRefitterTest, SetSkinIDWritesTheMainIni)
{
    WriteConfig();
    Script("on SkinID main call SetSkinID dark\non SetUpdateState 1 call CloseWindow after 500\n");
    NyRefitter refitter;
    ASSERT_TRUE(InitRefitter(&refitter));
    ASSERT_TRUE(refitter.AutoUpdate(nullptr, nullptr));
    refitter.UnInit();
    EXPECT_NE(std::string::npos, Rv_TestReadFile(m_strApp + "refitter.ini").find("id=dark"));
}

TEST_F(NyRefitterTest, StartGameStartsTheClientWritesTheMarkerAndCloses)
{
    struct Case {
        const char* cszBetaConfig; // config.ini and BetaVersionList.ini, or null
        const char* cszClient;
        const char* cszArgs;
    };
    const Case cases[] = {
        {nullptr, "QV7Client.exe", "DOTNOTSTARTGAMEBYQV7CLIENT.EXE\n"},
        {"b1", "beta/QV7Client.exe", "DOTNOTSTARTGAMEBYQV7CLIENT.EXE -UseLaptop\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cszClient);
        WriteConfig();
        if (c.cszBetaConfig) {
            Write("config.ini", "[DevVersion]\nBetaVersion=b1\n");
            Write("BetaVersionList.ini", "[b1]\nReadableName=Beta\nBinPath=beta\\\nBin64Path=beta64\\\n");
            Pf_CreateDirChain(m_strApp + "beta");
        }
        WriteStubClient(c.cszClient);
        Pf_DeleteFile(m_Dir.File("client_args"));

        NyRefitter refitter;
        ASSERT_TRUE(InitRefitter(&refitter));
        refitter._SetStatusCode(UPDATE_STATUS_LATEST);
        Drain(&refitter);
        EXPECT_TRUE(refitter.FlashCallback("StartGame", {}));
        EXPECT_EQ(1, Drain(&refitter));
        refitter.UnInit();

        ASSERT_TRUE(WaitForFile(m_Dir.File("client_args")));
        EXPECT_EQ(c.cszArgs, Rv_TestReadFile(m_Dir.File("client_args")));
        std::string strMarker = Rv_TestReadFile(m_strApp + c.cszClient + ".eec");
        ASSERT_EQ(16u, strMarker.size());
        Pf_FILETIME ftWrite{};
        ASSERT_TRUE(Pf_GetFileTimes(m_strApp + c.cszClient, nullptr, nullptr, &ftWrite));
        uint32_t auFields[4];
        memcpy(auFields, strMarker.data(), 16);
        EXPECT_EQ(ftWrite.dwLowDateTime, auFields[0]);
        EXPECT_EQ(ftWrite.dwHighDateTime, auFields[1]);
        EXPECT_EQ(0u, auFields[2]);
        EXPECT_EQ(1u, auFields[3]);
        Pf_DeleteFile(m_strApp + "config.ini");
    }
}

TEST_F(NyRefitterTest, StartMarkerKeepsItsCounterOnlyForTheSameExecutable)
{
    WriteConfig();
    WriteStubClient("QV7Client.exe");
    Pf_FILETIME ftWrite{};
    ASSERT_TRUE(Pf_GetFileTimes(m_strApp + "QV7Client.exe", nullptr, nullptr, &ftWrite));
    const uint32_t auSame[4] = {ftWrite.dwLowDateTime, ftWrite.dwHighDateTime, 7, 0};
    const uint32_t auOther[4] = {ftWrite.dwLowDateTime + 1, ftWrite.dwHighDateTime, 7, 0};
    struct Case {
        std::string strOld;
        uint32_t uCounter;
    };
    const Case cases[] = {
        {std::string((const char*)auSame, 16), 7},
        {std::string((const char*)auOther, 16), 0},
        {std::string((const char*)auSame, 15), 0},
    };
    for (const Case& c : cases) {
        Rv_TestWriteFile(m_strApp + "QV7Client.exe.eec", c.strOld);
        NyRefitter refitter;
        ASSERT_TRUE(InitRefitter(&refitter));
        // In status 101 the client starts and the window stays.
        EXPECT_TRUE(refitter.FlashCallback("StartGame", {}));
        EXPECT_EQ(0, Drain(&refitter));
        refitter.UnInit();
        std::string strMarker = Rv_TestReadFile(m_strApp + "QV7Client.exe.eec");
        ASSERT_EQ(16u, strMarker.size());
        uint32_t auFields[4];
        memcpy(auFields, strMarker.data(), 16);
        EXPECT_EQ(c.uCounter, auFields[2]);
        EXPECT_EQ(1u, auFields[3]);
    }
}

TEST_F(NyRefitterTest, MissingClientOrToolShowsABox)
{
    WriteConfig();
    NyRefitter refitter;
    ASSERT_TRUE(InitRefitter(&refitter));
    EXPECT_FALSE(refitter.FlashCallback("StartGame", {}));
    EXPECT_FALSE(refitter.FlashCallback("OptionGame", {}));
    EXPECT_EQ(0, Drain(&refitter));
    refitter.UnInit();
    std::string strBoxes = Boxes();
    EXPECT_NE(std::string::npos, strBoxes.find("无法启动，可能文件不存在！"));
    EXPECT_NE(std::string::npos, strBoxes.find("QV7Client.exe"));
    EXPECT_NE(std::string::npos, strBoxes.find("GameConfig.exe"));
}

TEST_F(NyRefitterTest, ConfigToolStartsFromAFolderWithABlank)
{
    WriteConfig();
    WriteStubClient("GameConfig.exe");
    Script("on SkinID main call OptionGame\non SetUpdateState 1 call CloseWindow after 500\n");
    NyRefitter refitter;
    ASSERT_TRUE(InitRefitter(&refitter));
    ASSERT_TRUE(refitter.AutoUpdate(nullptr, nullptr));
    refitter.UnInit();
    ASSERT_TRUE(WaitForFile(m_Dir.File("client_args")));
    EXPECT_EQ("\n", Rv_TestReadFile(m_Dir.File("client_args")));
}

TEST_F(NyRefitterTest, ProgressTexts)
{
    NyRefitter refitter;
    ASSERT_TRUE(InitRefitter(&refitter));
    int nDownloader = 0;
    refitter.OnDownloadProgress(&nDownloader, 2048, 1024);
    refitter.OnDownloadProgress(&nDownloader, 0, 0);
    ASSERT_TRUE(refitter.SetPercentRate(12.5f));
    Drain(&refitter);
    refitter.UnInit();
    EXPECT_NE(std::string::npos, Transcript().find("ProgressPercent\t50.000\nSetTxtM\t更新中  1.00/2.00K\n"
                                                   "ProgressPercent\t12.500\n"));
}

} // namespace
