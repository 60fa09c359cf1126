// The benchmark report and the display auto-configuration, with small
// script tools in a client folder, a loopback reporting service and the
// once-per-machine flags of the updater ini.
#include "platform/clock.h"
#include "platform/local_time.h"
#include "platform/ini.h"
#include "tests/support/http_server.h"
#include "tests/support/time_zone.h"
#include "tests/support/version_stamp.h"
#include "tests/telemetry/probes/probe_access.h"

#include <ctime>
#include <initializer_list>
#include <utility>

typedef NyClientReportTestAccess Access;

namespace {

// Every test runs at noon of one day, local time.
void _Noon(Pf_SYSTEMTIME* pTime)
{
    *pTime = {2026, 12, 10, 12, 0, 0, 0};
}

const char s_szReportPath[] = "/gamereport/Qv7/client_benchmark_info.do";

}  // namespace

class BenchmarkRun : public ProbeMachine {
protected:
    void SetUp() override
    {
        ProbeMachine::SetUp();
        unsetenv("http_proxy");
        unsetenv("HTTP_PROXY");
        Pf_SetLocalTimeHook(_Noon);
        Fact("system_dir", m_Dir.File("system"));
        m_Server.Start();
        Rv_TestHttpFault ok;
        ok.nStatus = 200;
        ok.strBody = "ok";
        m_Server.SetFault("/*", ok);
        Fact("report_service", m_Server.HostPort());

        NewClient();
        Prepare(m_Report);
    }
    // The client folder as a fresh machine has it: list, tools, configuration, no flags.
    void NewClient()
    {
        Pf_RemoveTree(Client(""));
        Pf_CreateDirChain(Client(""));
        Rv_TestWriteFile(Client("BenchmarkList.txt"), "Data\\maps\\a.map\nData\\b\\\n");
        Rv_TestWriteFile(Client("config.ini"), "[Main]\nUse3DEngineDX11_IfExist=1\n");
        Benchmark("1.0.0.2", "printf 'score=1234\\n' > '" + Client("BenchmarkResult.ini") + "'");
        GameConfig("1.0.0.2086", "");
        for (const char* cszName : {"D3DX9_40.dll", "D3DX9_41.dll", "D3DX9_42.dll", "D3DX9_43.dll"})
            Rv_TestWriteFile(m_Dir.File("system/" + std::string(cszName)), "library");
    }
    void Prepare(NyClientReport& Report)
    {
        Access::Prepare(Report, Client(""), "0123456789abcdef0123456789abcdef", "QV7:zhcn");
        Access::SetToolWait(Report, 20000);
    }
    void TearDown() override
    {
        m_Server.Stop();
        Pf_SetLocalTimeHook(nullptr);
        ProbeMachine::TearDown();
    }
    std::string Client(const std::string& strName) const { return m_Dir.File("client/" + strName); }
    // A tool that notes its run and arguments in "runs.txt", then runs strBody.
    void Tool(const char* cszName, const std::string& strVersion, const std::string& strBody)
    {
        Rv_TestWriteStampedScript(Client(cszName),
                                  "exec >/dev/null 2>&1\necho \"" + std::string(cszName) + " $*\" >> '" +
                                      Client("runs.txt") + "'\n" + strBody,
                                  strVersion);
    }
    void Benchmark(const std::string& strVersion, const std::string& strBody)
    {
        Tool("VoZurazurez.exe", strVersion, strBody);
    }
    void GameConfig(const std::string& strVersion, const std::string& strBody)
    {
        Tool("GameConfig.exe", strVersion, strBody);
    }
    std::string Runs() const { return Rv_TestReadFile(Client("runs.txt")); }
    // A log of today stamped that many seconds before noon.
    std::string LogName(int nSecondsBefore, const char* cszSuffix = ".log") const
    {
        char szName[64];
        int nSeconds = 12 * 3600 - nSecondsBefore;
        snprintf(szName, sizeof(szName), "VoZurazurez_2026_12_10_%02d_%02d_%02d%s", nSeconds / 3600,
                 (nSeconds / 60) % 60, nSeconds % 60, cszSuffix);
        return szName;
    }
    void Log(const std::string& strName, const std::string& strText)
    {
        Rv_TestWriteFile(Client("Logs/VoZurazurez/2026_12_10/" + strName), strText);
    }
    std::string Flag(const char* cszKey) const
    {
        return Pf_IniReadString(Client("refitter.ini"), "MachineInfo", cszKey, "");
    }
    void SetFlag(const char* cszKey, const char* cszValue)
    {
        ASSERT_TRUE(Pf_IniWriteString(Client("refitter.ini"), "MachineInfo", cszKey, cszValue));
    }
    std::vector<std::string> Bodies() const
    {
        std::vector<std::string> vecBodies;
        for (const Rv_TestHttpRequest& request : m_Server.RequestsFor(s_szReportPath))
            vecBodies.push_back(request.strBody);
        return vecBodies;
    }
    // Each field in order, as the form post writes it.
    void ExpectFields(const std::string& strBody, std::initializer_list<std::pair<const char*, std::string>> fields)
    {
        size_t uPos = 0;
        for (const auto& field : fields) {
            std::string strPart = std::string("name=\"") + field.first + "\"\r\n\r\n" + field.second + "\r\n";
            size_t uFound = strBody.find(strPart, uPos);
            ASSERT_NE(std::string::npos, uFound) << field.first << " = " << field.second << " in\n" << strBody;
            uPos = uFound + strPart.size();
        }
    }

