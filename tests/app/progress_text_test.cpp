// Tests of the progress and version texts: units and rounding of the size
// texts, the percent threshold and new runs, the speed measurement, and the
// frames of the version line.
#include "app/progress_text.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

const char* const kLabel = "更新中";

TEST(SizeText, UnitIsChosenByTheTotal)
{
    struct Case {
        int64_t llTotal;
        int64_t llDownloaded;
        const char* cszTotal;
        const char* cszDownloaded;
    };
    const Case cases[] = {
        {0, 0, "0B", "0"},
        {999, 12, "999B", "12"},
        {1000, 512, "0.98K", "0.50"},
        {1023999, 1023999, "1000.00K", "1000.00"},
        {1024000, 1024000, "0.98M", "0.98"},
        {314834534, 13107200, "300.25M", "12.50"},
        {1048576000, 1073741824, "0.98G", "1.00"},
        {(int64_t)5 << 30, (int64_t)1 << 30, "5.00G", "1.00"},
    };
    for (const Case& c : cases) {
        RvSizeUnit eUnit = Rv_SizeUnitOf(c.llTotal);
        std::string strTotal;
        std::string strDownloaded;
        ASSERT_TRUE(Rv_FormatSizeWithUnit(c.llTotal, eUnit, &strTotal));
        ASSERT_TRUE(Rv_FormatSizeInUnit(c.llDownloaded, eUnit, &strDownloaded));
        EXPECT_EQ(c.cszTotal, strTotal) << c.llTotal;
        EXPECT_EQ(c.cszDownloaded, strDownloaded) << c.llTotal;
    }
}

TEST(DownloadProgress, SendsWhenThePercentRisesByAThousandth)
{
    RvDownloadProgress progress;
    RvProgressUpdate update;
    int nDownloader = 0;

    ASSERT_TRUE(progress.OnProgress(&nDownloader, 1000000, 0, 0, kLabel, &update));
    EXPECT_TRUE(update.strPercent.empty()); // 0 is not above the start

    ASSERT_TRUE(progress.OnProgress(&nDownloader, 1000000, 10, 5, kLabel, &update));
    EXPECT_EQ("0.001", update.strPercent);
    EXPECT_EQ("更新中  0.01/976.56K", update.strText);

    ASSERT_TRUE(progress.OnProgress(&nDownloader, 1000000, 19, 6, kLabel, &update));
    EXPECT_TRUE(update.strPercent.empty());
    EXPECT_TRUE(update.strText.empty());

    ASSERT_TRUE(progress.OnProgress(&nDownloader, 1000000, 1000000, 7, kLabel, &update));
    EXPECT_EQ("100.000", update.strPercent);
}

TEST(DownloadProgress, AnotherTotalOrDownloaderStartsANewRun)
{
    RvDownloadProgress progress;
    RvProgressUpdate update;
    int anDownloader[2] = {0, 0};

    ASSERT_TRUE(progress.OnProgress(&anDownloader[0], 999, 900, 0, kLabel, &update));
    EXPECT_EQ("更新中  900/999B", update.strText);

    // The same percent again counts as new once the downloader changed.
    ASSERT_TRUE(progress.OnProgress(&anDownloader[1], 999, 900, 0, kLabel, &update));
    EXPECT_EQ("90.090", update.strPercent);

    ASSERT_TRUE(progress.OnProgress(&anDownloader[1], 2000, 10, 0, kLabel, &update));
    EXPECT_EQ("0.500", update.strPercent);
    EXPECT_EQ("更新中  0.01/1.95K", update.strText);
    EXPECT_EQ(2000, progress.GetTotal());
}

TEST(DownloadProgress, ZeroTotalSendsNothing)
{
    RvDownloadProgress progress;
    RvProgressUpdate update;
    int nDownloader = 0;

    ASSERT_TRUE(progress.OnProgress(&nDownloader, 0, 0, 0, kLabel, &update));
    ASSERT_TRUE(progress.OnProgress(&nDownloader, 0, 50, 10, kLabel, &update));
    EXPECT_TRUE(update.strPercent.empty());
    EXPECT_TRUE(update.strText.empty());
}

TEST(DownloadProgress, SpeedsAreMeasuredOnlyAboveOneMebibyte)
{
    RvDownloadProgress small;
    RvDownloadProgress large;
    RvProgressUpdate update;
    int nDownloader = 0;
    const int64_t llSmall = 0x100000;
    const int64_t llLarge = 0x100001 * 100;

    ASSERT_TRUE(small.OnProgress(&nDownloader, llSmall, 0, 1000, kLabel, &update));
    ASSERT_TRUE(small.OnProgress(&nDownloader, llSmall, llSmall, 5000, kLabel, &update));
    EXPECT_EQ(0, small.GetAverageSpeed());
    EXPECT_EQ(0, small.GetPeakSpeed());

    // Ticks wrap around in 32 bits; the differences still hold.
    const uint32_t uStart = 0xFFFFFF00u;
    ASSERT_TRUE(large.OnProgress(&nDownloader, llLarge, 0, uStart, kLabel, &update));
    ASSERT_TRUE(large.OnProgress(&nDownloader, llLarge, 999000, uStart + 999, kLabel, &update));
    EXPECT_EQ(0, large.GetAverageSpeed()); // not more than a second yet
    EXPECT_EQ(0, large.GetPeakSpeed());
    ASSERT_TRUE(large.OnProgress(&nDownloader, llLarge, 3000000, uStart + 1000, kLabel, &update));
    EXPECT_EQ(0, large.GetAverageSpeed()); // exactly one second is not more than one
    EXPECT_EQ(3000, large.GetPeakSpeed());
    ASSERT_TRUE(large.OnProgress(&nDownloader, llLarge, 4000000, uStart + 3000, kLabel, &update));
    EXPECT_EQ(1333, large.GetAverageSpeed());
    EXPECT_EQ(3000, large.GetPeakSpeed()); // 500 per ms in the last two seconds is below the peak
}

