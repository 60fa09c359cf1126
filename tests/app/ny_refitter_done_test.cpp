// What the updater object does when the client is up to date: after an
// update the warnings of the machine reach the movie before the end state;
// both ways the installation's registry values are written.
#include "app/ny_refitter.h"

#include "foundation/registry_value.h"
#include "tests/app/machine_fixture.h"

namespace {

class NyRefitterDone : public SimulatedMachine {
protected:
    void SetUp() override
    {
        SimulatedMachine::SetUp();
        Fact("player_version", "11.2");
        Fact("movie_script", "");
        Rv_TestWriteFile(m_Dir.File("movie.swf"), "REFITTER-MOVIE 1\ntitle T\n");
        Rv_TestWriteFile(App("version.cfg"), Rv_TestVersionCfg("2.5"));
    }
    // Sets the status and delivers what was queued for the movie; the transcript.
    std::string SetStatus(int nStatus)
    {
        NyRefitter refitter;
        Pf_Message message;
        EXPECT_TRUE(refitter.Init(m_Dir.File("movie.swf").c_str()));
        refitter._SetStatusCode(nStatus);
        while (refitter.GetFlashWindow()->GetWindow()->Peek(&message)) {
            if (message.uMessage != WM_FLASH_QUIT)
                refitter.GetFlashWindow()->WindowProc(message);
        }
        refitter.UnInit();
        return Rv_TestReadFile(m_Dir.File("sim/movie_transcript"));
    }
    static std::string Version()
    {
        char szValue[64];
        return Rv_GetStringValueFromRegister("zhcn", "version", szValue, sizeof(szValue)) ? szValue : "<none>";
    }
};

TEST_F(NyRefitterDone, WarningBeforeTheEndStateAfterAnUpdate)
{
    Fact("ac_line", "0");
    Fact("battery_percent", "41");
    Fact("available_memory", "314572800");
    const std::string strText = SetStatus(UPDATE_STATUS_COMPLETE);
    const std::string strExpected = "SetStatusWarnning\t0|" + Text(170) + "&1|" + Text(171) +
                                    "\nSetUpdateState\t1\nSetTxtM\t" + Text(156) + "\n";
    EXPECT_NE(std::string::npos, strText.find(strExpected)) << strText;
    EXPECT_EQ("2.5", Version());
}

TEST_F(NyRefitterDone, NoWarningCallOnAHealthyDesktopOrWhenNoUpdateWasNeeded)
{
    for (int nStatus : {UPDATE_STATUS_COMPLETE, UPDATE_STATUS_LATEST}) {
        Pf_RemoveTree(m_Dir.File("registry"));
        if (nStatus == UPDATE_STATUS_LATEST) {
            Fact("ac_line", "0");
            Fact("battery_percent", "41");
        }
        const std::string strText = SetStatus(nStatus);
        EXPECT_EQ(std::string::npos, strText.find("SetStatusWarnning")) << strText;
        EXPECT_EQ("2.5", Version()) << nStatus;
    }
}

} // namespace