    Rv_TestHttpServer m_Server{m_Dir.File("www")};
};

TEST_F(BenchmarkRun, SendsResultNewestRecentLogAndConfigThenConfiguresTheDisplay)
{
    Log(LogName(90), "ninety");
    Log(LogName(30), "thirty");
    Log(LogName(150), "too old");
    Log(LogName(-20), "future");
    Log(LogName(10, ".LOG"), "wrong case");
    Log("notes.txt", "no stamp");
    Pf_CreateDirChain(Client("Logs/VoZurazurez/2026_12_10/" + LogName(5)));    // a folder, not a log

    Access::RunBenchmark(m_Report);

    std::vector<std::string> vecBodies = Bodies();
    ASSERT_EQ(1u, vecBodies.size());
    ExpectFields(vecBodies[0], {{"game_name", "q7"},
                                {"uuid4", "QV7:zhcn"},
                                {"uuid5", "0123456789abcdef0123456789abcdef"},
                                {"benchmark_result", "score=1234\n"},
                                {"log_content", "thirty"},
                                {"config_content", "[Main]\nUse3DEngineDX11_IfExist=1\n"}});
    EXPECT_EQ("VoZurazurez.exe \nGameConfig.exe AutoConfigDisplay\n", Runs());
    EXPECT_EQ("5", Flag("BenchmarkResReported"));
    EXPECT_EQ("1", Flag("AutoConfigDisplay"));
    EXPECT_EQ(1, Access::BenchmarkSent(m_Report));
}

TEST_F(BenchmarkRun, NoRecentLogSendsAnEmptyLog)
{
    Log(LogName(150), "too old");
    Access::RunBenchmark(m_Report);
    ASSERT_EQ(1u, Bodies().size());
    ExpectFields(Bodies()[0], {{"benchmark_result", "score=1234\n"}, {"log_content", ""}});
}

TEST_F(BenchmarkRun, MissingLibrariesInvalidListOrOldToolStartNothing)
{
    struct Case {
        const char* cszWhat;
        std::string strList;          // "<none>": no list
        std::string strVersion;       // of the benchmark tool; "" leaves it without a stamp
        const char* cszMissingLibrary;
    } aCases[] = {
        {"doubled backslash", "Data\\\\maps\\a.map\n", "1.0.0.2", nullptr},
        {"doubled backslash at the end", "Data\\maps\\a.map\\\\", "1.0.0.2", nullptr},
        {"missing list", "<none>", "1.0.0.2", nullptr},
        {"empty list", "", "1.0.0.2", nullptr},
        {"old tool", "Data\\a\n", "1.0.0.1", nullptr},
        {"tool without version", "Data\\a\n", "", nullptr},
        {"missing library", "Data\\a\n", "1.0.0.2", "D3DX9_42.dll"},
    };
    for (const Case& c : aCases) {
        NyClientReport Report;
        NewClient();
        Prepare(Report);
        Pf_DeleteFile(Client("BenchmarkList.txt"));
        if (c.strList != "<none>")
            Rv_TestWriteFile(Client("BenchmarkList.txt"), c.strList);
        if (c.strVersion.empty())
            Rv_TestWriteFile(Client("VoZurazurez.exe"), "#!/bin/sh\necho started >> '" + Client("runs.txt") + "'\n");
        else
            Benchmark(c.strVersion, "");
        if (c.cszMissingLibrary)
            Pf_DeleteFile(m_Dir.File("system/" + std::string(c.cszMissingLibrary)));

        EXPECT_FALSE(Access::ReportBenchmarkRes(Report)) << c.cszWhat;
        Access::RunBenchmark(Report);
        EXPECT_EQ("", Runs()) << c.cszWhat;
        EXPECT_TRUE(Bodies().empty()) << c.cszWhat;
        EXPECT_EQ("", Flag("AutoConfigDisplay")) << c.cszWhat;
    }
}

