// The signed reports (each path, fields and key; the outcome codes; the
// full-client report's version line; the laptop configuration's defaults;
// the device report's once-per-machine flag) and the form reports that
// carry the machine's probes.
#include "platform/file.h"
#include "platform/ini.h"
#include "telemetry/client_report_common.h"
#include "tests/telemetry/client_report_access.h"
#include "tests/telemetry/report_fixture.h"
#include "tests/telemetry/signed_capture.h"

#include <functional>
#include <thread>

namespace {


class SignedReport : public PreparedReport {
protected:
    // The one signed report sent to strPath, its signature checked.
    Rv_TestSignedFields Sent(const std::string& strPath, const char* cszKey)
    {
        std::vector<Rv_TestHttpRequest> vecRequests = m_Server.RequestsFor(strPath);
        EXPECT_EQ(1u, vecRequests.size()) << strPath;
        if (vecRequests.size() != 1)
            return {};
        EXPECT_EQ("POST", vecRequests[0].strMethod);
        return Rv_TestSignedReport(vecRequests[0], cszKey);
    }
    std::string FlagText(int n) { return n ? "1" : "0"; }
    // The disks' free space changes between two readings: only its presence counts.
    template <class Fields>
    static Fields WithoutFreeSpace(Fields fields)
    {
        for (auto& field : fields) {
            if (field.first == "hard_disk" && !field.second.empty())
                field.second = "<free space varies>";
        }
        return fields;
    }
};

}  // namespace

// A code of 0 is a success; any other code is sent as it is.
TEST_F(SignedReport, OutcomeReports)
{
    struct Case {
        const char* cszName;
        int nCode;
        const char* cszPath;
        const char* cszKey;
        int NyClientReport::*pnField;
        int (NyClientReport::*pfnReport)();
    } aCases[] = {
        {"updater start ok", 0, "/report/Qv7_dev/start_refitter", RV_REPORT_KEY_START_UPDATER,
         &NyClientReport::m_nStartUpdaterError, &NyClientReport::ReportStartUpdaterInfo},
        {"updater start failed", 1, "/report/Qv7_dev/start_refitter", RV_REPORT_KEY_START_UPDATER,
         &NyClientReport::m_nStartUpdaterError, &NyClientReport::ReportStartUpdaterInfo},
        {"sync ok", 0, "/report/Qv7_dev/sync_resource", RV_REPORT_KEY_SYNC, &NyClientReport::m_nSyncError,
         &NyClientReport::ReportSyncInfo},
        {"sync failed", 211, "/report/Qv7_dev/sync_resource", RV_REPORT_KEY_SYNC, &NyClientReport::m_nSyncError,
         &NyClientReport::ReportSyncInfo},
    };
    for (const Case& c : aCases) {
        m_Server.Stop();
        std::unique_ptr<Rv_TestHttpServer> pServer = NewService();
        Rv_TestHttpServer& server = *pServer;
        {
            NyClientReport Report;      // needs no set-up; its end waits for the report
            NyClientReportTestAccess::SetExeFolder(Report, Client(""));
            Report.*c.pnField = c.nCode;
            ASSERT_EQ(1, (Report.*c.pfnReport)()) << c.cszName;
        }
        std::vector<Rv_TestHttpRequest> vecRequests = server.RequestsFor(c.cszPath);
        ASSERT_EQ(1u, vecRequests.size()) << c.cszName;
        EXPECT_EQ((Rv_TestSignedFields{{"uuid", ""},
                                       {"successful", c.nCode == 0 ? "1" : "0"},
                                       {"errorcode", std::to_string(c.nCode)}}),
                  Rv_TestSignedReport(vecRequests[0], c.cszKey))
            << c.cszName;
    }
}

