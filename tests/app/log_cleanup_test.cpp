// The log clean-up: which names are logs, the day-number rule across month
// ends, and the 50 MiB cap on a program's logs.
#include "app/log_cleanup.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace {
Pf_SYSTEMTIME s_today;
void _TodayHook(Pf_SYSTEMTIME* pTime)
{
    *pTime = s_today;
}
void _SetToday(int nYear, int nMonth, int nDay)
{
    s_today = Pf_SYSTEMTIME{nYear, nMonth, nDay, 12, 0, 0, 0};
    Pf_SetLocalTimeHook(_TodayHook);
}
} // namespace

TEST(LogCleanUp, DayNumberOfNames)
{
    struct Case {
        const char* cszName;
        int bLog;
        int64_t llDay;
    };
    const Case aCases[] = {
        {"Refitter_2014_12_01_10_00_00.log", 1, 2014 * 365 + 12 * 30 + 1},
        {"x2014_1_1_1_1_1234.log", 0, 0},            // 22 characters: not longer than the date part
        {"xx_2014_01_31_23_59_59.log", 1, 2014 * 365 + 30 + 31},
        {"Refitter_2014_12_01_10_00_00.LOG", 0, 0},
        {"Refitter_2014_12_01_10_00_00.txt", 0, 0},
        {"Refitter_2014_13_01_10_00_00.log", 0, 0},   // month out of range
        {"Refitter_2014_12_00_10_00_00.log", 0, 0},
        {"Refitter_2014_12_01_24_00_00.log", 0, 0},
        {"Refitter_2014_12_01_10_0a_00.log", 0, 0},
        {"x999999999_1_1_1_1_1.log", 0, 0},           // would overflow the day number
        {"x_-201_12_01_10_00_00.log", 0, 0},
        {"Refitter_2014_12_01_10_00_00.log.bak", 0, 0},
    };
    for (const Case& c : aCases) {
        int64_t llDay = -1;
        EXPECT_EQ(c.bLog, Rv_GetLogFileDayNumber(c.cszName, &llDay)) << c.cszName;
        if (c.bLog) {
            EXPECT_EQ(c.llDay, llDay) << c.cszName;
        }
    }
}

TEST(LogCleanUp, AgeRuleCountsThirtyDaysAMonth)
{
    struct Case {
        const char* cszLog;
        int nYear, nMonth, nDay;
        int bKept;
    };
    const Case aCases[] = {
        {"Refitter_2014_12_01_10_00_00.log", 2014, 12, 14, 1},
        {"Refitter_2014_12_01_10_00_00.log", 2014, 12, 15, 0},
        {"Refitter_2015_01_31_10_00_00.log", 2015, 2, 14, 1},
        {"Refitter_2015_01_31_10_00_00.log", 2015, 2, 15, 0},
        {"Refitter_2015_02_14_10_00_00.log", 2015, 2, 14, 1},
    };
    for (const Case& c : aCases) {
        Rv_TestTempDir dir;
        std::string strLog = dir.File("Refitter/day/") + c.cszLog;
        Rv_TestWriteFile(strLog, "line\n");
        _SetToday(c.nYear, c.nMonth, c.nDay);
        EXPECT_TRUE(Rv_RemoveAllUnnecessaryLogs(dir.Path() + "\\"));
        EXPECT_EQ(c.bKept, Pf_FileExists(strLog)) << c.cszLog << " on " << c.nMonth << "/" << c.nDay;
    }
    Pf_SetLocalTimeHook(nullptr);
}

TEST(LogCleanUp, OldestGoUntilFiftyMiBRemain)
{
    Rv_TestTempDir dir;
    _SetToday(2014, 12, 15);
    // Listed out of order and in two day folders; the name's date decides.
    const std::string strFolder = dir.File("Refitter") + "\\";
    const std::string astrLogs[] = {"b\\R_2014_12_15_10_00_02.log", "a\\R_2014_12_15_10_00_00.log",
                                    "b\\r_2014_12_15_10_00_01.log", "a\\R_2014_12_15_10_00_03.log"};
    const uint64_t aullSizes[] = {20 << 20, 10 << 20, 20 << 20, 10 << 20};
    for (int i = 0; i < 4; ++i) {
        Rv_TestWriteFile(dir.File("Refitter/") + astrLogs[i].substr(0, 1) + "/" + astrLogs[i].substr(2), "");
        ASSERT_EQ(0, truncate((dir.File("Refitter/") + astrLogs[i].substr(0, 1) + "/" + astrLogs[i].substr(2)).c_str(),
                              (off_t)aullSizes[i]));
    }
    Rv_TestWriteFile(dir.File("Refitter/a/notes.txt"), "not a log");

    std::vector<std::string> vecList;
    uint64_t ullTotal = 0;
    ASSERT_TRUE(Rv_GetLogFileList(strFolder, &vecList, &ullTotal));
    EXPECT_EQ(4u, vecList.size());
    EXPECT_EQ(60ull << 20, ullTotal);

    // 60 MiB: the oldest (10 MiB) goes, leaving exactly 50 MiB.
    ASSERT_TRUE(Rv_RemoveUnnecessaryLogs(strFolder));
    EXPECT_FALSE(Pf_FileExists(strFolder + astrLogs[1]));
    for (int i : {0, 2, 3})
        EXPECT_TRUE(Pf_FileExists(strFolder + astrLogs[i])) << astrLogs[i];
    EXPECT_TRUE(Pf_FileExists(dir.File("Refitter/a/notes.txt")));
    Pf_SetLocalTimeHook(nullptr);

    EXPECT_FALSE(Rv_RemoveUnnecessaryLogs(""));
    EXPECT_FALSE(Rv_RemoveAllUnnecessaryLogs(dir.File("missing") + "\\"));
}
