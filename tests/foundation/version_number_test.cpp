// Version numbers: parsing rules, failures and their log lines, ordering.
#include "foundation/version_number.h"
#include "tests/foundation/log_capture.h"

#include <gtest/gtest.h>

namespace {

Rv_VersionNumber _Parse(const char* csz)
{
    Rv_VersionNumber version;
    EXPECT_TRUE(version.ParseString(csz)) << csz;
    return version;
}

}  // namespace

TEST(VersionNumber, ParsesPieces)
{
    struct Case {
        const char* cszText;
        uint32_t auParts[5];
    } aCases[] = {
        {"1.2.3.4", {1, 2, 3, 4, 0}},
        {"1-2-3", {1, 2, 3, 0, 0}},
        {"6.01.7000.0000", {6, 1, 7000, 0, 0}},
        {"1.2-3", {1, 2, 0, 0, 0}},           // "." wins; "2-3" reads its leading digits
        {"1-2,3", {1, 2, 0, 0, 0}},           // "-" wins over ","
        {"1,2,3", {1, 2, 3, 0, 0}},
        {"1.2.3.4.5.6", {1, 2, 3, 4, 5}},
        {"1.2.3.4.5", {1, 2, 3, 4, 5}},
        {"4.09.00.0904", {4, 9, 0, 904, 0}},
        {"1.", {1, 0, 0, 0, 0}},
        {".5", {0, 5, 0, 0, 0}},
        {"a.b7.3x", {0, 0, 3, 0, 0}},
        {" 2. 3", {2, 3, 0, 0, 0}},
        {"1.-1", {1, 0xFFFFFFFFu, 0, 0, 0}},   // a negative piece wraps
        {"1.99999999999", {1, 2147483647u, 0, 0, 0}},
    };
    for (const Case& c : aCases) {
        Rv_VersionNumber version;
        version.uPart[4] = 99;   // stale parts are cleared
        ASSERT_TRUE(version.ParseString(c.cszText)) << c.cszText;
        for (int i = 0; i < 5; ++i)
            EXPECT_EQ(c.auParts[i], version.uPart[i]) << c.cszText << " part " << i;
    }
    std::string strLongest(255, '1');
    strLongest[1] = '.';
    EXPECT_EQ(1u, _Parse(strLongest.c_str()).uPart[0]);
}

TEST(VersionNumber, FailuresClearAndLog)
{
    Rv_TestTempDir dir;
    Rv_TestLogCapture log(dir);
    std::string strTooLong(256, '1');
    strTooLong[1] = '.';
    struct Case {
        const char* cszText;
        const char* cszCondition;
    } aCases[] = {
        {nullptr, "RVLOG_PROCESS_ERROR(cszVersionNumber && cszVersionNumber[0])"},
        {"", "RVLOG_PROCESS_ERROR(cszVersionNumber && cszVersionNumber[0])"},
        {"5", "RVLOG_PROCESS_ERROR(cszSeparator)"},
        {strTooLong.c_str(), "RVLOG_PROCESS_ERROR(strlen(cszVersionNumber) < sizeof(szBuffer))"},
    };
    for (const Case& c : aCases) {
        Rv_VersionNumber version;
        for (uint32_t& u : version.uPart)
            u = 7;
        EXPECT_FALSE(version.ParseString(c.cszText));
        for (uint32_t u : version.uPart)
            EXPECT_EQ(0u, u);
    }
    std::string strLog = log.Text();
    for (const Case& c : aCases) {
        EXPECT_NE(std::string::npos, strLog.find(std::string(c.cszCondition) + " at line ")) << c.cszCondition;
    }
    EXPECT_NE(std::string::npos, strLog.find(" in Rv_VersionNumber::ParseString\r\n"));
    EXPECT_NE(std::string::npos, strLog.find(">: Failed to parse the version number: 5\r\n"));
    EXPECT_NE(std::string::npos, strLog.find(">: Failed to parse the version number: \r\n"));
    EXPECT_EQ(std::string::npos, strLog.find("<ERROR:"));
}

TEST(VersionNumber, OrdersPartByPart)
{
    struct Case {
        const char* cszLow;
        const char* cszHigh;
    } aCases[] = {
        {"1.9", "1.10"},
        {"1.99.99", "2.0"},
        {"1.0.0.2085", "1.0.0.2086"},
        {"1.2.3.4.5", "1.2.3.4.6"},
        {"1.5", "1.-1"},    // compared as unsigned numbers
        {"4.09.00.0904", "6.01.7000.0000"},
    };
    for (const Case& c : aCases) {
        Rv_VersionNumber low = _Parse(c.cszLow), high = _Parse(c.cszHigh);
        EXPECT_TRUE(low < high && low <= high && high > low && high >= low && low != high) << c.cszLow;
        EXPECT_FALSE(low > high || low >= high || high < low || high <= low || low == high) << c.cszLow;
    }
    Rv_VersionNumber a = _Parse("1.2"), b = _Parse("1.2.0.0.0"), c = _Parse("1-2");
    EXPECT_TRUE(a == b && a <= b && a >= b && !(a < b) && !(a > b) && a == c);
}