// A report sends the values its call found: the application writing the
// next outcome at once, or calling again while the first report is still
// on its way, changes nothing in what the first one sends.
TEST_F(SignedReport, EachCallSendsItsOwnValues)
{
    struct Case {
        const char* cszPath;
        const char* cszKey;
        int (NyClientReport::*pfnReport)();
        std::function<void(NyClientReport&, int)> fnSet;
        std::vector<const char*> vecFields;     // fields that carry the value
        std::function<std::string(int)> fnText;
    } aCases[] = {
        {"/report/Qv7_dev/start_refitter", RV_REPORT_KEY_START_UPDATER, &NyClientReport::ReportStartUpdaterInfo,
         [](NyClientReport& r, int n) { r.m_nStartUpdaterError = n; }, {"errorcode"},
         [](int n) { return std::to_string(n); }},
        {"/report/Qv7_dev/update", RV_REPORT_KEY_UPDATE, &NyClientReport::ReportUpdateInfo,
         [](NyClientReport& r, int n) { r.m_nUpdateError = n; }, {"errorcode"},
         [](int n) { return std::to_string(n); }},
        {"/report/Qv7_dev/sync_resource", RV_REPORT_KEY_SYNC, &NyClientReport::ReportSyncInfo,
         [](NyClientReport& r, int n) { r.m_nSyncError = n; }, {"errorcode"},
         [](int n) { return std::to_string(n); }},
        {"/report/Qv7_dev/start_client", RV_REPORT_KEY_START_CLIENT, &NyClientReport::ReportStartClientInfo,
         [](NyClientReport& r, int n) {
             r.clientIsX64 = n;
             r.m_nStartType = n;
         },
         {"type", "clientIsX64"}, [](int n) { return std::string(n ? "1" : "0"); }},
    };
    for (const Case& c : aCases) {
        m_Server.Stop();
        std::unique_ptr<Rv_TestHttpServer> pServer = NewService();
        Rv_TestHttpServer& server = *pServer;
        Rv_TestHttpFault hold;
        hold.nStatus = 200;
        hold.bHold = true;
        hold.nTimes = 1;
        server.SetFault(c.cszPath, hold);
        Prepare("QV7:zhcn");

        c.fnSet(m_Report, 0);
        ASSERT_EQ(1, (m_Report.*c.pfnReport)()) << c.cszPath;
        c.fnSet(m_Report, 205);
        // The second call waits for the first report, held by the service.
        std::thread release([&] {
            server.WaitForRequests(1, 10000);
            server.ReleaseHeld();
        });
        ASSERT_EQ(1, (m_Report.*c.pfnReport)()) << c.cszPath;
        c.fnSet(m_Report, 0);
        release.join();
        m_Report.UnInit();
        std::vector<Rv_TestHttpRequest> vecRequests = server.RequestsFor(c.cszPath);
        ASSERT_EQ(2u, vecRequests.size()) << c.cszPath;
        for (size_t i = 0; i < 2; ++i) {
            Rv_TestSignedFields fields = Rv_TestSignedReport(vecRequests[i], c.cszKey);
            for (const char* cszField : c.vecFields)
                EXPECT_EQ(c.fnText(i == 0 ? 0 : 205), fields[cszField]) << c.cszPath << " " << cszField << " " << i;
        }
    }
}

TEST_F(SignedReport, UpdateReportCarriesBothVersions)
{
    ASSERT_EQ(1, m_Report.ReportUpdateInfo());
    m_Report.UnInit();
    EXPECT_EQ((Rv_TestSignedFields{{"uuid", s_cszOwnUUID}, {"successful", "1"}, {"errorcode", "0"},
                                   {"before_version", "0"}, {"after_version", "1.0.2.3"}}),
              Sent("/report/Qv7_dev/update", RV_REPORT_KEY_UPDATE));

    // The version before the update, the client's version after it and a
    // failed download's error.
    Prepare("QV7:zhcn");
    ASSERT_EQ(1, m_Report.RecordVersionNumber());
    Rv_TestWriteFile(Client("version.cfg"), "[Version]\nTalon5.version=1.1\nTalon5.VersionLineName=zhcn\n");
    m_Report.m_nUpdateError = 202;
    ASSERT_EQ(1, m_Report.ReportUpdateInfo());
    m_Report.UnInit();
    std::vector<Rv_TestHttpRequest> vecRequests = m_Server.RequestsFor("/report/Qv7_dev/update");
    ASSERT_EQ(2u, vecRequests.size());
    EXPECT_EQ((Rv_TestSignedFields{{"uuid", s_cszOwnUUID}, {"successful", "0"}, {"errorcode", "202"},
                                   {"before_version", "1.0.2.3"}, {"after_version", "1.1"}}),
              Rv_TestSignedReport(vecRequests[1], RV_REPORT_KEY_UPDATE));
}

