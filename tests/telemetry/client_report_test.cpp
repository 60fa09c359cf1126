// The reporter object: operations that need the set-up, one thread per
// report kind with a second call waiting for the first, the once-per-machine
// flags, the click queue and its sender, shut-down and destruction.
#include "platform/ini.h"
#include "tests/telemetry/client_report_access.h"
#include "tests/telemetry/report_fixture.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

namespace {

const char s_szUUID[] = "0123456789abcdef0123456789abcdef";

class ClientReport : public ReportWorld {
protected:
    void Prepare(NyClientReport& Report)
    {
        NyClientReportTestAccess::Prepare(Report, Client(""), s_szUUID, "QV7:zhcn", "own-id");
    }
    std::string UpdaterIni() { return Client("refitter.ini"); }
};

}  // namespace

TEST_F(ClientReport, OperationsThatNeedTheSetUpFailWithoutIt)
{
    struct Case {
        const char* cszName;
        int (*pfnCall)(NyClientReport&);
    } aCases[] = {
        {"ReportVersionInfo", [](NyClientReport& r) { return r.ReportVersionInfo(); }},
        {"ReportMachineInfo", [](NyClientReport& r) { return r.ReportMachineInfo(); }},
        {"Benchmark", [](NyClientReport& r) { return r.Benchmark(); }},
        {"ReportQV7ChannelInfo", [](NyClientReport& r) { return r.ReportQV7ChannelInfo(); }},
        {"ReportQV7AddonInfo", [](NyClientReport& r) { return r.ReportQV7AddonInfo(); }},
        {"ReportDownloadSpeed", [](NyClientReport& r) { return r.ReportDownloadSpeed(1, 2); }},
        {"ReportMainStartInfo", [](NyClientReport& r) { return r.ReportMainStartInfo(1, 0); }},
    };
    for (const Case& c : aCases) {
        NyClientReport Report;
        EXPECT_EQ(0, c.pfnCall(Report)) << c.cszName;
        // After a set-up and shut-down the flag is down again.
        Prepare(Report);
        Report.UnInit();
        EXPECT_EQ(0, c.pfnCall(Report)) << c.cszName;
        EXPECT_NE(std::string::npos,
                  m_Log.Text().find("RVLOG_PROCESS_ERROR(m_bInitFlag) at line ")) << c.cszName;
        EXPECT_NE(std::string::npos, m_Log.Text().find("in NyClientReport::" + std::string(c.cszName) + "\r\n"))
            << c.cszName;
    }
    EXPECT_TRUE(m_Server.Requests().empty());
}

