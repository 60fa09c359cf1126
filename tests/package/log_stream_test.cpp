// The package log: stream table, print call, failure macro lines, the adapter
// into the program log, and the wide formatter behind them.
#include "package/log_stream.h"
#include "package/wide_format.h"
#include "tests/support/package_log_capture.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

namespace {

class CountingStream : public IRv_LogStream {
public:
    HRESULT QueryInterface(const Rv_GUID&, void**) override { return E_FAIL; }
    uint32_t AddRef() override { return ++m_uRefCount; }
    uint32_t Release() override { return --m_uRefCount; }
    HRESULT Write(const char16_t*) override
    {
        ++m_nLines;
        return S_OK;
    }
    std::atomic<uint32_t> m_uRefCount{1};
    int m_nLines = 0;
};

int FailingStep(int nValue)
{
    int nResult = 0;
    RVPK_PROCESS_ERROR(nValue != 0);
    RVPK_ASSERT_EXIT(nValue != 2);
    RVPK_COM_PROCESS_ERROR(nValue == 3 ? E_FAIL : S_OK);
    nResult = 1;
Exit0:
    return nResult;
}

} // namespace

TEST(PackageLog, NothingIsWrittenWithoutStreams)
{
    // No stream registered: nothing to check but that it does not crash.
    Rv_LogPrintf(u"%s %d", u"x", 1);
    Rv_LogPrintf(nullptr);
    CountingStream Stream;
    RV_LOG_STREAM_HANDLE h = Rv_AddLogStream(&Stream);
    ASSERT_EQ(h, &Stream);
    EXPECT_EQ(Stream.m_uRefCount, 2u);
    Rv_LogPrintf(u"one line");
    EXPECT_EQ(Stream.m_nLines, 1);
    EXPECT_TRUE(Rv_RemoveLogStream(h));
    EXPECT_EQ(Stream.m_uRefCount, 1u);
    EXPECT_FALSE(Rv_RemoveLogStream(h));
    Rv_LogPrintf(u"not seen");
    EXPECT_EQ(Stream.m_nLines, 1);
}

TEST(PackageLog, TableHoldsSixtyFourStreamsAndReusesAFreedSlot)
{
    std::vector<CountingStream> vecStreams(66);
    for (int i = 0; i < 64; ++i)
        ASSERT_EQ(Rv_AddLogStream(&vecStreams[i]), &vecStreams[i]) << i;
    EXPECT_EQ(Rv_AddLogStream(&vecStreams[64]), nullptr);
    EXPECT_EQ(Rv_AddLogStream(nullptr), nullptr);
    EXPECT_EQ(vecStreams[64].m_uRefCount, 1u);
    ASSERT_TRUE(Rv_RemoveLogStream(&vecStreams[30]));
    EXPECT_EQ(Rv_AddLogStream(&vecStreams[65]), &vecStreams[65]);
    Rv_LogPrintf(u"to all");
    for (int i = 0; i < 66; ++i)
        EXPECT_EQ(vecStreams[i].m_nLines, (i == 30 || i == 64) ? 0 : 1) << i;
    for (int i = 0; i < 66; ++i) {
        if (i != 30 && i != 64) {
            EXPECT_TRUE(Rv_RemoveLogStream(&vecStreams[i]));
        }
    }
}

TEST(PackageLog, FailureMacrosPrintTheWideForms)
{
    Rv_TestPackageLog Log;
    EXPECT_EQ(FailingStep(0), 0);
    EXPECT_EQ(FailingStep(2), 0);
    EXPECT_EQ(FailingStep(3), 0);
    EXPECT_EQ(FailingStep(1), 1);
    std::vector<std::string> vecLines = Log.Lines();
    ASSERT_EQ(vecLines.size(), 3u);
    EXPECT_EQ(vecLines[0].rfind("RVLOG_PROCESS_ERROR(nValue != 0) at line ", 0), 0u) << vecLines[0];
    EXPECT_NE(vecLines[0].find(" in {anonymous}::FailingStep"), std::string::npos) << vecLines[0];
    EXPECT_EQ(vecLines[1].rfind("RVLOG_ASSERT_EXIT(nValue != 2) at line ", 0), 0u) << vecLines[1];
    EXPECT_EQ(vecLines[2].rfind("RVLOG_COM_PROCESS_ERROR(0x80004005) at line ", 0), 0u) << vecLines[2];
}

TEST(PackageLog, LongLinesAreCutTo1023Characters)
{
    Rv_TestPackageLog Log;
    std::u16string wstrLong(3000, u'a');
    Rv_LogPrintf(u"%s", wstrLong.c_str());
    ASSERT_EQ(Log.Lines().size(), 1u);
    EXPECT_EQ(Log.Lines()[0], std::string(1023, 'a'));
}

TEST(PackageLog, AdapterWritesIntoTheProgramLog)
{
    Rv_TestTempDir Dir;
    Rv_LogParam Param = {};
    snprintf(Param.szPath, sizeof(Param.szPath), "%s", Dir.Path().c_str());
    snprintf(Param.szIdent, sizeof(Param.szIdent), "pk");
    Param.nOptions = RVLOG_OPTION_FILE;
    ASSERT_TRUE(RvLog_Init(&Param));

    Rv_PlatformLogAdapter* pAdapter = new Rv_PlatformLogAdapter;
    RV_LOG_STREAM_HANDLE h = Rv_AddLogStream(pAdapter);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(pAdapter->Release(), 1u);   // the table holds the only reference
    Rv_LogPrintf(u"Rollback \u00e9 %s %hs %u", u"wide", "narrow", 7u);
    EXPECT_TRUE(Rv_RemoveLogStream(h));   // deletes the adapter
    RvLog_UnInit();

    std::string strAll = Rv_TestRun("cat " + Dir.Path() + "/pk/*/*.log");
    EXPECT_NE(strAll.find("<DEBUG:"), std::string::npos) << strAll;
    EXPECT_NE(strAll.find("Rollback \xc3\xa9 wide narrow 7\r\n"), std::string::npos) << strAll;
}

TEST(WideFormat, Conversions)
{
    struct Case {
        std::u16string wstrExpected;
        std::u16string wstrGot;
    } aCases[] = {
        {u"a/b7.DAT", Rv_FormatString(u"%s/%s%u.%s", u"a", u"b", 7u, u"DAT")},
        {u"x=-5 y=ff Z=FF", Rv_FormatString(u"x=%d y=%x Z=%X", -5, 255u, 255u)},
        {u"18446744073709551615", Rv_FormatString(u"%llu", 18446744073709551615ull)},
        {u"[  ab][ab  ][a]", Rv_FormatString(u"[%4s][%-4ls][%.1s]", u"ab", u"ab", u"ab")},
        {u"c=Q n=narrow 100%", Rv_FormatString(u"c=%c n=%hs 100%%", (int)u'Q', "narrow")},
        {u"00042|   42", Rv_FormatString(u"%05d|%*d", 42, 5, 42)},
        {u"(null)", Rv_FormatString(u"%s", (const char16_t*)nullptr)},
    };
    for (const Case& c : aCases)
        EXPECT_EQ(c.wstrGot, c.wstrExpected);

    char16_t szSmall[6];
    EXPECT_EQ(Rv_Format(szSmall, 6, u"%s", u"12345"), 5);
    EXPECT_EQ(Rv_Format(szSmall, 6, u"%s", u"123456"), -1);
    EXPECT_EQ(std::u16string(szSmall), u"12345");
}