TEST_F(SignedReport, ClientStartReport)
{
    struct Case {
        int bLaptop;
        int bX64;
        const char* cszDx11Switch;
    } aCases[] = {{0, 0, "0"}, {1, 1, "1"}};
    for (const Case& c : aCases) {
        Rv_TestWriteFile(Client("config.ini"), std::string("[Main]\nUse3DEngineDX11_IfExist=") + c.cszDx11Switch + "\n");
        m_Server.Stop();
        std::unique_ptr<Rv_TestHttpServer> pServer = NewService();
        Rv_TestHttpServer& server = *pServer;
        m_Report.m_nStartType = c.bLaptop;
        m_Report.clientIsX64 = c.bX64;
        ASSERT_EQ(1, m_Report.ReportStartClientInfo());
        m_Report.UnInit();
        Prepare("QV7:zhcn");

        std::vector<Rv_TestHttpRequest> vecRequests = server.RequestsFor("/report/Qv7_dev/start_client");
        ASSERT_EQ(1u, vecRequests.size());
        Rv_TestSignedFields fields = Rv_TestSignedReport(vecRequests[0], RV_REPORT_KEY_START_CLIENT);
        // The machine's load and memory change from one reading to the next.
        for (const char* cszName : {"cpu_usage", "free_ram", "dx9Installed", "dx11Installed"}) {
            EXPECT_EQ(1u, fields.count(cszName)) << cszName;
            fields.erase(cszName);
        }
        int bDx11 = c.cszDx11Switch[0] == '1';
        EXPECT_EQ((Rv_TestSignedFields{{"uuid", s_cszOwnUUID},
                                       {"type", FlagText(c.bLaptop)},
                                       {"version", "1.0.2.3"},
                                       {"clientIsX64", FlagText(c.bX64)},
                                       {"dx9Enable", FlagText(!bDx11)},
                                       {"dx11Enable", FlagText(bDx11)}}),
                  fields);
    }
}

TEST_F(SignedReport, LaptopConfiguration)
{
    const char* const acszKeys[] = {"UsePerfMgr",     "EnableTitlePriority", "UseSimplePhysics",  "UseIPPVideo",
                                    "EnableDynamicLoadByFrustum", "UniformByForce", "RestrictFps",
                                    "UseSmallerTexture", "EnablePreload",  "EnablePreloadSFX", "EnablePreloadTani"};
    // No [Advance] section: every key "0".
    Rv_TestWriteFile(Client("config.ini"), "[Main]\nUsePerfMgr=1\n");
    ASSERT_EQ(1, m_Report.ReportLaptopConfig());
    m_Report.UnInit();
    Rv_TestSignedFields expected = {{"uuid", s_cszOwnUUID}};
    for (const char* cszKey : acszKeys)
        expected[cszKey] = "0";
    EXPECT_EQ(expected, Sent("/report/Qv7_dev/laptop_config", RV_REPORT_KEY_LAPTOP_CONFIG));

    Rv_TestWriteFile(Client("config.ini"), "[Advance]\nUsePerfMgr=1\nRestrictFps=60\nEnablePreloadTani=\nOther=5\n");
    Prepare("QV7:zhcn");
    ASSERT_EQ(1, m_Report.ReportLaptopConfig());
    m_Report.UnInit();
    std::vector<Rv_TestHttpRequest> vecRequests = m_Server.RequestsFor("/report/Qv7_dev/laptop_config");
    ASSERT_EQ(2u, vecRequests.size());
    expected["UsePerfMgr"] = "1";
    expected["RestrictFps"] = "60";
    expected["EnablePreloadTani"] = "";
    EXPECT_EQ(expected, Rv_TestSignedReport(vecRequests[1], RV_REPORT_KEY_LAPTOP_CONFIG));
}

