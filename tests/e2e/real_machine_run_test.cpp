// Runs of the built Refitter.exe outside the simulated machine: no
// RV_SIM_ROOT, the home, XDG folders and registry store in the test's folder,
// the update server and the report services on loopback. Started without a
// terminal the run ends by itself once the update has ended; on a terminal a
// person answers the message boxes, and the terminal's mode is as it was
// after the run, also when a signal ends it and after the self-update's
// hand-over.
#include "tests/e2e/terminal_session.h"
#include "tests/e2e/update_run_fixture.h"
#include "tests/support/pseudo_random.h"
#include "tests/support/stamped_copy.h"

#include <csignal>
#include <optional>

namespace {

// The first screen drawn (a block of lines) that shows strMark, up to the
// next redraw.
std::string _ScreenWith(const std::string& strOutput, const std::string& strMark)
{
    size_t uPos = strOutput.find(strMark);
    if (uPos == std::string::npos)
        return std::string();
    size_t uEnd = strOutput.find("\033[5A", uPos);
    return strOutput.substr(uPos, uEnd == std::string::npos ? std::string::npos : uEnd - uPos);
}

class RealMachineRun : public UpdateRoad {
protected:
    // The client and server of the update runs, in the environment of a real
    // machine, which the updater's terminal sessions inherit.
    void SetUp() override
    {
        UpdateRoad::SetUp();
        for (const std::string& strName : UnsimulatedNames())
            Set(strName, std::nullopt);
        for (const auto& value : UnsimulatedEnvironment())
            Set(value.first, value.second);
    }
    // Puts back what SetUp changed, last first; the simulated machine's
    // variables are then unset as after every update run.
    void TearDown() override
    {
        for (auto it = m_vecSaved.rbegin(); it != m_vecSaved.rend(); ++it) {
            if (it->second)
                setenv(it->first.c_str(), it->second->c_str(), 1);
            else
                unsetenv(it->first.c_str());
        }
        UpdateRoad::TearDown();
    }
    // Sets (or unsets) a variable for the test's time.
    void Set(const std::string& strName, const std::optional<std::string>& strValue)
    {
        const char* cszOld = getenv(strName.c_str());
        m_vecSaved.emplace_back(strName, cszOld ? std::optional<std::string>(cszOld) : std::nullopt);
        if (strValue)
            setenv(strName.c_str(), strValue->c_str(), 1);
        else
            unsetenv(strName.c_str());
    }
    // A patch 1.0 -> 1.1 whose download goes on for minutes.
    void OfferThrottledPatch()
    {
        Rv_TestServerPatch Patch = PlainPatch("1.0", "1.1", {{"a.txt", Rv_TestPseudoRandom(256 * 1024, 7)}});
        Rv_TestWritePatchServer(Server(""), "1.1", {Patch});
        Rv_TestHttpFault trickle;
        trickle.llTrickleAfter = 1000;
        m_Server.SetFault("/zhcn/" + Patch.strName, trickle);
    }
    // Starts the updater with these arguments on a terminal of its own.
    void StartOnTerminal(const std::string& strArguments)
    {
        ASSERT_TRUE(m_Terminal.Start("cd '" + Client("") + "' && exec ./Refitter.exe " + strArguments));
    }
    // Waits for the text on the screen, answering with Enter any box that
    // only informs (OK) on the way.
    bool WaitOnScreen(const std::string& strText, unsigned uTimeoutMs = 60000)
    {
        for (unsigned uWaited = 0; uWaited < uTimeoutMs; uWaited += 500) {
            if (m_Terminal.WaitFor(strText, 500, m_uScreenFrom))
                return true;
            size_t uBox = m_Terminal.Output().find("[O]K ? ", m_uAnsweredUpTo);
            if (uBox != std::string::npos) {
                m_uAnsweredUpTo = uBox + 1;
                m_Terminal.Type("\n");
            }
        }
        return false;
    }
    // The first screen that holds strMark, once it is whole: the keys line,
    // which ends with "n 公告", is drawn last, and the output may stop
    // anywhere before it.
    std::string WholeScreenWith(const std::string& strMark)
    {
        size_t uPos = m_Terminal.Output().find(strMark);
        if (uPos != std::string::npos)
            m_Terminal.WaitFor("n 公告", 10000, uPos);
        return _ScreenWith(m_Terminal.Output(), strMark);
    }
    std::string ModeAfter()
    {
        struct termios mode;
        if (!m_Terminal.Mode(&mode))
            return "no terminal";
        return Rv_TestDescribeMode(mode);
    }

