// Runs of the built Refitter.exe in a client folder of its own: the working
// folder choice, the free-space guard, the command-line modes, the "laptop"
// switch, the named event, the log clean-up, and the exit codes.
#include "foundation/process_count.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "platform/named_event.h"
#include "platform/process.h"
#include "platform/thread.h"
#include "tests/support/temp_dir.h"
#include "tests/support/update_client.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {
const char* const s_cszFelnEvent = "Global\\feln_qv7update_{0C941A6A}";

class RefitterRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        Rv_TestWriteFile(m_dir.File("sim/free_bytes"), "1000000000\n");
        // The window closes once the run shows its end (state 1).
        Rv_TestWriteFile(m_dir.File("sim/movie_script"), "on SetUpdateState 1 call CloseWindow\n");
        Pf_CreateDirChain(m_dir.File("events"));
        setenv("RV_SIM_ROOT", m_dir.File("sim").c_str(), 1);
        setenv("RV_EVENT_PREFIX", (m_dir.File("events") + "/").c_str(), 1);
        // The machine's stores and the reports stay inside the test.
        Rv_TestWriteDesktopFacts(m_dir.File("sim"));
        setenv("RV_REGISTRY_DIR", m_dir.File("registry").c_str(), 1);
    }
    void TearDown() override
    {
        unsetenv("RV_SIM_ROOT");
        unsetenv("RV_EVENT_PREFIX");
        unsetenv("RV_REGISTRY_DIR");
    }
    // Places the executable at client/<strFolder>/Refitter.exe.
    std::string Install(const std::string& strFolder)
    {
        std::string strExe = m_dir.File("client/" + strFolder + "/Refitter.exe");
        Pf_CreateDirChain(m_dir.File("client/" + strFolder));
        int nStatus = -1;
        Rv_TestRun("cp '" RV_BINARY_DIR "/bin/Refitter.exe' '" + strExe + "'", &nStatus);
        EXPECT_EQ(0, nStatus);
        return strExe;
    }
    // Runs it with shell-quoted arguments; returns the exit code once every
    // copy it started (the window copy of a self-update) has ended too.
    int Run(const std::string& strExe, const std::string& strArguments)
    {
        int nStatus = -1;
        Rv_TestRun("cd / && '" + strExe + "' " + strArguments + " </dev/null >/dev/null 2>&1", &nStatus);
        unsigned uCount = 1;
        for (int i = 0; i < 600 && Rv_GetProcessCount(strExe.c_str(), &uCount) && uCount > 0; ++i)
            Pf_Sleep(100);
        EXPECT_EQ(0u, uCount) << strExe;
        return nStatus;
    }
    // Every log line written below the folder.
    std::string Logs(const std::string& strFolder)
    {
        return Rv_TestRun("cat '" + m_dir.File(strFolder) + "'/logs/Refitter/*/*.log 2>/dev/null");
    }
    std::string Client() { return m_dir.File("client"); }

    Rv_TestTempDir m_dir;
};
} // namespace

TEST_F(RefitterRun, WorkingFolderIsTheClientRootWhenItHoldsThePackage)
{
    std::string strExe = Install("bin");
    EXPECT_EQ(0, Run(strExe, "-a"));
    std::string strLogs = Logs("client/bin");
    EXPECT_NE(std::string::npos, strLogs.find("The refitter.exe is built at ")) << strLogs;
    EXPECT_NE(std::string::npos, strLogs.find("The full file name is `" + strExe + "`")) << strLogs;
    EXPECT_NE(std::string::npos, strLogs.find("The current working path is `" + Client() + "/bin`")) << strLogs;
    EXPECT_NE(std::string::npos, strLogs.find("RVLOG_CHECK_ERROR(hDumper)")) << strLogs;
    EXPECT_NE(std::string::npos, strLogs.find("Refitter exit !")) << strLogs;
    EXPECT_TRUE(Pf_DirExists(Client() + "/bin/update"));
    // The window ran on the movie, which was removed once loaded; without a
    // configuration the run ends in its error.
    EXPECT_FALSE(Pf_PathExists(Client() + "/bin/update/update.swf"));
    std::string strTranscript = Rv_TestReadFile(m_dir.File("sim/movie_transcript"));
    EXPECT_NE(std::string::npos, strTranscript.find("SetTxtVersion\t缺少必要的启动文件，启动失败！\nSetUpdateState\t1\n"))
        << strTranscript;

    Rv_TestWriteFile(Client() + "/pak/Data_1.pak", "");
    EXPECT_EQ(0, Run(strExe, "-a"));
    strLogs = Logs("client");
    EXPECT_NE(std::string::npos, strLogs.find("The current working path is `" + Client() + "`")) << strLogs;
}

