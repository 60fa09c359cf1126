// Stopping and starting the streaming downloader tool, with a compiled
// stand-in for the tool (see stream_tool/stream_tool_stub.cpp).
#include "app/stream_downloader_control.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "platform/process.h"
#include "platform/process_handle.h"
#include "platform/process_list.h"
#include "tests/foundation/log_capture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <vector>

namespace {

// Polls a condition for up to ten seconds.
bool _Eventually(const std::function<bool()>& fnCondition)
{
    for (int i = 0; i < 1000; ++i) {
        if (fnCondition())
            return true;
        Pf_Sleep(10);
    }
    return fnCondition();
}

class StreamDownloaderControl : public ::testing::Test {
protected:
    ~StreamDownloaderControl() override
    {
        // Whatever a test left running (its own children and tools started
        // in the background) is ended here.
        for (auto& pProcess : m_vecChildren) {
            pProcess->Terminate();
            pProcess->Wait(10000);
        }
        for (const std::string& strTool : m_vecTools)
            KillProcess(strTool.c_str());
    }

    // Puts the stand-in under a name in a folder (created) of the test's
    // folder; returns its full path.
    std::string Install(const std::string& strFolder, const std::string& strName)
    {
        std::string strPath = m_dir.File(strFolder + "/" + strName);
        EXPECT_TRUE(Pf_CreateDirChain(m_dir.File(strFolder)));
        EXPECT_TRUE(Pf_CopyFile(RV_STREAM_TOOL_STUB, strPath, 0));
        EXPECT_EQ("", Rv_TestRun("chmod +x '" + strPath + "' 2>&1"));
        m_vecTools.push_back(strPath);
        return strPath;
    }
    // Starts a tool as a child of the test and waits until it has recorded its start.
    void Run(const std::string& strTool)
    {
        std::string strStarted = Args(strTool) + "run\n";
        m_vecChildren.push_back(std::make_unique<Pf_Process>());
        ASSERT_TRUE(m_vecChildren.back()->Start("\"" + strTool + "\" run", ""));
        ASSERT_TRUE(_Eventually([&] { return Args(strTool) == strStarted; }));
    }
    std::string AppPath() const { return m_dir.File("app/"); }
    static std::string Args(const std::string& strTool) { return Rv_TestReadFile(strTool + ".args"); }

    Rv_TestTempDir m_dir;
    std::vector<std::unique_ptr<Pf_Process>> m_vecChildren;
    std::vector<std::string> m_vecTools;
};

}  // namespace

TEST_F(StreamDownloaderControl, NoToolMeansNothingToDo)
{
    ASSERT_TRUE(Pf_CreateDirChain(m_dir.File("app")));
    EXPECT_TRUE(StopVBunDownloadersIn(AppPath()));
    EXPECT_TRUE(LaunchVBunDownloaderIn(AppPath()));
    EXPECT_EQ("", Rv_TestRun("ls -A '" + m_dir.File("app") + "'"));
    // Beside the test program there is no tool either.
    EXPECT_TRUE(Rv_StopVBunDownloader());
    EXPECT_TRUE(Rv_LaunchVBunDownloader());

    struct Case {
        const char* cszName;
        bool bExists;
        bool bKilled;
    } aCases[] = {
        {nullptr, false, false},
        {"", false, false},
        {"/no/such/tool.exe", false, true},
    };
    for (const Case& c : aCases) {
        EXPECT_EQ(c.bExists, CheckProcessExist(c.cszName)) << (c.cszName ? c.cszName : "null");
        EXPECT_EQ(c.bKilled, KillProcess(c.cszName)) << (c.cszName ? c.cszName : "null");
    }
}

TEST_F(StreamDownloaderControl, StopsBothBuildsByPathAndRestartsTheReleaseBuild)
{
    std::string strTool = Install("app", "vbun_downloader.exe");
    std::string strDebugTool = Install("app", "vbun_downloaderD.exe");
    std::string strElsewhere = Install("other", "vbun_downloader.exe");
    Run(strTool);
    Run(strDebugTool);
    Run(strElsewhere);
    ASSERT_TRUE(CheckProcessExist(strTool.c_str()));

    ASSERT_TRUE(StopVBunDownloadersIn(AppPath()));
    EXPECT_FALSE(CheckProcessExist(strTool.c_str()));
    EXPECT_FALSE(CheckProcessExist(strDebugTool.c_str()));
    EXPECT_EQ("run\n-q\n", Args(strTool));
    EXPECT_EQ("run\n-q\n", Args(strDebugTool));
    // The same file name in another folder is another tool.
    EXPECT_TRUE(CheckProcessExist(strElsewhere.c_str()));
    EXPECT_EQ("run\n", Args(strElsewhere));

    ASSERT_TRUE(LaunchVBunDownloaderIn(AppPath()));
    EXPECT_TRUE(_Eventually([&] { return Args(strTool) == "run\n-q\n-b\n" && CheckProcessExist(strTool.c_str()); }))
        << Args(strTool);
    EXPECT_EQ("run\n-q\n", Args(strDebugTool)) << "the debug build is never started";
    EXPECT_FALSE(CheckProcessExist(strDebugTool.c_str()));

    // The background copy is stopped the same way.
    ASSERT_TRUE(StopVBunDownloadersIn(AppPath()));
    EXPECT_FALSE(CheckProcessExist(strTool.c_str()));
}