    Rv_TestTerminal m_Terminal;
    size_t m_uScreenFrom = 0;
    size_t m_uAnsweredUpTo = 0;
    std::vector<std::pair<std::string, std::optional<std::string>>> m_vecSaved;
};

// The lines "Movie command: <name>(<arguments>)" of the log in order.
std::vector<std::string> _MovieCommands(const std::string& strLog)
{
    std::vector<std::string> vecLines;
    const std::string strMark = "Movie command: ";
    for (size_t uPos = strLog.find(strMark); uPos != std::string::npos; uPos = strLog.find(strMark, uPos + 1)) {
        size_t uEnd = strLog.find('\n', uPos);
        std::string strLine = strLog.substr(uPos + strMark.size(), uEnd - uPos - strMark.size());
        std::string strBare;
        for (char c : strLine) {
            if (c != ' ')
                strBare += c;
        }
        vecLines.push_back(strBare);
    }
    return vecLines;
}

} // namespace

// Started from a desktop or a pipe (no terminal, no script) the window is
// closed as soon as the worker has ended: with the client up to date, after
// a chain without synchronisation (the run ends in "updating"), and after an
// error. A command that repeats is logged once.
TEST_F(RealMachineRun, WithoutATerminalTheRunEndsOnceTheWorkerEnded)
{
    struct Case {
        const char* cszName;
        const char* cszLatest;
        bool bPatch;
        bool bPatchOnServer;
        const char* cszVersionAfter;
    } aCases[] = {
        {"up to date", "1.0", false, false, "1.0"},
        {"a chain applied", "1.1", true, true, "1.1"},
        {"an error (the patch is missing)", "1.2", true, false, "1.1"},
    };
    for (const Case& c : aCases) {
        SCOPED_TRACE(c.cszName);
        std::vector<Rv_TestServerPatch> vecPatches;
        if (c.bPatch) {
            const std::string strFrom = InstalledVersion();
            vecPatches.push_back(PlainPatch(strFrom, c.cszLatest, {{"a.txt", c.cszLatest}}));
        }
        Rv_TestWritePatchServer(Server(""), c.cszLatest, vecPatches);
        if (c.bPatch && !c.bPatchOnServer)
            Pf_DeleteFile(Server(vecPatches[0].strName));
        Rv_TestRun("rm -rf '" + Client("logs") + "'");

        int nStatus = -1;
        Rv_TestRun("cd / && timeout 90 '" + Client("Refitter.exe") + "' -a </dev/null >/dev/null 2>&1", &nStatus);
        EXPECT_EQ(0, nStatus) << "124: it did not end by itself\n" << Logs();
        EXPECT_EQ(c.cszVersionAfter, InstalledVersion());
        const std::string strLog = Logs();
        EXPECT_NE(std::string::npos, strLog.find("Movie: the work has ended")) << strLog;
        const std::vector<std::string> vecCommands = _MovieCommands(strLog);
        for (size_t i = 0; i < vecCommands.size(); ++i) {
            for (size_t j = i + 1; j < vecCommands.size(); ++j) {
                if (vecCommands[j].substr(0, vecCommands[j].find('(')) != vecCommands[i].substr(0, vecCommands[i].find('(')))
                    continue;
                EXPECT_NE(vecCommands[i], vecCommands[j]) << "logged again without a change";
                break;
            }
        }
    }
    EXPECT_EQ(0u, m_Server.RequestsFor("/zhcn/dx9_43.zip").size());
}

// "q" during a download asks at the terminal; "n" goes on, "y" stops it and
// the patch never reaches the client. The screen starts again below each
// prompt, and the terminal reads lines with echo afterwards.
TEST_F(RealMachineRun, OnATerminalThePersonAnswersTheQuestionBeforeTheDownloadStops)
{
    OfferThrottledPatch();
    StartOnTerminal("-a");
    ASSERT_TRUE(WaitOnScreen("[下载中]")) << m_Terminal.Output();
    const std::string strQuestion = "正在下载更新文件，是否中断下载？";
    m_Terminal.Type("q");
    ASSERT_TRUE(m_Terminal.WaitFor(strQuestion, 30000)) << m_Terminal.Output();
    ASSERT_TRUE(m_Terminal.WaitFor("[Y]es / [N]o ? ", 30000)) << m_Terminal.Output();
    m_uScreenFrom = m_Terminal.Seen();
    m_Terminal.Type("n\n");
    // The answer is echoed, and the screen's next block starts below it
    // instead of moving up over the prompt.
    ASSERT_TRUE(m_Terminal.WaitFor("n\r\n", 30000, m_uScreenFrom)) << m_Terminal.Output();
    ASSERT_TRUE(WaitOnScreen("[下载中]")) << m_Terminal.Output();
    const std::string strAfterAnswer = m_Terminal.Output().substr(m_Terminal.Output().find("n\r\n", m_uScreenFrom) + 3);
    EXPECT_EQ(0u, strAfterAnswer.find("\r\033[K")) << strAfterAnswer.substr(0, 40);

    // Closing waits while the update is prepared, and asks while it downloads;
    // a terminal is not minimised.
    const std::string strPreparing = WholeScreenWith("[准备中]");
    EXPECT_NE(std::string::npos, strPreparing.find("s 开始游戏   o 游戏设置   n 公告")) << strPreparing;
    EXPECT_EQ(std::string::npos, strPreparing.find("q 关闭")) << strPreparing;
    const std::string strDownloading = WholeScreenWith("[下载中]");
    EXPECT_NE(std::string::npos, strDownloading.find("s 开始游戏   o 游戏设置   q 关闭   n 公告")) << strDownloading;

    const size_t uSecond = m_Terminal.Seen();
    m_Terminal.Type("q");
    ASSERT_TRUE(m_Terminal.WaitFor("[Y]es / [N]o ? ", 30000, uSecond)) << m_Terminal.Output();
    m_Terminal.Type("y\n");
    EXPECT_EQ(0, m_Terminal.WaitExit(60000)) << m_Terminal.Output();
    EXPECT_EQ("1.0", InstalledVersion());
    EXPECT_FALSE(Pf_PathExists(Client("a.txt")));
    EXPECT_EQ("lines and echo on", ModeAfter());
}