TEST_F(RefitterRun, FreeSpaceGuard)
{
    std::string strExe = Install("bin");
    Rv_TestWriteFile(m_dir.File("sim/free_bytes"), "104857599\n");
    EXPECT_EQ(1, Run(strExe, "-a"));
    EXPECT_EQ("MessageBox type=0x10 answer=OK caption=云岫更新程序 text=云岫所在磁盘分区(" + Client() +
                  "/bin)剩余空间过低，客户端启动失败。\\n请先清理该磁盘分区，然后重试!\n",
              Rv_TestReadFile(m_dir.File("sim/msgbox_transcript")));
    EXPECT_FALSE(Pf_PathExists(Client() + "/bin/logs"));

    Rv_TestWriteFile(m_dir.File("sim/free_bytes"), "104857600\n");
    EXPECT_EQ(0, Run(strExe, "-a"));
    EXPECT_NE(std::string::npos, Logs("client/bin").find("Command line : -a"));
}

// A folder so deep that the low-space text passes 260 characters still gets its box.
TEST_F(RefitterRun, LongFolderStillShowsTheLowSpaceText)
{
    std::string strFolder = std::string(60, 'd') + "/" + std::string(60, 'e') + "/" + std::string(60, 'f');
    std::string strExe = Install(strFolder);
    Rv_TestWriteFile(m_dir.File("sim/free_bytes"), "0\n");
    EXPECT_EQ(1, Run(strExe, "-a"));
    std::string strTranscript = Rv_TestReadFile(m_dir.File("sim/msgbox_transcript"));
    EXPECT_GT(strTranscript.size(), 260u);
    EXPECT_NE(std::string::npos, strTranscript.find("(" + Client() + "/" + strFolder + ")"));
}

TEST_F(RefitterRun, CommandLineModes)
{
    struct Case {
        std::string strArguments;  // shell-quoted
        const char* cszCommandLine;
        const char* cszExpected;
    };
    const std::string str259(259, 'p');
    const Case aCases[] = {
        {"", "Command line : ", "Failed to load CONFIG_KEY_DOWNLOAD_URL"},
        {"-aXYZ", "-aXYZ", "Update with the window, mode 2."},
        {"-A", "-A", "Update with the window, mode 2."},
        {"-q", "-q", "Update with the window, mode 3."},
        {"/FELNUPDATE", "/FELNUPDATE", "Updater.run()"},
        {"-W 0000012C 00000130", "-W 0000012C 00000130", "Update with the window, mode 1."},
        {"-w 0000012C", "-w 0000012C", "Refitter.Init()"},
        {"-w 0 00000130", "-w 0 00000130", "Refitter.Init()"},
        {"'\"'", "Command line : \"", "Refitter.Init()"},
        {"'\"/some path/x.pak\"'", "\"/some path/x.pak\"", "Update with the window, mode 4."},
        {"' -a'", "Command line :  -a", "Update with the window, mode 4."},
        {str259, str259.c_str(), "Update with the window, mode 4."},
        {str259 + "p", "", "Refitter.Init()"},
        {"'\"" + str259 + "\"'", "", "Update with the window, mode 4."},
    };
    std::string strExe = Install("bin");
    for (const Case& c : aCases) {
        Rv_TestRun("rm -rf '" + Client() + "/bin/logs'");
        // The window modes end when the window closes; the others fail.
        const int nExpectedExit = strstr(c.cszExpected, "Update with the window") ? 0 : 1;
        EXPECT_EQ(nExpectedExit, Run(strExe, c.strArguments)) << c.strArguments;
        std::string strLogs = Logs("client/bin");
        EXPECT_NE(std::string::npos, strLogs.find(c.cszCommandLine)) << c.strArguments << "\n" << strLogs;
        EXPECT_NE(std::string::npos, strLogs.find(c.cszExpected)) << c.strArguments << "\n" << strLogs;
        EXPECT_NE(std::string::npos, strLogs.find("Refitter exit !")) << c.strArguments;
        // UnInit runs exactly when Init succeeded.
        EXPECT_EQ(strLogs.find("Refitter.Init()") == std::string::npos,
                  strLogs.find("Close CRThread done.") != std::string::npos)
            << c.strArguments;
    }
}

