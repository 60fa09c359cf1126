// The reports sent as form posts and the channel report's tracking image:
// each one's path and fields in order against a loopback service, the
// add-on list and its once-per-machine flag, and the channel numbers,
// setup version and install type from "channel.ini" and the registry.
#include "foundation/registry_value.h"
#include "platform/ini.h"
#include "tests/telemetry/client_report_access.h"
#include "tests/telemetry/report_fixture.h"

namespace {

const char s_szPixel[] = "/pagetracer4Unencrypt/feln/__utm.gif";

class FormReport : public PreparedReport {
protected:
    void SetUp() override
    {
        m_szClientType = "QV7:zhcn-abc";
        PreparedReport::SetUp();
    }
};

}  // namespace

TEST_F(FormReport, EachReportsPathAndFields)
{
    ASSERT_EQ(1, m_Report.ReportVersionInfo());
    ASSERT_EQ(1, m_Report.ReportDownloadSpeed(-1, 9223372036854775807LL));
    m_Report.UnInit();

    struct Case {
        const char* cszPath;
        Rv_TestFields fields;
    } aCases[] = {
        {"/gamereport/Qv7/client_start_info.do",
         {{"game_name", "q7"}, {"uuid4", "QV7:zhcn-abc"}, {"uuid5", s_cszUUID}, {"version_type", "zhcn_DevCenter"},
          {"version_number", "1.0.2.3"}}},
        {"/gamereport/Qv7/downloadspeed.do",
         {{"game_name", "q7"}, {"value", std::string(s_cszUUID) + "|-1|9223372036854775807"}}},
    };
    for (const Case& c : aCases) {
        std::vector<Rv_TestFields> vecPosts = Posts(c.cszPath);
        ASSERT_EQ(1u, vecPosts.size()) << c.cszPath;
        EXPECT_EQ(c.fields, vecPosts[0]) << c.cszPath;
    }
}

TEST_F(FormReport, ServiceThatRefusesIsOnlyLogged)
{
    Rv_TestHttpFault refuse;
    refuse.nStatus = 500;
    m_Server.SetFault("/gamereport/Qv7/client_start_info.do", refuse);
    ASSERT_EQ(1, m_Report.ReportVersionInfo());
    m_Report.UnInit();
    std::string strLog = m_Log.Text();
    EXPECT_NE(std::string::npos,
              strLog.find("RVLOG_PROCESS_ERROR(nRetCode && \"HttpSyncPost.Post()\") at line "));
    EXPECT_NE(std::string::npos, strLog.find(" in NyClientReport::_ReportVersionInfoThreadFunc\r\n"));
}

// Only sub-folders that hold "info.ini" are add-ons; none sends nothing and
// leaves the flag unset; a sent list sets it, and a set flag sends nothing.
TEST_F(FormReport, AddonList)
{
    struct Case {
        const char* cszName;
        std::vector<std::string> vecFiles;     // under Interface/
        const char* cszStoredFlag;
        const char* cszAddon;                   // nullptr: nothing sent
        const char* cszFlagAfter;
    } aCases[] = {
        {"one add-on", {"A/info.ini", "B/readme.txt"}, nullptr, "A,\n", "4"},
        {"the folder itself holds info.ini", {"info.ini", "A/info.ini"}, nullptr, "A,\n", "4"},
        {"no add-on", {"B/readme.txt"}, nullptr, nullptr, ""},
        {"no Interface folder", {}, nullptr, nullptr, ""},
        {"an older generation", {"A/info.ini"}, "3", "A,\n", "4"},
        {"already sent", {"A/info.ini"}, "4", nullptr, "4"},
    };
    for (const Case& c : aCases) {
        m_Server.Stop();
        std::unique_ptr<Rv_TestHttpServer> pServer = NewService();
        Rv_TestHttpServer& server = *pServer;
        Rv_TestRun("rm -rf '" + Client("Interface") + "' '" + Client("refitter.ini") + "'");
        for (const std::string& strFile : c.vecFiles)
            Rv_TestWriteFile(Client("Interface/" + strFile), "");
        if (c.cszStoredFlag)
            Rv_TestWriteFile(Client("refitter.ini"), std::string("[MachineInfo]\nAddonInfoReported=") + c.cszStoredFlag);

        NyClientReportTestAccess::RunAddonReport(m_Report);

        std::vector<Rv_TestHttpRequest> vecRequests = server.RequestsFor("/gamereport/qv7/client_addon_info.do");
        if (!c.cszAddon) {
            EXPECT_TRUE(server.Requests().empty()) << c.cszName;
        } else {
            ASSERT_EQ(1u, vecRequests.size()) << c.cszName;
            EXPECT_EQ((Rv_TestFields{{"game_name", "q7"}, {"uuid4", "QV7:zhcn-abc"}, {"uuid5", s_cszUUID},
                                     {"Addon", c.cszAddon}}),
                      Rv_TestFormFields(vecRequests[0].strBody))
                << c.cszName;
        }
        EXPECT_EQ(c.cszFlagAfter, Pf_IniReadString(Client("refitter.ini"), "MachineInfo", "AddonInfoReported", ""))
            << c.cszName;
    }
}