// Ended by a signal in the middle of a download, the updater leaves the
// terminal's mode as it found it.
TEST_F(RealMachineRun, ASignalLeavesTheTerminalAsItWas)
{
    struct Case {
        const char* cszName;
        int nSignal;
    } aCases[] = {{"Ctrl-C", SIGINT}, {"SIGTERM", SIGTERM}, {"SIGHUP", SIGHUP}};
    OfferThrottledPatch();
    for (const Case& c : aCases) {
        SCOPED_TRACE(c.cszName);
        Rv_TestTerminal terminal;
        ASSERT_TRUE(terminal.Start("cd '" + Client("") + "' && exec ./Refitter.exe -a"));
        ASSERT_TRUE(terminal.WaitFor("[下载中]", 60000)) << terminal.Output();
        if (c.nSignal == SIGINT)
            terminal.Type("\x03");
        else
            terminal.Signal(c.nSignal);
        EXPECT_EQ(128 + c.nSignal, terminal.WaitExit(30000));
        struct termios mode;
        ASSERT_TRUE(terminal.Mode(&mode));
        EXPECT_EQ("lines and echo on", Rv_TestDescribeMode(mode));
    }

    // Started with SIGHUP ignored (as by nohup) it stays ignored.
    Rv_TestTerminal terminal;
    ASSERT_TRUE(terminal.Start("cd '" + Client("") + "' && trap '' HUP && exec ./Refitter.exe -a"));
    ASSERT_TRUE(terminal.WaitFor("[下载中]", 60000)) << terminal.Output();
    terminal.Signal(SIGHUP);
    const size_t uSeen = terminal.Seen();
    EXPECT_TRUE(terminal.WaitFor("[下载中]", 30000, uSeen)) << "still drawing after SIGHUP";
    terminal.Type("\x03");
    EXPECT_EQ(128 + SIGINT, terminal.WaitExit(30000));
}

// The self-update ends its window copy while the copy reads keys; the mode
// goes back before the new "-a" copy starts, which then finds the person's
// mode and leaves it so.
TEST_F(RealMachineRun, TheSelfUpdateHandOverLeavesTheTerminalAsItWas)
{
    Rv_TestWritePatchServer(Server(""), "1.0", {});
    const std::string strUpdater = "Refitter_1.0.0.9.exe";
    ASSERT_TRUE(Rv_TestWriteStampedCopy(Client("Refitter.exe"), Server("updaterV2/" + strUpdater), "1.0.0.9"));
    const std::string strMD5 =
        Rv_TestRun("md5sum '" + Server("updaterV2/" + strUpdater) + "' | cut -c1-32 | tr -d '\\n'");
    Rv_TestWriteFile(Server("updaterV2/updaterversion.txt"), "[version]\nLatestVersion=1.0.0.9\n[updatefilelist]\n"
                                                             "FileName_0=" + strUpdater + "\nFileMD5_0=" + strMD5 + "\n");
    // The window copy has its screen up before the new files arrive.
    Rv_TestHttpFault slow;
    slow.uDelayMs = 3000;
    m_Server.SetFault("/zhcn/updaterV2/" + strUpdater, slow);

    StartOnTerminal("");
    ASSERT_TRUE(WaitOnScreen("[准备中]")) << m_Terminal.Output();
    // The new copy finds the client up to date (state 1, named for what it
    // is), then says that the update has ended; "q" closes it.
    // (The end may come before the state's own text is drawn.)
    ASSERT_TRUE(WaitOnScreen("[已结束]  客户端已是最新版本，无需更新")) << m_Terminal.Output();
    EXPECT_NE(std::string::npos, m_Terminal.Output().find("[结果]")) << m_Terminal.Output();
    const std::string strEnded = WholeScreenWith("[已结束]");
    EXPECT_NE(std::string::npos, strEnded.find("s 开始游戏   o 游戏设置   q 关闭   n 公告")) << strEnded;
    EXPECT_EQ(1u, m_Server.RequestsFor("/zhcn/updaterV2/" + strUpdater).size());
    m_Terminal.Type("q");
    EXPECT_EQ(0, m_Terminal.WaitExit(60000)) << m_Terminal.Output();
    EXPECT_EQ("lines and echo on", ModeAfter());
}
