// The reports of whole window runs of the built executable: the update
// report after a successful update and after a failed one, sent to a
// loopback reporting service.
#include "tests/e2e/update_run_fixture.h"

namespace {

class ReportRun : public UpdateRoad {
protected:
    void SetUp() override
    {
        UpdateRoad::SetUp();
        Rv_TestHttpFault ok;
        ok.nStatus = 200;
        m_Server.SetFault("/report/*", ok);
        m_Server.SetFault("/gamereport/*", ok);
        Rv_TestWriteFile(m_Dir.File("sim/report_service"), m_Server.HostPort());
        Rv_TestWriteFile(m_Dir.File("sim/common_app_data"), m_Dir.File("common"));
        Pf_CreateDirChain(m_Dir.File("common/Tervana/VSQ"));
        setenv("RV_REGISTRY_DIR", m_Dir.File("registry").c_str(), 1);
    }
    void TearDown() override
    {
        unsetenv("RV_REGISTRY_DIR");
        UpdateRoad::TearDown();
    }
    // The value of one field of a multipart body ("<none>" when absent).
    static std::string Field(const std::string& strBody, const std::string& strName)
    {
        std::string strHead = "Content-Disposition: form-data; name=\"" + strName + "\"\r\n\r\n";
        size_t uPos = strBody.find(strHead);
        if (uPos == std::string::npos)
            return "<none>";
        uPos += strHead.size();
        return strBody.substr(uPos, strBody.find("\r\n", uPos) - uPos);
    }
};

}  // namespace

TEST_F(ReportRun, UpdateReportAfterASuccessfulAndAFailedRun)
{
    Rv_TestServerPatch Patch = PlainPatch("1.0", "1.1", {{"a.txt", "new"}});
    Rv_TestWritePatchServer(Server(""), "1.1", {Patch});
    EXPECT_EQ(0, Run());
    ASSERT_EQ("1.1", InstalledVersion()) << Logs();
    std::vector<Rv_TestHttpRequest> vecReports = m_Server.RequestsFor("/report/Qv7_dev/update");
    ASSERT_EQ(1u, vecReports.size()) << Logs();
    EXPECT_EQ("1", Field(vecReports[0].strBody, "successful"));
    EXPECT_EQ("0", Field(vecReports[0].strBody, "errorcode"));
    EXPECT_EQ("1.1", Field(vecReports[0].strBody, "after_version"));
    EXPECT_EQ(32u, Field(vecReports[0].strBody, "uuid").size());
    EXPECT_NE("<none>", Field(vecReports[0].strBody, "sig"));

    // The next patch cannot be had: the run's error goes with the report.
    Rv_TestServerPatch Next = PlainPatch("1.1", "1.2", {{"a.txt", "newer"}});
    Rv_TestWritePatchServer(Server(""), "1.2", {Next});
    Rv_TestHttpFault missing;
    missing.nStatus = 404;
    m_Server.SetFault("/zhcn/" + Next.strName, missing);
    Run();
    vecReports = m_Server.RequestsFor("/report/Qv7_dev/update");
    ASSERT_EQ(2u, vecReports.size()) << Logs();
    EXPECT_EQ("0", Field(vecReports[1].strBody, "successful"));
    EXPECT_NE("0", Field(vecReports[1].strBody, "errorcode"));
    EXPECT_EQ("1.1", Field(vecReports[1].strBody, "after_version"));
}

// A click in the window and the start of the game: the click is sent before
// the run ends, and the start goes as the main-start, DirectX 11, full-client
// and client-start reports; no laptop configuration without the beta folder.
TEST_F(ReportRun, ClickAndGameStartReports)
{
    Rv_TestWritePatchServer(Server(""), "1.0", {});
    Rv_TestWriteFile(Client("QV7Client.exe"), "#!/bin/sh\nexit 0\n");
    int nStatus = -1;
    Rv_TestRun("chmod +x '" + Client("QV7Client.exe") + "'", &nStatus);
    ASSERT_EQ(0, nStatus);
    SetScript("on SetUpdateState 1 call ReportControlClick btn http://link\non SetUpdateState 1 call StartGame\n");
    EXPECT_EQ(0, Run());

    std::vector<Rv_TestHttpRequest> vecClicks = m_Server.RequestsFor("/report/Qv7/ControlClick");
    ASSERT_EQ(1u, vecClicks.size()) << Logs();
    std::string strClick = Field(vecClicks[0].strBody, "value");
    EXPECT_EQ(0u, strClick.find("1|")) << strClick;
    EXPECT_EQ(2 + 32 + std::string("|btn|\"http://link\"").size(), strClick.size()) << strClick;
    EXPECT_NE(std::string::npos, strClick.find("|btn|\"http://link\"")) << strClick;

    std::vector<Rv_TestHttpRequest> vecMain = m_Server.RequestsFor("/gamereport/Qv7/main_start_info.do");
    ASSERT_EQ(1u, vecMain.size()) << Logs();
    EXPECT_EQ("1", Field(vecMain[0].strBody, "start_success"));
    EXPECT_EQ("0", Field(vecMain[0].strBody, "start_x64client"));
    EXPECT_EQ("QV7:zhcn", Field(vecMain[0].strBody, "uuid4"));
    std::vector<Rv_TestHttpRequest> vecStart = m_Server.RequestsFor("/report/Qv7_dev/start_client");
    ASSERT_EQ(1u, vecStart.size()) << Logs();
    EXPECT_EQ("0", Field(vecStart[0].strBody, "type"));
    EXPECT_EQ("0", Field(vecStart[0].strBody, "clientIsX64"));
    EXPECT_EQ("1.0", Field(vecStart[0].strBody, "version"));
    EXPECT_EQ(1u, m_Server.RequestsFor("/report/Qv7_dev/Dx11Info").size());
    EXPECT_EQ(1u, m_Server.RequestsFor("/report/Qv7_dev/FullDev").size());
    EXPECT_TRUE(m_Server.RequestsFor("/report/Qv7_dev/laptop_config").empty());
}
