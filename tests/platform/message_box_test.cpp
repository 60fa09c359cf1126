// Message boxes: scripted answers in order, the transcript, the fixed defaults.
#include "platform/message_box.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <unistd.h>

namespace {
std::string s_strLogged;
void _LogHook(const char* cszLine)
{
    s_strLogged += std::string(cszLine) + "\n";
}
} // namespace

TEST(MessageBox, ScriptedAnswersAndTranscript)
{
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
