// Message boxes: scripted answers in order, the transcript, the fixed
// defaults, and the person at a terminal.
#include "platform/message_box.h"
#include "platform/terminal_mode.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {
std::string s_strLogged;
void _LogHook(const char* cszLine)
{
    s_strLogged += std::string(cszLine) + "\n";
}
} // namespace

TEST(MessageBox, ScriptedAnswersAndTranscript)
{
    if (isatty(0) && isatty(1))
        GTEST_SKIP() << "runs on a terminal, which would answer once the script is used up";
    Rv_TestTempDir sim;
    Rv_TestWriteFile(sim.File("msgbox_answers"), "retry\n\nNO\nyes\nok\n");
    setenv("RV_SIM_ROOT", sim.Path().c_str(), 1);
    s_strLogged.clear();
    Pf_SetMessageBoxLogHook(_LogHook);
    EXPECT_EQ(PF_IDRETRY, Pf_MessageBox("a", "c", PF_MB_RETRYCANCEL | PF_MB_ICONWARNING));
    EXPECT_EQ(PF_IDNO, Pf_MessageBox("b", "c", PF_MB_YESNO | PF_MB_ICONQUESTION));
    // "yes" does not fit an OK box: the default answers and the answer is used up.
    EXPECT_EQ(PF_IDOK, Pf_MessageBox("line 1\nline 2", "云岫更新程序", PF_MB_OK | PF_MB_ICONERROR));
    EXPECT_EQ(PF_IDOK, Pf_MessageBox("d", "c", PF_MB_OK));
    // Answers used up: the defaults.
    EXPECT_EQ(PF_IDCANCEL, Pf_MessageBox("e", "c", PF_MB_RETRYCANCEL));
    EXPECT_EQ(PF_IDNO, Pf_MessageBox("f", "c", PF_MB_YESNO));
    Pf_SetMessageBoxLogHook(nullptr);
    unsetenv("RV_SIM_ROOT");

    std::string strExpected =
        "MessageBox type=0x35 answer=Retry caption=c text=a\n"
        "MessageBox type=0x24 answer=No caption=c text=b\n"
        "MessageBox type=0x10 answer=OK caption=云岫更新程序 text=line 1\\nline 2\n"
        "MessageBox type=0x00 answer=OK caption=c text=d\n"
        "MessageBox type=0x05 answer=Cancel caption=c text=e\n"
        "MessageBox type=0x04 answer=No caption=c text=f\n";
    EXPECT_EQ(strExpected, Rv_TestReadFile(sim.File("msgbox_transcript")));
    EXPECT_EQ(strExpected, s_strLogged);
    EXPECT_EQ("", Rv_TestReadFile(sim.File("msgbox_answers")));
}

TEST(MessageBox, DefaultsWithoutScriptOrTerminal)
{
    if (isatty(0) && isatty(1))
        GTEST_SKIP() << "runs on a terminal";
    unsetenv("RV_SIM_ROOT");
    EXPECT_EQ(PF_IDOK, Pf_MessageBox("t", "c", PF_MB_OK | PF_MB_ICONINFORMATION));
    EXPECT_EQ(PF_IDNO, Pf_MessageBox("t", "c", PF_MB_YESNO));
    EXPECT_EQ(PF_IDCANCEL, Pf_MessageBox("t", "c", PF_MB_RETRYCANCEL));
}