// A second report of one kind waits until the first request has ended, and
// the first report never sees the second call's values.
TEST_F(ClientReport, SecondCallOfOneKindWaitsForTheFirst)
{
    NyClientReport Report;
    Prepare(Report);
    HoldPath("/gamereport/Qv7/downloadspeed.do");

    ASSERT_EQ(1, Report.ReportDownloadSpeed(100, 50));
    ASSERT_TRUE(m_Server.WaitForRequests(1, 10000));
    std::atomic<bool> bSecondReturned{false};
    std::thread second([&] {
        EXPECT_EQ(1, Report.ReportDownloadSpeed(300, 150));
        bSecondReturned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(bSecondReturned);
    EXPECT_EQ(1u, m_Server.Requests().size());
    m_Server.ReleaseHeld();
    second.join();
    Report.UnInit();

    std::vector<Rv_TestFields> vecPosts = Posts("/gamereport/Qv7/downloadspeed.do");
    ASSERT_EQ(2u, vecPosts.size());
    EXPECT_EQ((Rv_TestFields{{"game_name", "q7"}, {"value", std::string(s_szUUID) + "|100|50"}}), vecPosts[0]);
    EXPECT_EQ((Rv_TestFields{{"game_name", "q7"}, {"value", std::string(s_szUUID) + "|300|150"}}), vecPosts[1]);
}

// The stored number is a generation: below the report's number it is sent
// again; a changed identifier sends it whatever is stored.
TEST_F(ClientReport, OncePerMachineFlags)
{
    struct Case {
        const char* cszStored;      // nullptr: no key
        int bChanged;
        int nNumber;
        int bReported;
    } aCases[] = {
        {nullptr, 0, 8, 0}, {"7", 0, 8, 0}, {"8", 0, 8, 1}, {"9", 0, 8, 1},
        {"16", 1, 8, 0},    {"abc", 0, 1, 0}, {"4x", 0, 4, 1},
    };
    for (const Case& c : aCases) {
        NyClientReport Report;
        Prepare(Report);
        Pf_DeleteFile(UpdaterIni());
        if (c.cszStored)
            Rv_TestWriteFile(UpdaterIni(), std::string("[MachineInfo]\nMachineInfoReported=") + c.cszStored + "\n");
        NyClientReportTestAccess::SetUUIDChanged(Report, c.bChanged);
        EXPECT_EQ(c.bReported, NyClientReportTestAccess::IsInfoReported(Report, "MachineInfoReported", c.nNumber))
            << (c.cszStored ? c.cszStored : "none") << " changed " << c.bChanged << " number " << c.nNumber;
    }
}

TEST_F(ClientReport, SettingAFlagWritesItsNumber)
{
    NyClientReport Report;
    Prepare(Report);
    Rv_TestWriteFile(UpdaterIni(), "[MachineInfo]\nUUIDEx=x\nDeviceInfoReported=3\n[server_1]\nip=a\n");
    EXPECT_EQ(1, NyClientReportTestAccess::SetInfoReported(Report, "DeviceInfoReported", 16));
    EXPECT_EQ(1, NyClientReportTestAccess::SetInfoReported(Report, "AutoConfigDisplay", -1));
    EXPECT_EQ("16", Pf_IniReadString(UpdaterIni(), "MachineInfo", "DeviceInfoReported", ""));
    EXPECT_EQ("-1", Pf_IniReadString(UpdaterIni(), "MachineInfo", "AutoConfigDisplay", ""));
    EXPECT_EQ("x", Pf_IniReadString(UpdaterIni(), "MachineInfo", "UUIDEx", ""));
    EXPECT_EQ("a", Pf_IniReadString(UpdaterIni(), "server_1", "ip", ""));
    // A folder that cannot take the ini fails the write.
    NyClientReportTestAccess::Prepare(Report, m_Dir.File("missing/"), s_szUUID, "QV7:zhcn", "own-id");
    EXPECT_EQ(0, NyClientReportTestAccess::SetInfoReported(Report, "DeviceInfoReported", 16));
    EXPECT_NE(std::string::npos, m_Log.Text().find("RVLOG_PROCESS_ERROR(nRetCode > 0)"));
}

TEST_F(ClientReport, ClickRecordsAndRefusedClicks)
{
    NyClientReport Report;
    Prepare(Report);
    EXPECT_EQ(1, Report.ReportControlClick("btn", ""));
    EXPECT_EQ(1, Report.ReportControlClick("news", "http://a.example/?x=1&y=2"));
    struct Refused {
        const char* cszControlID;
        const char* cszLink;
        const char* cszLogText;
    } aRefused[] = {
        {nullptr, "", "RVLOG_PROCESS_ERROR(cszControlID)"},
        {"", "", "RVLOG_PROCESS_ERROR(cszControlID[0])"},
        {"btn", nullptr, "RVLOG_PROCESS_ERROR(cszLinkURL)"},
        {"btn", std::string(600, 'L').c_str(), "RVLOG_PROCESS_ERROR(nRetCode < _countof(szReprotInfo))"},
    };
    std::string strLong(600, 'L');
    aRefused[3].cszLink = strLong.c_str();
    for (const Refused& r : aRefused) {
        EXPECT_EQ(0, Report.ReportControlClick(r.cszControlID, r.cszLink)) << r.cszLogText;
        EXPECT_NE(std::string::npos, m_Log.Text().find(r.cszLogText)) << r.cszLogText;
    }
    EXPECT_EQ(2u, NyClientReportTestAccess::ClickCount(Report));

    ASSERT_EQ(1, NyClientReportTestAccess::StartClickSender(Report));
    Report.UnInit();
    std::vector<Rv_TestFields> vecPosts = Posts("/report/Qv7/ControlClick");
    ASSERT_EQ(2u, vecPosts.size());
    EXPECT_EQ((Rv_TestFields{{"game_name", ""}, {"value", std::string("1|") + s_szUUID + "|btn|\"\""}}), vecPosts[0]);
    EXPECT_EQ((Rv_TestFields{{"game_name", ""},
                             {"value", std::string("1|") + s_szUUID + "|news|\"http://a.example/?x=1&y=2\""}}),
              vecPosts[1]);
}

// Clicks are sent in the order queued, those queued while the sender drains
// and those queued just before the shut-down included.
TEST_F(ClientReport, EveryClickQueuedBeforeTheShutDownIsSentInOrder)
{
    NyClientReport Report;
    Prepare(Report);
    HoldPath("/report/Qv7/ControlClick", 1);
    ASSERT_EQ(1, NyClientReportTestAccess::StartClickSender(Report));

    ASSERT_EQ(1, Report.ReportControlClick("c0", ""));
    ASSERT_TRUE(m_Server.WaitForRequests(1, 10000));
    // Queued while the first one is being sent.
    for (int i = 1; i < 5; ++i)
        ASSERT_EQ(1, Report.ReportControlClick(("c" + std::to_string(i)).c_str(), ""));
    m_Server.ReleaseHeld();
    // Queued right before the shut-down, most likely during the sender's pause.
    for (int i = 5; i < 8; ++i)
        ASSERT_EQ(1, Report.ReportControlClick(("c" + std::to_string(i)).c_str(), ""));
    Report.UnInit();

    std::vector<Rv_TestFields> vecPosts = Posts("/report/Qv7/ControlClick");
    ASSERT_EQ(8u, vecPosts.size());
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(std::string("1|") + s_szUUID + "|c" + std::to_string(i) + "|\"\"", vecPosts[i].at(1).second);
    EXPECT_EQ(0u, NyClientReportTestAccess::ClickCount(Report));
}

// Without a sender nothing takes clicks away: the queue stops growing at its bound.
TEST_F(ClientReport, ClickQueueIsBounded)
{
    NyClientReport Report;
    for (int i = 0; i < RV_REPORT_CLICK_QUEUE_MAX; ++i)
        ASSERT_EQ(1, Report.ReportControlClick("btn", "")) << i;
    EXPECT_EQ(0, Report.ReportControlClick("btn", ""));
    EXPECT_EQ((size_t)RV_REPORT_CLICK_QUEUE_MAX, NyClientReportTestAccess::ClickCount(Report));
    EXPECT_NE(std::string::npos, m_Log.Text().find("m_uClickCount < RV_REPORT_CLICK_QUEUE_MAX"));
}

TEST_F(ClientReport, ShutDownWithoutSetUpChangesNothing)
{
    NyClientReport Report;
    Report.m_nUpdateError = 205;
    Report.m_strBeforeVersion = "1.0";
    ASSERT_EQ(1, Report.ReportControlClick("btn", ""));
    Report.UnInit();
    EXPECT_EQ(205, Report.m_nUpdateError);
    EXPECT_EQ("1.0", Report.m_strBeforeVersion);
    EXPECT_EQ(1u, NyClientReportTestAccess::ClickCount(Report));
    EXPECT_TRUE(m_Server.Requests().empty());
}

// A report that needs no set-up is still waited for, so that it never runs
// on into the process's exit.
TEST_F(ClientReport, ShutDownWithoutSetUpWaitsForReportsStillSending)
{
    NyClientReport Report;
    HoldPath("/report/Qv7_dev/sync_resource");
    ASSERT_EQ(1, Report.ReportSyncInfo());
    ASSERT_TRUE(m_Server.WaitForRequests(1, 10000));
    std::atomic<bool> bReleased{false};
    std::thread releaser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        bReleased = true;
        m_Server.ReleaseHeld();
    });
    Report.UnInit();
    EXPECT_TRUE(bReleased);
    releaser.join();
}