TEST_F(BenchmarkRun, NewerToolsRun)
{
    Benchmark("1.0.1.0", "printf 'fast' > '" + Client("BenchmarkResult.ini") + "'");
    GameConfig("2.0.0.0", "");
    Access::RunBenchmark(m_Report);
    ASSERT_EQ(1u, Bodies().size());
    ExpectFields(Bodies()[0], {{"benchmark_result", "fast"}});
    EXPECT_EQ("VoZurazurez.exe \nGameConfig.exe AutoConfigDisplay\n", Runs());
}

// The list is read as text: what follows a Ctrl-Z is not part of it.
TEST_F(BenchmarkRun, ListEndsAtCtrlZ)
{
    Rv_TestWriteFile(Client("BenchmarkList.txt"), "Data\\a\r\n\x1A\\\\junk\r\n");
    Access::RunBenchmark(m_Report);
    EXPECT_EQ(1u, Bodies().size());
    EXPECT_EQ("VoZurazurez.exe \nGameConfig.exe AutoConfigDisplay\n", Runs());
}

TEST_F(BenchmarkRun, CrashedRunIsSentAndTriedAgainNextTime)
{
    Rv_TestWriteFile(Client("BenchmarkResult.ini"), "stale result of an earlier run");
    Benchmark("1.0.0.2", "");
    SetFlag("AutoConfigDisplay", "1");
    Access::RunBenchmark(m_Report);
    ASSERT_EQ(1u, Bodies().size());
    ExpectFields(Bodies()[0], {{"benchmark_result", "RvBenchermark crashed!"}});
    EXPECT_EQ("", Flag("BenchmarkResReported"));
    EXPECT_EQ(0, Access::BenchmarkSent(m_Report));
    // The display was configured before and no real result came: the tool is not run again.
    EXPECT_EQ("VoZurazurez.exe \n", Runs());
}

TEST_F(BenchmarkRun, OnceFlagsDecideWhatRuns)
{
    struct Case {
        const char* cszBenchmarkFlag;
        const char* cszDisplayFlag;
        int bUUIDChanged;
        const char* cszRuns;
        size_t uPosts;
    } aCases[] = {
        {"5", "1", 0, "", 0},
        {"5", "0", 0, "GameConfig.exe AutoConfigDisplay\n", 0},
        {"4", "1", 0, "VoZurazurez.exe \nGameConfig.exe AutoConfigDisplay\n", 1},
        {"6", "2", 0, "", 0},
        // A new security-product identifier sends everything again.
        {"5", "1", 1, "VoZurazurez.exe \nGameConfig.exe AutoConfigDisplay\n", 1},
    };
    size_t uPostsBefore = 0;
    for (const Case& c : aCases) {
        NyClientReport Report;
        NewClient();
        Prepare(Report);
        SetFlag("BenchmarkResReported", c.cszBenchmarkFlag);
        SetFlag("AutoConfigDisplay", c.cszDisplayFlag);
        Access::SetUUIDChanged(Report, c.bUUIDChanged);
        Access::RunBenchmark(Report);
        EXPECT_EQ(c.cszRuns, Runs()) << c.cszBenchmarkFlag << " " << c.cszDisplayFlag << " " << c.bUUIDChanged;
        EXPECT_EQ(c.uPosts, Bodies().size() - uPostsBefore) << c.cszBenchmarkFlag << " " << c.cszDisplayFlag;
        uPostsBefore = Bodies().size();
    }
}

TEST_F(BenchmarkRun, OldConfigurationToolIsNeverStarted)
{
    GameConfig("1.0.0.2085", "");
    Access::RunBenchmark(m_Report);
    EXPECT_EQ(1u, Bodies().size());
    EXPECT_EQ("VoZurazurez.exe \n", Runs());
    EXPECT_EQ("5", Flag("BenchmarkResReported"));
    EXPECT_EQ("", Flag("AutoConfigDisplay"));
}

