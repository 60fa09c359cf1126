// The log: folder and file names, the line prefix, line ends and length,
// rotation at the line limit and at a change of day, many writers.
#include "foundation/log.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <regex>
#include <thread>
#include <vector>

namespace {

std::atomic<int> s_nFakeSecond{0};

// A fixed clock: 2014-12-15 17:38:46 plus s_nFakeSecond seconds.
void _FakeClock(Pf_SYSTEMTIME* pTime)
{
    int nTotal = 17 * 3600 + 38 * 60 + 46 + s_nFakeSecond.load();
    pTime->nYear = 2014;
    pTime->nMonth = 12;
    pTime->nDay = 15 + nTotal / 86400;
    nTotal %= 86400;
    pTime->nHour = nTotal / 3600;
    pTime->nMinute = (nTotal / 60) % 60;
    pTime->nSecond = nTotal % 60;
    pTime->nMilliseconds = 0;
}

class LogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        s_nFakeSecond = 0;
        Pf_SetLocalTimeHook(_FakeClock);
    }
    void TearDown() override
    {
        RvLog_UnInit();
        Pf_SetLocalTimeHook(nullptr);
    }
    void Init(const std::string& strPath, const char* cszIdent, int nOptions, int nMaxLines)
    {
        Rv_LogParam param = {};
        snprintf(param.szPath, sizeof(param.szPath), "%s", strPath.c_str());
        snprintf(param.szIdent, sizeof(param.szIdent), "%s", cszIdent);
        param.nOptions = nOptions;
        param.nMaxLinePerFile = nMaxLines;
        ASSERT_TRUE(RvLog_Init(&param));
    }
    std::vector<std::string> Lines(const std::string& strFile)
    {
        std::vector<std::string> vecLines;
        std::string strData = Rv_TestReadFile(strFile);
        size_t uPos = 0;
        while (uPos < strData.size()) {
            size_t uEnd = strData.find("\r\n", uPos);
            EXPECT_NE(uEnd, std::string::npos) << "line without CRLF";
            if (uEnd == std::string::npos)
                break;
            vecLines.push_back(strData.substr(uPos, uEnd - uPos));
            uPos = uEnd + 2;
        }
        return vecLines;
    }
    Rv_TestTempDir m_Dir;
};

} // namespace

TEST_F(LogTest, FolderFileNameAndPrefix)
{
    const char* aszRoots[] = {"logs", "logs\\", "logs/"};
    for (const char* cszRoot : aszRoots) {
        Init(m_Dir.File(cszRoot), "Refitter/", 0, 10240);
        EXPECT_TRUE(RvLog_Write(RVLOG_INFO, "hello %d", 42));
        RvLog_UnInit();
    }
    std::string strFile = m_Dir.File("logs/Refitter/2014_12_15/Refitter_2014_12_15_17_38_46.log");
    std::vector<std::string> vecLines = Lines(strFile);
    ASSERT_EQ(3u, vecLines.size()) << "all three roots name the same file";
    std::regex rePrefix("20141215-173846<INFO :[0-9A-F]{8}>: hello 42");
    for (const std::string& strLine : vecLines)
        EXPECT_TRUE(std::regex_match(strLine, rePrefix)) << strLine;
}

TEST_F(LogTest, LevelNamesLineEndsAndLength)
{
    Init(m_Dir.Path(), "id", RVLOG_OPTION_FILE, 0);
    struct Case {
        int nLevel;
        std::string strMessage;
        std::string strExpectedTail;
    } aCases[] = {
        {11, "a", "<ERROR:"},
        {RVLOG_WARNING, "b\n", "<WARN :"},
        {RVLOG_DEBUG, "c\r", "<DEBUG:"},
        {0, "d\r\n", "<RESR0:"},
        {5, "e", "<RESR3:"},
    };
    for (const Case& c : aCases)
        RvLog_Write(c.nLevel, "%s", c.strMessage.c_str());
    RvLog_Write(RVLOG_INFO, "%s", std::string(2000, 'x').c_str());
    std::string strFile = m_Dir.File("id/2014_12_15/id_2014_12_15_17_38_46.log");
    std::vector<std::string> vecLines = Lines(strFile);
    ASSERT_EQ(6u, vecLines.size());
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_NE(std::string::npos, vecLines[i].find(aCases[i].strExpectedTail)) << vecLines[i];
        EXPECT_EQ(aCases[i].strMessage.substr(0, 1), vecLines[i].substr(vecLines[i].size() - 1)) << vecLines[i];
    }
    EXPECT_EQ(1021u, vecLines[5].size()) << "1023 characters with the CRLF";
    EXPECT_EQ(std::string::npos, Rv_TestReadFile(strFile).find("\r\r")) << "no doubled CR";
}

