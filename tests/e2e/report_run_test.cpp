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