TEST_F(ClientReport, ShutDownResetsTheOutcomesAndIdentifiers)
{
    NyClientReport Report;
    Prepare(Report);
    NyClientReportTestAccess::SetUUIDChanged(Report, 1);
    Report.clientIsX64 = 1;
    Report.m_nStartType = 1;
    Report.m_nStartUpdaterError = 1;
    Report.m_nUpdateError = 205;
    Report.m_nSyncError = 211;
    Report.m_strBeforeVersion = "1.0";
    Report.UnInit();
    EXPECT_EQ(0, NyClientReportTestAccess::InitFlag(Report));
    EXPECT_EQ(0, NyClientReportTestAccess::UUIDChanged(Report));
    EXPECT_EQ("", NyClientReportTestAccess::FelnUUID(Report));
    EXPECT_EQ("", NyClientReportTestAccess::ClientType(Report));
    EXPECT_EQ("", NyClientReportTestAccess::MachineUUID(Report));
    EXPECT_EQ(Client(""), NyClientReportTestAccess::ExeFolder(Report));
    EXPECT_EQ(0, Report.clientIsX64 | Report.m_nStartType | Report.m_nStartUpdaterError | Report.m_nUpdateError |
                     Report.m_nSyncError);
    EXPECT_EQ("0", Report.m_strBeforeVersion);
}

// A report still sending when the reporter goes is waited for before any
// field is released (the sanitizers see a read of a freed field otherwise).
TEST_F(ClientReport, DestructionWaitsForReportsStillSending)
{
    auto pReport = std::make_unique<NyClientReport>();
    Prepare(*pReport);
    HoldPath("/gamereport/Qv7/client_start_info.do");
    ASSERT_EQ(1, pReport->ReportVersionInfo());
    ASSERT_TRUE(m_Server.WaitForRequests(1, 10000));
    std::thread releaser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        m_Server.ReleaseHeld();
    });
    pReport.reset();
    releaser.join();
    EXPECT_EQ(std::string::npos, m_Log.Text().find("HttpSyncPost.Post()"));
}

TEST_F(ClientReport, SetRefitterRefusesNone)
{
    NyClientReport Report;
    EXPECT_EQ(0, Report.SetRefitter(nullptr));
    EXPECT_NE(std::string::npos, m_Log.Text().find("RVLOG_PROCESS_ERROR(pRefitter)"));
    EXPECT_EQ(1, Report.SetRefitter(reinterpret_cast<NyRefitter*>(&Report)));
}