// The window copy of a self-update gets its two events inherited.
TEST_F(RefitterRun, WindowCopyTakesInheritedEvents)
{
    std::string strExe = Install("bin");
    Pf_Event success, failed;
    ASSERT_TRUE(success.Init(0, 0, 1));
    ASSERT_TRUE(failed.Init(0, 0, 1));
    Pf_Event* apInherit[] = {&success, &failed};
    Pf_Process process;
    ASSERT_TRUE(process.Start("\"" + strExe + "\" -w " + Pf_EventHandleText(success) + " " + Pf_EventHandleText(failed),
                              "/", apInherit, 2));
    int nExitCode = -1;
    ASSERT_TRUE(process.Wait(60000, &nExitCode));
    EXPECT_EQ(0, nExitCode);
    std::string strLogs = Logs("client/bin");
    EXPECT_NE(std::string::npos, strLogs.find("Update with the window, mode 1.")) << strLogs;
    EXPECT_EQ(std::string::npos, strLogs.find("Refitter.Init()")) << strLogs;
}

TEST_F(RefitterRun, LaptopFolderWorksOnZhcn)
{
    std::string strExe = Install("laptop");
    Pf_CreateDirChain(Client() + "/zhcn");
    EXPECT_EQ(0, Run(strExe, "-q"));
    EXPECT_TRUE(Pf_DirExists(Client() + "/zhcn/update"));
    EXPECT_FALSE(Pf_PathExists(Client() + "/laptop/update"));
    // The self-update (empty command line) keeps its own folder.
    EXPECT_EQ(1, Run(strExe, ""));
    EXPECT_TRUE(Pf_DirExists(Client() + "/laptop/update"));
}

TEST_F(RefitterRun, NamedEventIsSignalledForAHolder)
{
    std::string strExe = Install("bin");
    Pf_NamedEvent holder;
    ASSERT_TRUE(holder.Create(s_cszFelnEvent));
    EXPECT_EQ(0, Run(strExe, "-a"));
    EXPECT_TRUE(holder.Wait(0));
    // The check mode leaves the event alone.
    EXPECT_EQ(1, Run(strExe, "/felnupdate"));
    EXPECT_FALSE(holder.Wait(0));
}

namespace {
std::string _LogName(const char* cszIdent, int nDaysBack, int nSecond)
{
    time_t t = time(nullptr) - (time_t)nDaysBack * 86400;
    struct tm tmNow;
    localtime_r(&t, &tmNow);
    char szName[128];
    snprintf(szName, sizeof(szName), "%d_%02d_%02d/%s_%d_%02d_%02d_10_00_%02d.log", tmNow.tm_year + 1900,
             tmNow.tm_mon + 1, tmNow.tm_mday, cszIdent, tmNow.tm_year + 1900, tmNow.tm_mon + 1, tmNow.tm_mday,
             nSecond);
    return szName;
}
} // namespace

TEST_F(RefitterRun, LogCleanUpByAgeAndSize)
{
    std::string strExe = Install("bin");
    std::string strLogs = Client() + "/bin/logs/";
    const std::string strOld = "Refitter/2000_01_01/Refitter_2000_01_01_10_00_00.log";
    const std::string strRecent = "Other/" + _LogName("Other", 0, 0);
    const std::string astrBig[] = {"Big/" + _LogName("Big", 0, 1), "Big/" + _LogName("Big", 0, 2),
                                   "Big/" + _LogName("Big", 0, 3)};
    Rv_TestWriteFile(strLogs + strOld, "old\n");
    Rv_TestWriteFile(strLogs + strRecent, "recent\n");
    Rv_TestWriteFile(strLogs + "Other/notes.txt", "kept\n");
    for (const std::string& strBig : astrBig)
        Rv_TestRun("mkdir -p \"$(dirname '" + strLogs + strBig + "')\" && truncate -s 20M '" + strLogs + strBig + "'");

    // Without the setting nothing goes.
    EXPECT_EQ(0, Run(strExe, "-a"));
    EXPECT_TRUE(Pf_FileExists(strLogs + strOld));

    Rv_TestWriteFile(Client() + "/bin/config.ini", "[Log]\nAutoDeleteUnnecessaryLogs=1\n");
    EXPECT_EQ(0, Run(strExe, "-a"));
    EXPECT_FALSE(Pf_FileExists(strLogs + strOld));
    EXPECT_TRUE(Pf_FileExists(strLogs + strRecent));
    EXPECT_TRUE(Pf_FileExists(strLogs + "Other/notes.txt"));
    // 60 MiB of today's logs: the oldest goes, 40 MiB stay.
    EXPECT_FALSE(Pf_FileExists(strLogs + astrBig[0]));
    EXPECT_TRUE(Pf_FileExists(strLogs + astrBig[1]));
    EXPECT_TRUE(Pf_FileExists(strLogs + astrBig[2]));
}