TEST_F(LogTest, RotatesAtLineLimitAndContinuesSameSecondFile)
{
    Init(m_Dir.Path(), "R", RVLOG_OPTION_FILE, 3);
    for (int i = 0; i < 3; ++i)
        RvLog_Write(RVLOG_INFO, "first %d", i);
    // The fourth line starts a new file in the same second: it continues the
    // file of that name instead of truncating it.
    RvLog_Write(RVLOG_INFO, "fourth");
    RvLog_Write(RVLOG_INFO, "fifth");
    RvLog_Write(RVLOG_INFO, "sixth");
    s_nFakeSecond = 5;
    RvLog_Write(RVLOG_INFO, "later");
    std::string strDay = m_Dir.File("R/2014_12_15/");
    std::vector<std::string> vecFirst = Lines(strDay + "R_2014_12_15_17_38_46.log");
    ASSERT_EQ(6u, vecFirst.size());
    EXPECT_NE(std::string::npos, vecFirst[0].find("first 0"));
    std::vector<std::string> vecLater = Lines(strDay + "R_2014_12_15_17_38_51.log");
    ASSERT_EQ(1u, vecLater.size());
    EXPECT_NE(std::string::npos, vecLater[0].find("later"));
}

TEST_F(LogTest, NewDayStartsNewFolder)
{
    Init(m_Dir.Path(), "R", RVLOG_OPTION_FILE, 10240);
    RvLog_Write(RVLOG_INFO, "before midnight");
    s_nFakeSecond = 86400 - (17 * 3600 + 38 * 60 + 46); // 2014-12-16 00:00:00
    RvLog_Write(RVLOG_INFO, "after midnight");
    EXPECT_EQ(1u, Lines(m_Dir.File("R/2014_12_15/R_2014_12_15_17_38_46.log")).size());
    std::vector<std::string> vecLines = Lines(m_Dir.File("R/2014_12_16/R_2014_12_16_00_00_00.log"));
    ASSERT_EQ(1u, vecLines.size());
    EXPECT_EQ(0u, vecLines[0].find("20141216-000000<INFO :"));
}

TEST_F(LogTest, DefaultLineLimit)
{
    Init(m_Dir.Path(), "R", RVLOG_OPTION_FILE, -5);
    for (int i = 0; i < 32769; ++i) {
        if (i == 32768)
            s_nFakeSecond = 1;
        RvLog_Write(RVLOG_INFO, "%d", i);
    }
    EXPECT_EQ(32768u, Lines(m_Dir.File("R/2014_12_15/R_2014_12_15_17_38_46.log")).size());
    EXPECT_EQ(1u, Lines(m_Dir.File("R/2014_12_15/R_2014_12_15_17_38_47.log")).size());
}

TEST_F(LogTest, ManyThreadsWriteWholeLines)
{
    Init(m_Dir.Path(), "R", RVLOG_OPTION_FILE, 1000000);
    std::vector<std::thread> vecThreads;
    for (int t = 0; t < 8; ++t) {
        vecThreads.emplace_back([t] {
            for (int i = 0; i < 2000; ++i)
                RvLog_Write(RVLOG_DEBUG, "thread %d line %d %s", t, i, std::string(100, 'a' + t).c_str());
        });
    }
    for (std::thread& thread : vecThreads)
        thread.join();
    std::vector<std::string> vecLines = Lines(m_Dir.File("R/2014_12_15/R_2014_12_15_17_38_46.log"));
    ASSERT_EQ(16000u, vecLines.size());
    std::regex reLine("20141215-173846<DEBUG:[0-9A-F]{8}>: thread ([0-7]) line [0-9]+ ([a-h])\\2{99}");
    for (const std::string& strLine : vecLines) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(strLine, match, reLine)) << strLine;
        EXPECT_EQ('a' + (match[1].str()[0] - '0'), match[2].str()[0]);
    }
}