TEST(VersionText, UpdatingArrowMovesAndWraps)
{
    RvVersionText text;
    std::string str;
    const char* const expected[] = {
        "更新中: 1.0.0.1&gt;&gt;&gt;   1.0.0.3",
        "更新中: 1.0.0.1 &gt;&gt;&gt;  1.0.0.3",
        "更新中: 1.0.0.1  &gt;&gt;&gt; 1.0.0.3",
        "更新中: 1.0.0.1   &gt;&gt;&gt;1.0.0.3",
        "更新中: 1.0.0.1&gt;&gt;&gt;   1.0.0.3",
    };
    for (const char* cszExpected : expected) {
        ASSERT_TRUE(text.Format("更新中", "1.0.0.1", "1.0.0.3", 0, 0, "当前", "最新", &str));
        EXPECT_EQ(cszExpected, str);
    }
    ASSERT_TRUE(text.Format("更新中", "1.0.0.1", "1.0.0.3", 0, 1, "当前", "最新", &str));
    EXPECT_EQ("当前:1.0.0.1 / 最新:1.0.0.3", str);
}

TEST(VersionText, DoneLineIsPlainOrClosingArrows)
{
    RvVersionText text;
    std::string str;

    ASSERT_TRUE(text.Format("正式版[64位]", "1.0.0.3", nullptr, 0, 0, "", "", &str));
    EXPECT_EQ("  正式版[64位]  1.0.0.3", str);

    const char* const expected[] = {
        "&gt;&gt;&gt;   B   &lt;&lt;&lt; 2",
        " &gt;&gt;&gt;  B  &lt;&lt;&lt;  2",
        "  &gt;&gt;&gt; B &lt;&lt;&lt;   2",
        "&gt;&gt;&gt;   B   &lt;&lt;&lt; 2",
    };
    for (const char* cszExpected : expected) {
        ASSERT_TRUE(text.Format("B", "2", nullptr, 1, 0, "", "", &str));
        EXPECT_EQ(cszExpected, str);
    }
}

TEST(VersionText, TooLongOrMissingFails)
{
    RvVersionText text;
    std::string str;
    std::string strFits(126 - 5, 'x'); // "  %s  %s" with a one-character version
    std::string strTooLong(127 - 5, 'x');

    EXPECT_TRUE(text.Format(strFits.c_str(), "1", nullptr, 0, 0, "", "", &str));
    EXPECT_EQ(126u, str.size());
    EXPECT_FALSE(text.Format(strTooLong.c_str(), "1", nullptr, 0, 0, "", "", &str));
    EXPECT_FALSE(text.Format(nullptr, "1", nullptr, 0, 0, "", "", &str));
    EXPECT_FALSE(text.Format("a", nullptr, nullptr, 0, 0, "", "", &str));
}

TEST(VersionText, FramesStayInStepAcrossThreads)
{
    RvVersionText text;
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i)
        threads.emplace_back([&text] {
            std::string str;
            for (int j = 0; j < 1000; ++j)
                text.Format("d", "1", "2", 0, 0, "", "", &str);
        });
    for (std::thread& thread : threads)
        thread.join();
    std::string str;
    ASSERT_TRUE(text.Format("d", "1", "2", 0, 0, "", "", &str));
    EXPECT_EQ("d: 1&gt;&gt;&gt;   2", str); // 4000 frames drawn: back at the first
}

TEST(ExecuteVersionName, EditionAndFlag)
{
    struct Case {
        int bX64;
        const char* cszBetaFolder;
        const char* cszBetaName;
        int bDx11;
        const char* cszExpected;
        int bFlag;
    };
    const Case cases[] = {
        {1, "", "", 0, "正式版[64位]", 0},
        {0, "", "", 0, "正式版[32位]", 0},
        {1, "", "", 1, "DX11优化版[64位]", 1},
        {0, "laptop", "测试版", 1, "测试版[32位]", 1},
        {1, "laptop", "测试版", 0, "测试版[64位]", 1},
    };
    for (const Case& c : cases) {
        std::string str;
        int bFlag = -1;
        ASSERT_TRUE(Rv_FormatExecuteVersionName(c.bX64, c.cszBetaFolder, c.cszBetaName, c.bDx11, &str, &bFlag));
        EXPECT_EQ(c.cszExpected, str);
        EXPECT_EQ(c.bFlag, bFlag);
    }
}

} // namespace
