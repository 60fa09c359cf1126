// The security-product check against the loopback server: the answer file
// for a pending chain and for the latest version, no answer after any
// failure (list unreachable, a bad list, a patch without a size), and the
// singleton event that keeps a second instance off the first one's answer.
#include "app/feln_help_updater.h"
#include "config/application_path.h"
#include "platform/file.h"
#include "platform/ini.h"
#include "tests/support/http_server.h"
#include "tests/support/patch_list_builder.h"
#include "tests/support/temp_dir.h"
#include "tests/support/update_client.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

namespace {

std::string _Patch(const std::string& strFrom, const std::string& strTo)
{
    return "p_c_" + strFrom + "-to-" + strTo + "_.zip";
}

class FelnHelpUpdaterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Rv_TestPrepareSimMachine(m_Dir);
        ASSERT_TRUE(Pf_CreateDirChain(m_strUpdate));
        Rv_SetApplicationNameForTest(m_strApp + "Refitter.exe");
        Rv_TestWriteFile(m_strApp + "version.cfg", Rv_TestVersionCfg("1.0"));
        m_Server.Start();
        Rv_TestWriteFile(m_strApp + "refitter.ini", "[server_1]\nip=" + m_Server.Url("/") + "\n");
    }
    void TearDown() override
    {
        m_Server.Stop();
        Rv_SetApplicationNameForTest("");
        unsetenv("RV_SIM_ROOT");
        unsetenv("RV_EVENT_PREFIX");
    }

public:
    // The server at 1.3 with the chain 1.0 -> 1.1 -> 1.2 -> 1.3.
    void ServeThreePatches(const std::string& strThirdMD5 = "")
    {
        Rv_TestWritePatchServer(m_Dir.File("www/zhcn"), "1.3",
                                {{_Patch("1.0", "1.1"), std::string(700, 'a'), "", ""},
                                 {_Patch("1.1", "1.2"), std::string(50, 'b'), "", ""},
                                 {_Patch("1.2", "1.3"), std::string(12345, 'c'), "", strThirdMD5}},
                                &m_vecListed);
    }
    std::string Url(const std::string& strName) { return m_Server.Url("/zhcn/") + strName; }
    std::string Result() { return Rv_TestReadFile(m_strUpdate + "felnupdate.ini"); }

    Rv_TestTempDir m_Dir;
    std::string m_strApp = m_Dir.File("Game/bin/");
    std::string m_strUpdate = m_strApp + "update/";
    Rv_TestHttpServer m_Server{m_Dir.File("www")};
    std::vector<Rv_TestListedPatch> m_vecListed;
};

} // namespace

// The first patch lies complete in the update folder, the second only in
// part: the answer lists the second and the third, numbered from 0.
TEST_F(FelnHelpUpdaterTest, PendingChainSkipsTheCompletePatch)
{
    ServeThreePatches();
    Rv_TestWriteFile(m_strUpdate + _Patch("1.0", "1.1"), std::string(700, 'a'));
    Rv_TestWriteFile(m_strUpdate + _Patch("1.1", "1.2") + ".tmp", std::string(20, 'b'));
    Rv_TestWriteFile(m_strUpdate + "felnupdate.ini", "[common]\r\ncurver=old\r\n");

    NyFelnHelpUpdater Updater;
    ASSERT_TRUE(Updater.init());
    EXPECT_FALSE(Pf_PathExists(m_strUpdate + "felnupdate.ini"));
    ASSERT_TRUE(Updater.run());

    // The paths are native: the security product opens them on this machine.
    const std::string& strUpdate = m_strUpdate;
    EXPECT_EQ("[common]\r\ncurver=1.0\r\nsvrver=1.3\r\nupdateurl=" + Url("login_web/QV7Patch.swf") + "\r\n"
              "[item0]\r\nurl=" + Url(_Patch("1.1", "1.2")) + "\r\npath=" + strUpdate + _Patch("1.1", "1.2") +
                  ".tmp\r\nmd5=" + m_vecListed[1].strMD5 + "\r\nsize=50\r\n"
              "[item1]\r\nurl=" + Url(_Patch("1.2", "1.3")) + "\r\npath=" + strUpdate + _Patch("1.2", "1.3") +
                  ".tmp\r\nmd5=" + m_vecListed[2].strMD5 + "\r\nsize=12345\r\n",
              Result());
    // The partial download is left for the downloader to resume, and the
    // check leaves no list copy or temporary answer behind.
    EXPECT_EQ(std::string(20, 'b'), Rv_TestReadFile(m_strUpdate + _Patch("1.1", "1.2") + ".tmp"));
    EXPECT_FALSE(Pf_PathExists(m_strUpdate + "felnupdate_list.txt"));
    EXPECT_FALSE(Pf_PathExists(m_strUpdate + "felnupdate.ini.tmp"));
    EXPECT_FALSE(Pf_PathExists(m_strUpdate + "autoupdateentry.txt"));
}