TEST_F(BenchmarkRun, ToolsThatDoNotEndInTimeFailTheirStep)
{
    Access::SetToolWait(m_Report, 300);
    Benchmark("1.0.0.2", "sleep 5");
    Access::RunBenchmark(m_Report);
    EXPECT_TRUE(Bodies().empty());
    EXPECT_EQ("", Flag("BenchmarkResReported"));
    EXPECT_EQ("", Flag("AutoConfigDisplay"));
    EXPECT_NE(std::string::npos, m_Log.Text().find("RVLOG_PROCESS_ERROR(nRetCode == WAIT_OBJECT_0)"));

    SetFlag("BenchmarkResReported", "5");
    GameConfig("1.0.0.2086", "sleep 5");
    EXPECT_FALSE(Access::AutoConfigDisplay(m_Report));
    EXPECT_EQ("", Flag("AutoConfigDisplay"));
}

TEST_F(BenchmarkRun, FailedPostWritesNoFlag)
{
    Rv_TestHttpFault fail;
    fail.nStatus = 500;
    m_Server.SetFault(s_szReportPath, fail);
    Access::RunBenchmark(m_Report);
    EXPECT_EQ(1u, Bodies().size());
    EXPECT_EQ("", Flag("BenchmarkResReported"));
    EXPECT_EQ("VoZurazurez.exe \n", Runs());
    EXPECT_NE(std::string::npos, m_Log.Text().find("nRetCode && \"HttpSyncPost.Post()\""));
}

TEST_F(BenchmarkRun, LogTimeReadsOnlyWholeStamps)
{
    Pf_SYSTEMTIME stamp = {2026, 12, 10, 11, 59, 30, 0};
    int64_t llExpected = 0;
    ASSERT_TRUE(Pf_LocalTimeToUnix(stamp, &llExpected));
    struct Case {
        std::string strName;
        int64_t llTime;
    } aCases[] = {
        {"VoZurazurez_2026_12_10_11_59_30.log", llExpected},
        {"_2026_12_10_11_59_30.log", llExpected},
        {"x_2026_12_10_11_59_30.LOG", 0},
        {"2026_12_10_11_59_30.log", 0},
        {"x-2026_12_10_11_59_30.log", 0},
        {"x_2026-12_10_11_59_30.log", 0},
        {"x_2026_12_10_11_59_3a.log", 0},
        {"x_2026_13_10_11_59_30.log", 0},
        {"x_2026_12_10_24_00_00.log", 0},
        {"x_2026_12_10_11_59_30.log.txt", 0},
        {std::string(236, 'a') + "_2026_12_10_11_59_30.log", 0},
        {std::string(235, 'a') + "_2026_12_10_11_59_30.log", llExpected},
    };
    for (const Case& c : aCases)
        EXPECT_EQ(c.llTime, Access::LogTime(c.strName.c_str())) << c.strName;
}

TEST_F(BenchmarkRun, LogOfSummerTimeIsPicked)
{
    // December is summer time there: a stamp of the wall clock is an hour
    // ahead of the same clock read without daylight saving time.
    Rv_TestTimeZone zone("Australia/Sydney");
    Log(LogName(30), "summer");
    std::string strLog;
    EXPECT_TRUE(Access::LogContent(m_Report, strLog));
    EXPECT_EQ("summer", strLog);
}

// Read as text: CR LF gives LF, a Ctrl-Z ends the text.
TEST_F(BenchmarkRun, FileContentIsBoundedAndEndsAtAZeroByte)
{
    struct Case {
        const char* cszWhat;
        std::string strData;
        int bResult;
        std::string strContent;
    } aCases[] = {
        {"text", "a=1\r\nb=2\n", 1, "a=1\nb=2\n"},
        {"lone CR", "a\rb\r\r\n", 1, "a\rb\r\n"},
        {"Ctrl-Z tail", "a=1\r\n\x1A\r\nrest", 1, "a=1\n"},
        {"Ctrl-Z first", "\x1A" "a=1\n", 0, ""},
        {"zero byte", std::string("head\0tail", 9), 1, "head"},
        {"empty", "", 0, ""},
        {"largest", std::string(4u << 20, 'x'), 1, std::string(4u << 20, 'x')},
        {"too large", std::string((4u << 20) + 1, 'x'), 0, ""},
    };
    for (const Case& c : aCases) {
        Rv_TestWriteFile(Client("file.txt"), c.strData);
        std::string strContent;
        EXPECT_EQ(c.bResult, Access::FileContent(strContent, Client("file.txt"))) << c.cszWhat;
        EXPECT_TRUE(strContent == c.strContent) << c.cszWhat;
    }
    std::string strContent;
    EXPECT_FALSE(Access::FileContent(strContent, Client("missing.txt")));
    strContent = "given";
    EXPECT_FALSE(Access::FileContent(strContent, Client("file.txt")));
    EXPECT_NE(std::string::npos, m_Log.Text().find("rstrFileContent.empty()"));
}
