// The reporter's set-up: the client type from the version file, the
// security product's identifier kept in the updater ini and a changed one
// making every once-per-machine report go again, the own identifier, and
// the set-ups that fail.
#include "platform/ini.h"
#include "tests/telemetry/client_report_access.h"
#include "tests/telemetry/report_fixture.h"

#include <algorithm>
#include <cctype>

namespace {

class ReporterInit : public ReportWorld {
protected:
    std::string UpdaterIni() { return Client("refitter.ini"); }
    static bool IsIdentifier(const std::string& str)
    {
        return str.size() == 32 &&
               std::all_of(str.begin(), str.end(), [](char c) { return isdigit((unsigned char)c) || (c >= 'a' && c <= 'f'); });
    }
};

}  // namespace

TEST_F(ReporterInit, ClientTypeFromTheVersionFile)
{
    struct Case {
        const char* cszVersionCfg;
        int bInit;
        const char* cszClientType;
    } aCases[] = {
        {"[Version]\nTalon5.VersionLineName=zhcn\nTalon5.versionex=abc\n", 1, "QV7:zhcn-abc"},
        {"[Version]\nTalon5.VersionLineName=zhcn\nTalon5.versionex=\n", 1, "QV7:zhcn"},
        {"[Version]\nTalon5.VersionLineName=zhcn\n", 1, "QV7:zhcn"},
        {"[Version]\nTalon5.VersionLineName=\nTalon5.versionex=abc\n", 0, ""},
        {"[Version]\nTalon5.version=1.0\n", 0, ""},
        // 127 characters fit their buffer, but "QV7:" and the name do not fit the client type.
        {"[Version]\nTalon5.VersionLineName=" "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"
         "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\n", 0, ""},
        // A name too long for its buffer is refused, not cut.
        {("[Version]\nTalon5.VersionLineName=" + std::string(128, 'b') + "\n").c_str(), 0, ""},
    };
    std::string strLong = "[Version]\nTalon5.VersionLineName=" + std::string(128, 'b') + "\n";
    aCases[6].cszVersionCfg = strLong.c_str();
    for (const Case& c : aCases) {
        Rv_TestWriteFile(Client("version.cfg"), c.cszVersionCfg);
        NyClientReport Report;
        EXPECT_EQ(c.bInit, Report.Init()) << c.cszVersionCfg;
        EXPECT_EQ(c.bInit, NyClientReportTestAccess::InitFlag(Report)) << c.cszVersionCfg;
        EXPECT_EQ(c.cszClientType, NyClientReportTestAccess::ClientType(Report)) << c.cszVersionCfg;
        // What was filled before the failure stays.
        EXPECT_TRUE(IsIdentifier(NyClientReportTestAccess::FelnUUID(Report))) << c.cszVersionCfg;
        EXPECT_EQ(Client(""), NyClientReportTestAccess::ExeFolder(Report));
        Report.UnInit();
    }
    EXPECT_NE(std::string::npos, m_Log.Text().find("RVLOG_PROCESS_ERROR(nRetCode < _countof(m_szClientType))"));
}