namespace {

// Standard input and output on a pseudo-terminal for the time of a test; the
// test's other side types as a person would, once the prompt is there.
class PersonAtTerminal {
public:
    PersonAtTerminal()
    {
        struct winsize size = {};
        size.ws_row = 40;
        size.ws_col = 120;
        if (openpty(&m_nMaster, &m_nSlave, nullptr, nullptr, &size) != 0)
            return;
        fflush(stdout);
        m_nSavedIn = dup(0);
        m_nSavedOut = dup(1);
        dup2(m_nSlave, 0);
        dup2(m_nSlave, 1);
    }
    ~PersonAtTerminal()
    {
        fflush(stdout);
        dup2(m_nSavedIn, 0);
        dup2(m_nSavedOut, 1);
        close(m_nSavedIn);
        close(m_nSavedOut);
        close(m_nSlave);
        close(m_nMaster);
    }
    bool IsOpen() const { return m_nMaster >= 0; }
    // For each step in turn: waits for its prompt to appear (again) and types its keys.
    std::thread Answer(const std::vector<std::pair<std::string, std::string>>& vecSteps)
    {
        return std::thread([this, vecSteps] {
            size_t uFrom = 0;
            for (const auto& step : vecSteps) {
                for (int i = 0; i < 200 && m_strSeen.find(step.first, uFrom) == std::string::npos; ++i) {
                    struct pollfd fd = {m_nMaster, POLLIN, 0};
                    if (poll(&fd, 1, 50) > 0) {
                        char szBuf[1024];
                        ssize_t nRead = read(m_nMaster, szBuf, sizeof(szBuf));
                        if (nRead > 0)
                            m_strSeen.append(szBuf, (size_t)nRead);
                    }
                }
                size_t uFound = m_strSeen.find(step.first, uFrom);
                uFrom = uFound == std::string::npos ? m_strSeen.size() : uFound + step.first.size();
                ssize_t nDone = write(m_nMaster, step.second.data(), step.second.size());
                (void)nDone;
            }
        });
    }
    std::string Mode() const
    {
        struct termios mode;
        tcgetattr(m_nSlave, &mode);
        return std::string((mode.c_lflag & ICANON) ? "lines" : "keys") + ((mode.c_lflag & ECHO) ? "+echo" : "") +
               " VMIN=" + std::to_string(mode.c_cc[VMIN]);
    }
    const std::string& Seen() const { return m_strSeen; }

private:
    int m_nMaster = -1;
    int m_nSlave = -1;
    int m_nSavedIn = -1;
    int m_nSavedOut = -1;
    std::string m_strSeen;
};

} // namespace

// A scripted answer wins; when none is left the person at the terminal is
// asked, also under RV_SIM_ROOT and while the terminal is in the movie's key
// mode: the prompt reads a whole line with echo, blocking, and the key mode
// comes back after it. An answer that fits no button asks again.
TEST(MessageBox, AsksThePersonAtTheTerminalWhenNoScriptedAnswerIsLeft)
{
    Rv_TestTempDir sim;
    Rv_TestWriteFile(sim.File("msgbox_answers"), "yes\n");
    setenv("RV_SIM_ROOT", sim.Path().c_str(), 1);
    PersonAtTerminal person;
    ASSERT_TRUE(person.IsOpen());
    const std::string strStart = person.Mode();
    ASSERT_TRUE(Pf_TerminalEnterKeyMode());
    const std::string strKeys = person.Mode();

    int nScripted = Pf_MessageBox("a", "c", PF_MB_YESNO);
    std::thread typing = person.Answer({{"[Y]es / [N]o ? ", "maybe\n"}, {"[Y]es / [N]o ? ", "n\n"}});
    int nAsked = Pf_MessageBox("stop?", "c", PF_MB_YESNO | PF_MB_ICONQUESTION);
    typing.join();
    const std::string strAfter = person.Mode();
    Pf_TerminalLeaveKeyMode();
    const std::string strEnd = person.Mode();
    unsetenv("RV_SIM_ROOT");

    EXPECT_EQ(PF_IDYES, nScripted);
    EXPECT_EQ(PF_IDNO, nAsked);
    EXPECT_EQ("keys VMIN=0", strKeys);
    EXPECT_EQ(strKeys, strAfter) << "the key mode comes back after the prompt";
    EXPECT_EQ(strStart, strEnd);
    EXPECT_NE(std::string::npos, person.Seen().find("== c ==\r\nstop?\r\n")) << person.Seen();
    EXPECT_NE(std::string::npos, Rv_TestReadFile(sim.File("msgbox_transcript")).find("answer=No caption=c text=stop?"));
}