// Sent for the plain line only: zhcn with a versionex is another line.
TEST_F(SignedReport, FullClientReport)
{
    Rv_TestWriteFile(Client("version.cfg"), "[Version]\nTalon5.version=1.0\nTalon5.VersionLineName=ZHCN\n");
    ASSERT_EQ(1, m_Report.ReportFullClientInfo());
    m_Report.UnInit();
    Rv_TestSignedFields fields = Sent("/report/Qv7_dev/FullDev", RV_REPORT_KEY_FULL_CLIENT);
    ASSERT_EQ(1u, fields.count("uuid"));
    EXPECT_EQ(32u, fields["uuid"].size());
    EXPECT_EQ(1u, fields.size());

    Rv_TestWriteFile(Client("version.cfg"),
                     "[Version]\nTalon5.version=1.0\nTalon5.VersionLineName=zhcn\nTalon5.versionex=01\n");
    ASSERT_EQ(1, m_Report.ReportFullClientInfo());
    m_Report.UnInit();
    EXPECT_EQ(1u, m_Server.RequestsFor("/report/Qv7_dev/FullDev").size());
}

TEST_F(SignedReport, DeviceReportOncePerMachine)
{
    Rv_TestWriteFile(Client("refitter.ini"), "[MachineInfo]\nDeviceInfoReported=15\n");
    NyClientReportTestAccess::RunDeviceReport(m_Report);
    std::string strOS = NyClientReportTestAccess::OSInfoEx(m_Report);
    if (strOS.empty())
        strOS = NyClientReportTestAccess::OSInfo(m_Report);
    EXPECT_EQ((Rv_TestSignedFields{{"uuid", s_cszOwnUUID},
                                   {"os", strOS},
                                   {"cpu", NyClientReportTestAccess::CPUInfo(m_Report)},
                                   {"video_card", NyClientReportTestAccess::VideoCardInfo(m_Report)},
                                   {"ram", NyClientReportTestAccess::MemorySize(m_Report)},
                                   {"hard_disk", "<free space varies>"},
                                   {"dx", NyClientReportTestAccess::DirectXEx(m_Report)},
                                   {"resolution", NyClientReportTestAccess::Metrics(m_Report)}}),
              WithoutFreeSpace(Sent("/report/Qv7_dev/device", RV_REPORT_KEY_DEVICE)));
    EXPECT_EQ("16", Pf_IniReadString(Client("refitter.ini"), "MachineInfo", "DeviceInfoReported", ""));
    NyClientReportTestAccess::RunDeviceReport(m_Report);
    EXPECT_EQ(1u, m_Server.Requests().size());

    // Not taken: the flag stays, the next run tries again.
    Rv_TestWriteFile(Client("refitter.ini"), "[MachineInfo]\nDeviceInfoReported=3\n");
    Rv_TestHttpFault refuse;
    refuse.nStatus = 500;
    m_Server.SetFault("/report/Qv7_dev/device", refuse);
    NyClientReportTestAccess::RunDeviceReport(m_Report);
    EXPECT_EQ("3", Pf_IniReadString(Client("refitter.ini"), "MachineInfo", "DeviceInfoReported", ""));
    EXPECT_NE(std::string::npos, m_Log.Text().find("RVLOG_PROCESS_ERROR(nRetCode && \"HttpUpload.Post()\")"));
}

// A report that went out without the machine's identifier is not the
// machine's report: it goes again in a run that has one.
TEST_F(SignedReport, ReportWithoutIdentifierIsNotFlaggedDone)
{
    struct Case {
        const char* cszKey;
        const char* cszPath;
        void (*pfnRun)(NyClientReport&);
    } aCases[] = {
        {"DeviceInfoReported", "/report/Qv7_dev/device", &NyClientReportTestAccess::RunDeviceReport},
        {"MachineInfoReported", "/gamereport/Qv7/machine_info.do", &NyClientReportTestAccess::RunMachineReport},
    };
    for (const Case& c : aCases) {
        NyClientReport Report;
        NyClientReportTestAccess::Prepare(Report, Client(""), "", "QV7:zhcn", "");
        c.pfnRun(Report);
        EXPECT_EQ(1u, m_Server.RequestsFor(c.cszPath).size()) << c.cszPath;
        EXPECT_EQ("", Pf_IniReadString(Client("refitter.ini"), "MachineInfo", c.cszKey, "")) << c.cszKey;
        Report.UnInit();
    }
}