TEST_F(FormReport, AddonListNotTakenLeavesTheFlagUnset)
{
    Rv_TestWriteFile(Client("Interface/A/info.ini"), "");
    Rv_TestHttpFault refuse;
    refuse.nStatus = 500;
    m_Server.SetFault("/gamereport/qv7/client_addon_info.do", refuse);
    NyClientReportTestAccess::RunAddonReport(m_Report);
    EXPECT_EQ(1u, m_Server.Requests().size());
    EXPECT_EQ("", Pf_IniReadString(Client("refitter.ini"), "MachineInfo", "AddonInfoReported", ""));
}

TEST_F(FormReport, ChannelImageQuery)
{
    struct Case {
        const char* cszName;
        const char* cszChannelIni;              // nullptr: no file
        const char* cszRegistrySetup;           // nullptr: no registry value
        const char* cszVersionEx;
        const char* cszQueryTail;               // from "tid1=" on
        const char* cszVersionPart;             // versionlinename and versionex
    } aCases[] = {
        {"tid0 present", "[channel]\ntid0=5\ntid1=7\ntid2=9\n", nullptr, "", "tid1=5&tid2=7&installtype=1&setupversion=",
         "versionlinename=zhcn&versionex="},
        {"tid0 absent", "[channel]\ntid1=3\ntid2=4\nsetupversion=2.1\n", nullptr, "",
         "tid1=3&tid2=4&installtype=1&setupversion=2.1", "versionlinename=zhcn&versionex="},
        {"tid0 negative", "[channel]\ntid0=-2\ntid1=3\n", nullptr, "", "tid1=3&tid2=-1&installtype=1&setupversion=",
         "versionlinename=zhcn&versionex="},
        {"no channel file", nullptr, nullptr, "", "tid1=-1&tid2=-1&installtype=1&setupversion=",
         "versionlinename=zhcn&versionex="},
        {"registry value fills an empty setup version", nullptr, "3.0", "01",
         "tid1=-1&tid2=-1&installtype=0&setupversion=3.0", "versionlinename=zhcn&versionex=01"},
        {"the channel file's setup version wins", "[channel]\nsetupversion=2.5\n", "3.0", "01",
         "tid1=-1&tid2=-1&installtype=0&setupversion=2.5", "versionlinename=zhcn&versionex=01"},
        {"a value that would split the query", "[channel]\nsetupversion=2 &x=#1\n", nullptr, "",
         "tid1=-1&tid2=-1&installtype=1&setupversion=2%20%26x%3D%231", "versionlinename=zhcn&versionex="},
    };
    for (const Case& c : aCases) {
        Rv_TestHttpServer server(m_Dir.File("www"));
        server.Start();
        Rv_TestWriteFile(m_Dir.File("sim/channel_service"), server.HostPort());
        Rv_TestRun("rm -rf '" + Client("channel.ini") + "' '" + m_Dir.File("registry") + "'");
        if (c.cszChannelIni)
            Rv_TestWriteFile(Client("channel.ini"), c.cszChannelIni);
        Rv_TestWriteFile(Client("version.cfg"), std::string("[Version]\nTalon5.VersionLineName=zhcn\nTalon5.versionex=") +
                                                    c.cszVersionEx + "\n");
        // The registry is asked for the line name joined with the versionex.
        if (c.cszRegistrySetup) {
            ASSERT_EQ(1, Rv_SetStringValueToRegister(c.cszVersionEx[0] ? "zhcn_01" : "zhcn", "setupVersion",
                                                     c.cszRegistrySetup));
        }

        NyClientReportTestAccess::RunChannelReport(m_Report);

        std::vector<Rv_TestHttpRequest> vecRequests = server.RequestsFor(s_szPixel);
        ASSERT_EQ(1u, vecRequests.size()) << c.cszName;
        EXPECT_EQ(std::string(s_szPixel) + "?type=50&actionname=qv7_channel&uuid=QV7:zhcn-abc&uuidex=" + s_cszUUID +
                      "&" + c.cszVersionPart + "&" + c.cszQueryTail,
                  vecRequests[0].strTarget)
            << c.cszName;
        EXPECT_FALSE(Pf_PathExists(Client("update/PostChannel.temp"))) << c.cszName;
    }
}

// The image is fetched into the update folder and removed again, also when
// the service answers with an error.
TEST_F(FormReport, ChannelTemporaryFileIsRemoved)
{
    Rv_TestWriteFile(m_Dir.File("www/pagetracer4Unencrypt/feln/__utm.gif"), "GIF89a");
    m_Server.ClearFaults();
    NyClientReportTestAccess::RunChannelReport(m_Report);
    EXPECT_FALSE(Pf_PathExists(Client("update/PostChannel.temp")));
    Rv_TestHttpFault missing;
    missing.nStatus = 404;
    m_Server.SetFault(s_szPixel, missing);
    NyClientReportTestAccess::RunChannelReport(m_Report);
    EXPECT_FALSE(Pf_PathExists(Client("update/PostChannel.temp")));
    EXPECT_EQ(2u, m_Server.RequestsFor(s_szPixel).size());
}

TEST_F(FormReport, ChannelReportThroughItsOperation)
{
    ASSERT_EQ(1, m_Report.ReportQV7ChannelInfo());
    m_Report.UnInit();
    EXPECT_EQ(1u, m_Server.RequestsFor(s_szPixel).size());
}