// A window updater's own list copy in the same folder is not touched.
TEST_F(FelnHelpUpdaterTest, LatestVersionAnswersOnlyTheCommonSection)
{
    Rv_TestWritePatchServer(m_Dir.File("www/zhcn"), "1.0", {{_Patch("0.9", "1.0"), "x", "", ""}});
    Rv_TestWriteFile(m_strUpdate + "autoupdateentry.txt", "the window updater's copy");

    NyFelnHelpUpdater Updater;
    ASSERT_TRUE(Updater.init());
    ASSERT_TRUE(Updater.run());
    EXPECT_EQ("[common]\r\ncurver=1.0\r\nsvrver=1.0\r\nupdateurl=" + Url("login_web/QV7Patch.swf") + "\r\n", Result());
    EXPECT_EQ("the window updater's copy", Rv_TestReadFile(m_strUpdate + "autoupdateentry.txt"));
    EXPECT_TRUE(m_Server.RequestsFor("/zhcn/" + _Patch("0.9", "1.0")).empty());
}

// Every failure of the check leaves no answer, not even the old one.
TEST_F(FelnHelpUpdaterTest, FailuresLeaveNoAnswer)
{
    struct Case {
        const char* cszName;
        std::function<void(FelnHelpUpdaterTest*)> Prepare;
    };
    const Case aCases[] = {
        {"list unreachable",
         [](FelnHelpUpdaterTest* p) {
             Rv_TestHttpFault fault;
             fault.nStatus = 404;
             p->m_Server.SetFault("/zhcn/autoupdateentry.txt*", fault);
         }},
        {"server down", [](FelnHelpUpdaterTest* p) { p->m_Server.Stop(); }},
        {"list without a latest version",
         [](FelnHelpUpdaterTest* p) {
             Rv_TestWriteFile(p->m_Dir.File("www/zhcn/autoupdateentry.txt"), "[PatchList]\nPatch_1=x\n");
         }},
        {"patch name with a path",
         [](FelnHelpUpdaterTest* p) {
             Rv_TestWriteFile(p->m_Dir.File("www/zhcn/autoupdateentry.txt"),
                              Rv_TestPatchListText("1.1", {{"../" + _Patch("1.0", "1.1"), std::string(32, 'a')}}));
         }},
        {"MD5 that is no digest", [](FelnHelpUpdaterTest* p) { p->ServeThreePatches("not a digest"); }},
        {"patch missing on the server",
         [](FelnHelpUpdaterTest* p) {
             p->ServeThreePatches();
             Rv_TestHttpFault fault;
             fault.nStatus = 404;
             p->m_Server.SetFault("/zhcn/" + _Patch("1.1", "1.2"), fault);
         }},
        {"patch without a size",
         [](FelnHelpUpdaterTest* p) {
             p->ServeThreePatches();
             Rv_TestHttpFault fault;
             fault.bNoContentLength = true;
             p->m_Server.SetFault("/zhcn/" + _Patch("1.2", "1.3"), fault);
         }},
        {"no server address",
         [](FelnHelpUpdaterTest* p) {
             p->ServeThreePatches();
             Rv_TestWriteFile(p->m_strApp + "refitter.ini", "[server_1]\n");
         }},
    };
    for (const Case& c : aCases) {
        m_Server.Stop();
        m_Server.ClearFaults();
        Pf_RemoveTree(m_Dir.File("www"));
        m_Server.Start();
        Rv_TestWriteFile(m_strApp + "refitter.ini", "[server_1]\nip=" + m_Server.Url("/") + "\n");
        Rv_TestWriteFile(m_strUpdate + "felnupdate.ini", "[common]\r\ncurver=old\r\n");
        ASSERT_TRUE(Pf_SetReadOnly(m_strUpdate + "felnupdate.ini", 1));
        c.Prepare(this);

        NyFelnHelpUpdater Updater;
        ASSERT_TRUE(Updater.init()) << c.cszName;
        EXPECT_FALSE(Updater.run()) << c.cszName;
        EXPECT_FALSE(Pf_PathExists(m_strUpdate + "felnupdate.ini")) << c.cszName;
        EXPECT_FALSE(Pf_PathExists(m_strUpdate + "felnupdate_list.txt")) << c.cszName;
    }
}

// While one instance holds the event, a second fails and leaves the first
// one's answer alone; once the first is gone, the next run may start.
TEST_F(FelnHelpUpdaterTest, SecondInstanceFailsAtTheEvent)
{
    ServeThreePatches();
    {
        NyFelnHelpUpdater First;
        ASSERT_TRUE(First.init());
        ASSERT_TRUE(First.run());
        const std::string strAnswer = Result();
        ASSERT_NE("", strAnswer);

        NyFelnHelpUpdater Second;
        EXPECT_FALSE(Second.init());
        EXPECT_FALSE(Second.run());
        EXPECT_EQ(strAnswer, Result());

        // An instance of another version line has its own event.
        Rv_TestWriteFile(m_strApp + "version.cfg",
                         "[Version]\nTalon5.version=1.0\nTalon5.VersionLineName=zhtw\n");
        NyFelnHelpUpdater Other;
        EXPECT_TRUE(Other.init());
        Rv_TestWriteFile(m_strApp + "version.cfg", Rv_TestVersionCfg("1.0"));
    }
    NyFelnHelpUpdater Next;
    EXPECT_TRUE(Next.init());
    EXPECT_FALSE(Pf_PathExists(m_strUpdate + "felnupdate.ini"));
}