// The identifier is kept in the updater ini; a stored one that differs (case
// aside) is replaced and makes the once-per-machine reports go again.
TEST_F(ReporterInit, StoredIdentifier)
{
    NyClientReport First;
    ASSERT_EQ(1, First.Init());
    std::string strUUID = NyClientReportTestAccess::FelnUUID(First);
    ASSERT_TRUE(IsIdentifier(strUUID)) << strUUID;
    EXPECT_FALSE(NyClientReportTestAccess::MachineUUID(First).empty());
    EXPECT_EQ(1, NyClientReportTestAccess::UUIDChanged(First));
    EXPECT_EQ(strUUID, Pf_IniReadString(UpdaterIni(), "MachineInfo", "UUIDEx", ""));
    First.UnInit();

    std::string strUpper = strUUID;
    std::transform(strUpper.begin(), strUpper.end(), strUpper.begin(), ::toupper);
    struct Case {
        std::string strStored;
        int bChanged;
    } aCases[] = {
        {strUUID, 0},
        {strUpper, 0},
        {"ffffffffffffffffffffffffffffffff", 1},
        {"", 1},
        {strUUID + std::string(200, '0'), 1},
    };
    for (const Case& c : aCases) {
        Rv_TestWriteFile(UpdaterIni(), "[MachineInfo]\nUUIDEx=" + c.strStored + "\nMachineInfoReported=8\n");
        NyClientReport Report;
        ASSERT_EQ(1, Report.Init()) << c.strStored;
        EXPECT_EQ(strUUID, NyClientReportTestAccess::FelnUUID(Report)) << c.strStored;
        EXPECT_EQ(c.bChanged, NyClientReportTestAccess::UUIDChanged(Report)) << c.strStored;
        EXPECT_EQ(c.bChanged ? strUUID : c.strStored, Pf_IniReadString(UpdaterIni(), "MachineInfo", "UUIDEx", ""))
            << c.strStored;
        EXPECT_EQ(!c.bChanged, NyClientReportTestAccess::IsInfoReported(Report, "MachineInfoReported", 8))
            << c.strStored;
        Report.UnInit();
    }
}

// After a new identifier the add-on list goes again although its key holds
// its number, and the key is written again.
TEST_F(ReporterInit, NewIdentifierSendsOncePerMachineReportsAgain)
{
    Rv_TestWriteFile(Client("Interface/A/info.ini"), "");
    Rv_TestWriteFile(UpdaterIni(), "[MachineInfo]\nUUIDEx=ffffffffffffffffffffffffffffffff\nAddonInfoReported=4\n");
    NyClientReport Report;
    ASSERT_EQ(1, Report.Init());
    ASSERT_EQ(1, Report.ReportQV7AddonInfo());
    Report.UnInit();
    EXPECT_EQ(1u, m_Server.RequestsFor("/gamereport/qv7/client_addon_info.do").size());
    EXPECT_EQ("4", Pf_IniReadString(UpdaterIni(), "MachineInfo", "AddonInfoReported", ""));

    // The next run keeps the identifier: nothing goes again.
    NyClientReport Next;
    ASSERT_EQ(1, Next.Init());
    ASSERT_EQ(1, Next.ReportQV7AddonInfo());
    Next.UnInit();
    EXPECT_EQ(1u, m_Server.RequestsFor("/gamereport/qv7/client_addon_info.do").size());
}

TEST_F(ReporterInit, UpdaterIniThatCannotTakeTheIdentifier)
{
    Pf_CreateDirChain(UpdaterIni());    // a folder in the file's place
    NyClientReport Report;
    EXPECT_EQ(0, Report.Init());
    EXPECT_EQ(0, NyClientReportTestAccess::InitFlag(Report));
    EXPECT_NE(std::string::npos, m_Log.Text().find("RVLOG_PROCESS_ERROR(nRetCode > 0) at line "));
    // Reports that need no set-up still go, clicks wait without a sender.
    EXPECT_EQ(0, Report.ReportVersionInfo());
    EXPECT_EQ(1, Report.ReportControlClick("btn", ""));
    Report.UnInit();
    EXPECT_EQ(1u, NyClientReportTestAccess::ClickCount(Report));
}

// A second set-up while set up would rewrite what running reports read; a
// set-up after the shut-down starts anew.
TEST_F(ReporterInit, SetUpAgain)
{
    NyClientReport Report;
    ASSERT_EQ(1, Report.Init());
    EXPECT_EQ(0, Report.Init());
    EXPECT_EQ(1, NyClientReportTestAccess::InitFlag(Report));
    EXPECT_NE(std::string::npos, m_Log.Text().find("RVLOG_PROCESS_ERROR(!m_bInitFlag)"));
    Report.UnInit();
    ASSERT_EQ(1, Report.Init());
    EXPECT_EQ("QV7:zhcn", NyClientReportTestAccess::ClientType(Report));
    ASSERT_EQ(1, Report.ReportControlClick("btn", "x"));
    Report.UnInit();
    ASSERT_EQ(1u, m_Server.RequestsFor("/report/Qv7/ControlClick").size());
}
