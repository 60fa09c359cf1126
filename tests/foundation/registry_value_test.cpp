// The game's string values under its per-version-type registry key.
#include "foundation/registry_value.h"
#include "platform/registry.h"
#include "tests/foundation/log_capture.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

class RegistryValue : public ::testing::Test {
protected:
    void SetUp() override { setenv("RV_REGISTRY_DIR", m_dir.File("registry").c_str(), 1); }
    void TearDown() override { unsetenv("RV_REGISTRY_DIR"); }

    Rv_TestTempDir m_dir;
};

}  // namespace

TEST_F(RegistryValue, WrittenValuesAreReadBackUnderTheGamesKey)
{
    ASSERT_TRUE(Rv_SetStringValueToRegister("zhcn", "version", "1.0.0.1"));
    ASSERT_TRUE(Rv_SetStringValueToRegister("zhcn", "installPath", "C:\\Games\\QV7"));
    ASSERT_TRUE(Rv_SetStringValueToRegister("ZHCN", "Version", "1.0.0.2"));
    ASSERT_TRUE(Rv_SetStringValueToRegister("zhtw", "version", "3.0.0.0"));

    char szBuffer[128];
    ASSERT_TRUE(Rv_GetStringValueFromRegister("zhcn", "VERSION", szBuffer, sizeof(szBuffer)));
    EXPECT_STREQ("1.0.0.2", szBuffer);
    ASSERT_TRUE(Rv_GetStringValueFromRegister("zhcn", "installPath", szBuffer, sizeof(szBuffer)));
    EXPECT_STREQ("C:\\Games\\QV7", szBuffer);
    ASSERT_TRUE(Rv_GetStringValueFromRegister("zhtw", "version", szBuffer, sizeof(szBuffer)));
    EXPECT_STREQ("3.0.0.0", szBuffer);

    // The store's own key for the same values.
    Pf_RegKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Open(PF_HKEY_LOCAL_MACHINE, "SOFTWARE\\Tervana\\QV7\\zhcn"));
    ASSERT_EQ(ERROR_SUCCESS, key.QueryString("version", szBuffer, sizeof(szBuffer)));
    EXPECT_STREQ("1.0.0.2", szBuffer);
}

TEST_F(RegistryValue, ReadFailures)
{
    Rv_TestLogCapture log(m_dir);
    char szBuffer[128] = "old";
    ASSERT_TRUE(Rv_SetStringValueToRegister("zhcn", "setupVersion", std::string(127, 'v').c_str()));
    ASSERT_TRUE(Rv_SetStringValueToRegister("zhcn", "long", std::string(128, 'v').c_str()));

    EXPECT_TRUE(Rv_GetStringValueFromRegister("zhcn", "setupVersion", szBuffer, sizeof(szBuffer)));
    EXPECT_EQ(std::string(127, 'v'), szBuffer);

    struct Case {
        const char* cszVersionType;
        const char* cszName;
        const char* cszLogged;
    } aCases[] = {
        {"zhcn", "long", "RVLOG_PROCESS_ERROR(nRetCode == ERROR_SUCCESS) at line "},   // value and NUL do not fit
        {"zhcn", "missing", "RVLOG_PROCESS_ERROR(nRetCode == ERROR_SUCCESS) at line "},
        {"", "setupVersion", "RVLOG_PROCESS_ERROR(cszVersionType && cszVersionType[0]) at line "},
        {nullptr, "setupVersion", "RVLOG_PROCESS_ERROR(cszVersionType && cszVersionType[0]) at line "},
    };
    for (const Case& c : aCases) {
        strcpy(szBuffer, "old");
        EXPECT_FALSE(Rv_GetStringValueFromRegister(c.cszVersionType, c.cszName, szBuffer, sizeof(szBuffer))) << c.cszName;
        EXPECT_NE(std::string::npos, log.Text().find(c.cszLogged)) << c.cszLogged;
    }
    EXPECT_FALSE(Rv_GetStringValueFromRegister("zhcn", "setupVersion", nullptr, 128));
    EXPECT_NE(std::string::npos, log.Text().find(" in Rv_GetStringValueFromRegister\r\n"));

    // A missing key is nothing installed: it fails without a line.
    std::string strBefore = log.Text();
    EXPECT_FALSE(Rv_GetStringValueFromRegister("enus", "setupVersion", szBuffer, sizeof(szBuffer)));
    EXPECT_STREQ("", szBuffer);
    EXPECT_EQ(strBefore, log.Text());
}

TEST_F(RegistryValue, WriteFailuresTouchNothing)
{
    Rv_TestLogCapture log(m_dir);
    struct Case {
        const char* cszVersionType;
        const char* cszName;
        const char* cszValue;
        const char* cszLogged;
    } aCases[] = {
        {"zhcn", "version", "", "RVLOG_PROCESS_ERROR(cszValue && cszValue[0]) at line "},
        {"zhcn", "version", nullptr, "RVLOG_PROCESS_ERROR(cszValue && cszValue[0]) at line "},
        {"zhcn", "", "1.0", "RVLOG_PROCESS_ERROR(cszKeyName && cszKeyName[0]) at line "},
        {"", "version", "1.0", "RVLOG_PROCESS_ERROR(cszVersionType && cszVersionType[0]) at line "},
    };
    for (const Case& c : aCases) {
        EXPECT_FALSE(Rv_SetStringValueToRegister(c.cszVersionType, c.cszName, c.cszValue));
        EXPECT_NE(std::string::npos, log.Text().find(c.cszLogged)) << c.cszLogged;
    }
    EXPECT_EQ("", Rv_TestRun("ls -A '" + m_dir.File("registry") + "' 2>/dev/null")) << "the store was not touched";

    // A key path of 260 characters or more does not fit the key buffer.
    EXPECT_FALSE(Rv_SetStringValueToRegister(std::string(260 - 21, 't').c_str(), "version", "1.0"));
    EXPECT_TRUE(Rv_SetStringValueToRegister(std::string(259 - 21, 't').c_str(), "version", "1.0"));

    // A store that cannot be written is reported.
    Rv_TestWriteFile(m_dir.File("blocked"), "a file, not a folder");
    setenv("RV_REGISTRY_DIR", m_dir.File("blocked").c_str(), 1);
    EXPECT_FALSE(Rv_SetStringValueToRegister("zhcn", "version", "1.0"));
    EXPECT_NE(std::string::npos,
              log.Text().find("RVLOG_PROCESS_ERROR(nRetCode == ERROR_SUCCESS && \"RegOpenKeyEx()\") at line "));
    EXPECT_NE(std::string::npos, log.Text().find(" in Rv_SetStringValueToRegister\r\n"));
}