TEST_F(LogTest, RefusesEmptyNamesAndTooLongBase)
{
    Rv_LogParam param = {};
    EXPECT_FALSE(RvLog_Init(&param));
    snprintf(param.szPath, sizeof(param.szPath), "logs");
    EXPECT_FALSE(RvLog_Init(&param));
    memset(param.szIdent, 'x', 1022);
    param.szIdent[1022] = '\0';
    EXPECT_FALSE(RvLog_Init(&param));
    param.nOptions = RVLOG_OPTION_STDERR; // no file asked: no base folder built
    EXPECT_TRUE(RvLog_Init(&param));
}

TEST_F(LogTest, FailedFolderIsReportedAndWriteReturnsZero)
{
    Rv_TestWriteFile(m_Dir.File("file"), "not a folder");
    Init(m_Dir.File("file"), "R", RVLOG_OPTION_FILE, 10);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(RvLog_Write(RVLOG_INFO, "lost"));
    std::string strErr = testing::internal::GetCapturedStderr();
    EXPECT_NE(std::string::npos, strErr.find("RvLog: Rv_mkdir(\"")) << strErr;
}

// The root folder is made, the base folder below it is not: the line names
// the base folder with its own error.
TEST_F(LogTest, FailedBaseFolderKeepsItsNameAndError)
{
    const std::string strIdent(300, 'x');
    Init(m_Dir.File("logs"), strIdent.c_str(), RVLOG_OPTION_FILE, 10);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(RvLog_Write(RVLOG_INFO, "lost"));
    std::string strErr = testing::internal::GetCapturedStderr();
    EXPECT_EQ("RvLog: Rv_mkdir(\"" + m_Dir.File("logs") + "/" + strIdent + "/\") failed = " + strerror(ENAMETOOLONG) + "\n",
              strErr);
    EXPECT_TRUE(Pf_DirExists(m_Dir.File("logs")));
}

namespace {
struct Rv_Sample {
    int Check(int n)
    {
        int nResult = 0;
        RVLOG_PROCESS_ERROR(n > 0 && "positive");
        nResult = 1;
    Exit0:
        return nResult;
    }
};
} // namespace

TEST_F(LogTest, FailureMacroNamesConditionLineAndFunction)
{
    Init(m_Dir.Path(), "R", RVLOG_OPTION_FILE, 100);
    Rv_Sample sample;
    EXPECT_FALSE(sample.Check(0));
    EXPECT_TRUE(sample.Check(1));
    std::vector<std::string> vecLines = Lines(m_Dir.File("R/2014_12_15/R_2014_12_15_17_38_46.log"));
    ASSERT_EQ(1u, vecLines.size());
    std::regex reLine(".*<DEBUG:[0-9A-F]{8}>: RVLOG_PROCESS_ERROR\\(n > 0 && \"positive\"\\) at line [0-9]+ in "
                      "\\{anonymous\\}::Rv_Sample::Check");
    EXPECT_TRUE(std::regex_match(vecLines[0], reLine)) << vecLines[0];

    char szName[256];
    EXPECT_STREQ("Rv_VersionNumber::ParseString",
                 RvLog_FunctionName("int Rv_VersionNumber::ParseString(const char*)", szName, sizeof(szName)));
    EXPECT_STREQ("MakeFileMD5", RvLog_FunctionName("int MakeFileMD5(char*, const char*)", szName, sizeof(szName)));
    EXPECT_STREQ("NyA<int>::Get",
                 RvLog_FunctionName("std::vector<int> NyA<int>::Get(int) const", szName, sizeof(szName)));
}
