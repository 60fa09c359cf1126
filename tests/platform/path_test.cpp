// Path conversion: separators, doubled separators, case-insensitive lookup.
#include "platform/file.h"
#include "platform/path.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

TEST(NativePath, SeparatorsAndCase)
{
    Rv_TestTempDir dir;
    Rv_TestWriteFile(dir.File("Update/Sub/File.TXT"), "x");
    struct Case {
        std::string strIn;
        std::string strOut;
    } aCases[] = {
        {dir.Path() + "\\update\\sub\\file.txt", dir.Path() + "/Update/Sub/File.TXT"},
        {dir.Path() + "//UPDATE\\\\Sub//file.txt", dir.Path() + "/Update/Sub/File.TXT"},
        {dir.Path() + "\\update\\new\\x.txt", dir.Path() + "/Update/new/x.txt"},
        {dir.Path() + "\\update\\", dir.Path() + "/Update/"},
    };
    for (const Case& c : aCases) {
        std::string strOut;
        ASSERT_TRUE(Pf_NativePath(c.strIn, &strOut)) << c.strIn;
        EXPECT_EQ(c.strOut, strOut) << c.strIn;
    }
    std::string strOut;
    EXPECT_FALSE(Pf_NativePath("C:\\Windows\\x.dll", &strOut));
}

TEST(NativePath, ExactMatchWinsOverCaseMatch)
{
    Rv_TestTempDir dir;
    Rv_TestWriteFile(dir.File("a/Name"), "1");
    Rv_TestWriteFile(dir.File("a/name"), "2");
    Rv_TestWriteFile(dir.File("a/NAME"), "3");
    EXPECT_EQ(dir.Path() + "/a/name", Pf_Native(dir.Path() + "/a/name"));
    // Several case-insensitive matches and no exact one: kept as written.
    EXPECT_EQ(dir.Path() + "/a/nAmE", Pf_Native(dir.Path() + "/a/nAmE"));
}

TEST(WithSeparator, AppendsOnlyWhereNoSeparatorEnds)
{
    struct Case {
        const char* cszPath;
        char cSeparator;
        const char* cszExpected;
    } cases[] = {
        {"C:\\game", '\\', "C:\\game\\"}, {"C:\\game\\", '\\', "C:\\game\\"}, {"C:\\game/", '\\', "C:\\game/"},
        {"http://h/a", '/', "http://h/a/"}, {"http://h/a\\", '/', "http://h/a\\"}, {"", '\\', ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.cszExpected, Pf_WithSeparator(c.cszPath, c.cSeparator)) << c.cszPath;
}