// The machine report sends its fixed "uuid4" whatever the client type, once
// per generation 8.
TEST_F(SignedReport, MachineReport)
{
    struct Case {
        const char* cszStored;
        int bSent;
    } aCases[] = {{"7", 1}, {"8", 0}, {"12", 0}};
    for (const Case& c : aCases) {
        Rv_TestWriteFile(Client("refitter.ini"), std::string("[MachineInfo]\nMachineInfoReported=") + c.cszStored + "\n");
        size_t uBefore = m_Server.RequestsFor("/gamereport/Qv7/machine_info.do").size();
        NyClientReportTestAccess::RunMachineReport(m_Report);
        EXPECT_EQ(uBefore + c.bSent, m_Server.RequestsFor("/gamereport/Qv7/machine_info.do").size()) << c.cszStored;
        EXPECT_EQ(c.bSent ? "8" : c.cszStored,
                  Pf_IniReadString(Client("refitter.ini"), "MachineInfo", "MachineInfoReported", ""));
    }
    std::vector<Rv_TestFields> vecPosts = Posts("/gamereport/Qv7/machine_info.do");
    ASSERT_EQ(1u, vecPosts.size());
    EXPECT_EQ((Rv_TestFields{{"game_name", "q7"},
                             {"uuid4", "machine_info_v8"},
                             {"uuid5", s_cszUUID},
                             {"os", NyClientReportTestAccess::OSInfo(m_Report)},
                             {"video_card", NyClientReportTestAccess::VideoCardInfo(m_Report)},
                             {"cpu", NyClientReportTestAccess::CPUInfo(m_Report)},
                             {"phys_memory", NyClientReportTestAccess::MemorySize(m_Report)},
                             {"directx", NyClientReportTestAccess::DirectX(m_Report)},
                             {"hard_disk", "<free space varies>"},
                             {"resolution", NyClientReportTestAccess::Metrics(m_Report)}}),
              WithoutFreeSpace(vecPosts[0]));
}

TEST_F(SignedReport, StartOfTheGameClientAsForms)
{
    std::string strCurrent;
    ASSERT_EQ(1, Pf_GetCurrentDir(&strCurrent));
    ASSERT_EQ(1, Pf_SetCurrentDir(Client("")));
    Rv_TestWriteFile(Client("Rv3DEngineAdapter.dll"), "");
    Rv_TestWriteFile(Client("config.ini"), "[Main]\nUse3DEngineDX11_IfExist=1\n");
    ASSERT_EQ(1, m_Report.ReportMainStartInfo(1, 0));
    ASSERT_EQ(1, m_Report.ReportDx11Info());
    m_Report.UnInit();
    Pf_SetCurrentDir(strCurrent);

    struct Case {
        const char* cszPath;
        Rv_TestFields fields;
    } aCases[] = {
        {"/gamereport/Qv7/main_start_info.do",
         {{"game_name", "q7"}, {"uuid4", "QV7:zhcn"}, {"uuid5", s_cszUUID},
          {"x64_system", FlagText(NyClientReportTestAccess::IsWow64(m_Report))}, {"start_success", "1"},
          {"start_x64client", "0"}}},
        {"/report/Qv7_dev/Dx11Info",
         {{"version_type", "zhcn_DevCenter"}, {"version_number", "1.0.2.3"}, {"uuid5", s_cszUUID},
          {"Dx11Installed", "1"}, {"Dx11Enable", "1"}}},
    };
    for (const Case& c : aCases) {
        std::vector<Rv_TestFields> vecPosts = Posts(c.cszPath);
        ASSERT_EQ(1u, vecPosts.size()) << c.cszPath;
        EXPECT_EQ(c.fields, vecPosts[0]) << c.cszPath;
    }
}