TEST_F(StreamDownloaderControl, ToolIgnoringTheQuitRequestIsEnded)
{
    std::string strTool = Install("app", "vbun_downloader.exe");
    Rv_TestWriteFile(strTool + ".stubborn", "");
    Run(strTool);
    Run(strTool);
    ASSERT_TRUE(StopVBunDownloader(strTool));
    EXPECT_FALSE(CheckProcessExist(strTool.c_str()));
    EXPECT_EQ("run\nrun\n-q\n", Args(strTool));
}

TEST_F(StreamDownloaderControl, RunningToolWithoutItsFileIsReportedAndLeftRunning)
{
    Rv_TestLogCapture log(m_dir);
    std::string strTool = Install("app", "vbun_downloader.exe");
    Run(strTool);
    ASSERT_TRUE(Pf_DeleteFile(strTool));
    ASSERT_TRUE(CheckProcessExist(strTool.c_str()));

    EXPECT_FALSE(StopVBunDownloader(strTool));
    EXPECT_FALSE(StopVBunDownloadersIn(AppPath()));
    EXPECT_TRUE(CheckProcessExist(strTool.c_str()));
    EXPECT_EQ("run\n", Args(strTool));
    EXPECT_NE(std::string::npos, log.Text().find("RVLOG_PROCESS_ERROR(nRetCode) at line "));
    EXPECT_NE(std::string::npos, log.Text().find(" in StopVBunDownloader\r\n"));
}

TEST_F(StreamDownloaderControl, CommandLineLongerThanItsBufferIsRefused)
{
    Rv_TestLogCapture log(m_dir);
    std::string strFolder = "app/" + std::string(250, 'a') + "/" + std::string(250, 'b');
    std::string strTool = Install(strFolder, "vbun_downloader.exe");
    EXPECT_FALSE(LaunchVBunDownloaderIn(m_dir.File(strFolder + "/")));
    EXPECT_NE(std::string::npos, log.Text().find("RVLOG_PROCESS_ERROR(nRetCode) at line "));
    EXPECT_NE(std::string::npos, log.Text().find(" in LaunchVBunDownloaderIn\r\n"));
    EXPECT_EQ("", Args(strTool)) << "nothing was started";
}

// Run only inside the namespace that the next test makes: stops the tool
// named by RV_STREAM_TOOL_PATH and prints the result and the log.
TEST_F(StreamDownloaderControl, DISABLED_StopsTheToolOfThisNamespace)
{
    const char* cszTool = getenv("RV_STREAM_TOOL_PATH");
    ASSERT_TRUE(cszTool);
    std::string strLog;
    int nResult = 0;
    {
        Rv_TestLogCapture log(m_dir);
        nResult = StopVBunDownloader(cszTool);
        strLog = log.Text();
    }
    printf("stop result: %d\n%s", nResult, strLog.c_str());
}

// The first process of a process namespace cannot be ended from inside it:
// the tool running as that process stands for a tool that cannot be stopped.
TEST_F(StreamDownloaderControl, ToolThatCannotBeEndedIsReportedNotWaitedOn)
{
    if (Rv_TestRun("unshare --pid --fork --mount-proc true >/dev/null 2>&1; echo $?") != "0\n")
        GTEST_SKIP() << "no process namespaces here";
    std::string strTool = Install("app", "vbun_downloader.exe");
    Rv_TestWriteFile(strTool + ".stubborn", "");
    Rv_TestRun("unshare --pid --fork --mount-proc '" + strTool + "' run </dev/null >/dev/null 2>&1 &");
    ASSERT_TRUE(_Eventually([&] { return CheckProcessExist(strTool.c_str()); }));
    std::vector<Pf_ProcessEntry> vecProcesses;
    uint32_t uToolId = 0;
    ASSERT_TRUE(Pf_ListProcesses(&vecProcesses));
    for (const Pf_ProcessEntry& process : vecProcesses)
        if (process.strImagePath == strTool)
            uToolId = process.uProcessId;
    ASSERT_NE(0u, uToolId);

    std::string strSelf;
    ASSERT_TRUE(Pf_GetExecutablePath(&strSelf));
    std::string strOutput = Rv_TestRun("RV_STREAM_TOOL_PATH='" + strTool + "' nsenter -t " + std::to_string(uToolId) +
                                       " -p -m '" + strSelf +
                                       "' --gtest_also_run_disabled_tests"
                                       " --gtest_filter=StreamDownloaderControl.DISABLED_StopsTheToolOfThisNamespace 2>&1");
    EXPECT_NE(std::string::npos, strOutput.find("stop result: 0\n")) << strOutput;
    EXPECT_NE(std::string::npos, strOutput.find("RVLOG_PROCESS_ERROR(!CheckProcessExist(cpszProcessName)) at line "))
        << strOutput;
    EXPECT_NE(std::string::npos, strOutput.find("did not end within")) << strOutput;
    EXPECT_TRUE(CheckProcessExist(strTool.c_str())) << "seen from outside, it still runs";

    // From outside its namespace it can be ended.
    Pf_ProcessHandle tool;
    ASSERT_TRUE(tool.Open(uToolId));
    ASSERT_TRUE(tool.Terminate());
    EXPECT_TRUE(tool.WaitExit(10000));
}
