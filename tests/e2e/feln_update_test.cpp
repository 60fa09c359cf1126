// Runs of the built Refitter.exe in the security-product check mode: the
// answer file and the exit code, no answer when the server cannot be
// reached, the singleton event of the mode, and what the mode leaves alone
// (the event shared with the security product, the reporter, the window).
#include "tests/e2e/update_run_fixture.h"
#include "platform/ini.h"
#include "platform/named_event.h"

namespace {

const char* const s_cszSharedEvent = "Global\\feln_qv7update_{0C941A6A}";
const char* const s_cszSingletonEvent = "Global\\zhcn_felnupdate_{D51BB2CE}";

class FelnUpdateRun : public UpdateRoad {
protected:
    std::string Answer() { return Client("update/felnupdate.ini"); }
    std::string AnswerValue(const std::string& strSection, const std::string& strKey)
    {
        return Pf_IniReadString(Answer(), strSection, strKey, "<absent>");
    }
};

} // namespace

// Patches pending: the answer names them, the window never opens, the event
// shared with the security product is not signalled and the reporter does
// not start (it would record the machine in "refitter.ini").
TEST_F(FelnUpdateRun, PendingPatchesAnswered)
{
    std::vector<Rv_TestListedPatch> vecListed;
    Rv_TestWritePatchServer(Server(""), "1.2",
                            {{Rv_TestE2EPatchName("1.0", "1.1"), std::string(300, 'a'), "", ""},
                             {Rv_TestE2EPatchName("1.1", "1.2"), std::string(40, 'b'), "", ""}},
                            &vecListed);
    Pf_NamedEvent Shared;
    ASSERT_TRUE(Shared.Create(s_cszSharedEvent));

    EXPECT_EQ(0, Run("/FELNUPDATE")) << Logs();
    EXPECT_EQ("1.0", AnswerValue("common", "curver"));
    EXPECT_EQ("1.2", AnswerValue("common", "svrver"));
    EXPECT_EQ(m_Server.Url("/zhcn/login_web/QV7Patch.swf"), AnswerValue("common", "updateurl"));
    for (int i = 0; i < 2; ++i) {
        const std::string strItem = "item" + std::to_string(i);
        const std::string& strName = vecListed[(size_t)i].strName;
        EXPECT_EQ(m_Server.Url("/zhcn/" + strName), AnswerValue(strItem, "url"));
        EXPECT_EQ(Client("update/" + strName + ".tmp"), AnswerValue(strItem, "path"));
        EXPECT_EQ(vecListed[(size_t)i].strMD5, AnswerValue(strItem, "md5"));
    }
    EXPECT_EQ("300", AnswerValue("item0", "size"));
    EXPECT_EQ("40", AnswerValue("item1", "size"));
    EXPECT_EQ("<absent>", AnswerValue("item2", "url"));

    EXPECT_FALSE(Shared.Wait(0));
    EXPECT_EQ("<absent>", Pf_IniReadString(Client("refitter.ini"), "MachineInfo", "UUIDEx", "<absent>"));
    EXPECT_EQ("", Transcript());
    std::string strLogs = Logs();
    EXPECT_NE(std::string::npos, strLogs.find("Command line : /FELNUPDATE")) << strLogs;
    EXPECT_NE(std::string::npos, strLogs.find("Close CRThread done.")) << strLogs;
    // Only the list and the patches' sizes were asked for; nothing was downloaded.
    EXPECT_FALSE(Pf_PathExists(Client("update/" + vecListed[0].strName)));
    EXPECT_FALSE(Pf_PathExists(Client("update/" + vecListed[0].strName + ".tmp")));
}

TEST_F(FelnUpdateRun, AlreadyLatestAnswersOnlyTheVersions)
{
    Rv_TestWritePatchServer(Server(""), "1.0", {});
    EXPECT_EQ(0, Run("/felnupdate"));
    std::vector<std::string> vecKeys;
    ASSERT_TRUE(Pf_IniGetSectionKeys(Answer(), "common", &vecKeys));
    EXPECT_EQ((std::vector<std::string>{"curver", "svrver", "updateurl"}), vecKeys);
    EXPECT_EQ("<absent>", AnswerValue("item0", "url"));
}

// An old answer goes even when no new one can be made.
TEST_F(FelnUpdateRun, UnreachableServerLeavesNoAnswer)
{
    Rv_TestWriteFile(Answer(), "[common]\r\ncurver=0.9\r\n");
    m_Server.Stop();
    EXPECT_EQ(1, Run("/FELNUPDATE"));
    EXPECT_FALSE(Pf_PathExists(Answer()));
}

// While another instance holds the mode's event, the run fails and the
// other instance's answer stays as it is.
TEST_F(FelnUpdateRun, SecondInstanceLeavesTheAnswerAlone)
{
    Rv_TestWritePatchServer(Server(""), "1.0", {});
    const std::string strOther = "[common]\r\ncurver=from the other instance\r\n";
    Rv_TestWriteFile(Answer(), strOther);
    {
        Pf_NamedEvent Singleton;
        ASSERT_TRUE(Singleton.Create(s_cszSingletonEvent));
        EXPECT_EQ(1, Run("/FELNUPDATE"));
        EXPECT_EQ(strOther, Rv_TestReadFile(Answer()));
        EXPECT_TRUE(m_Server.Requests().empty());
    }
    EXPECT_EQ(0, Run("/FELNUPDATE"));
    EXPECT_EQ("1.0", AnswerValue("common", "curver"));
}
