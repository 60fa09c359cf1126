// The file-backed registry store: keys and string values kept under a
// folder of the test's own.
#include "platform/registry.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>
#include <vector>

namespace {

class Registry : public ::testing::Test {
protected:
    void SetUp() override { setenv("RV_REGISTRY_DIR", m_dir.File("registry").c_str(), 1); }
    void TearDown() override { unsetenv("RV_REGISTRY_DIR"); }

    // Writes a value under HKEY_LOCAL_MACHINE, creating the key.
    long Set(const std::string& strKey, const std::string& strName, const std::string& strValue)
    {
        Pf_RegKey key;
        long lResult = key.Create(PF_HKEY_LOCAL_MACHINE, strKey);
        return lResult != ERROR_SUCCESS ? lResult : key.SetString(strName, strValue);
    }
    // Reads a value into a buffer of uSize bytes; "<error N>" when it fails.
    std::string Get(const std::string& strKey, const std::string& strName, size_t uSize = 256)
    {
        Pf_RegKey key;
        std::vector<char> vecBuffer(uSize, 'x');
        long lResult = key.Open(PF_HKEY_LOCAL_MACHINE, strKey);
        if (lResult != ERROR_SUCCESS)
            return "<error " + std::to_string(lResult) + ">";
        lResult = key.QueryString(strName, vecBuffer.data(), vecBuffer.size());
        if (lResult != ERROR_SUCCESS) {
            EXPECT_EQ('\0', vecBuffer[0]) << "a failed read leaves the buffer terminated";
            return "<error " + std::to_string(lResult) + ">";
        }
        return vecBuffer.data();
    }

    Rv_TestTempDir m_dir;
};

}  // namespace

TEST_F(Registry, ValuesRoundTripWithNamesWithoutCase)
{
    ASSERT_EQ(ERROR_SUCCESS, Set("SOFTWARE\\Maker\\Game\\zhcn", "installPath", "C:\\Games\\Game"));
    ASSERT_EQ(ERROR_SUCCESS, Set("SOFTWARE\\Maker\\Game\\zhcn", "version", "1.0.0.1"));
    ASSERT_EQ(ERROR_SUCCESS, Set("software\\MAKER\\game\\ZHCN", "VERSION", "2.0.0.7"));

    struct Case {
        const char* cszKey;
        const char* cszName;
        std::string strExpected;
    } aCases[] = {
        {"SOFTWARE\\Maker\\Game\\zhcn", "version", "2.0.0.7"},
        {"Software\\maker\\Game\\Zhcn", "InstallPath", "C:\\Games\\Game"},
        {"SOFTWARE\\Maker\\Game\\zhcn", "missing", "<error 2>"},
        {"SOFTWARE\\Maker\\Game\\other", "version", "<error 2>"},
        {"SOFTWARE\\Maker\\Game", "version", "<error 2>"},     // values belong to their own key only
    };
    for (const Case& c : aCases)
        EXPECT_EQ(c.strExpected, Get(c.cszKey, c.cszName)) << c.cszKey << " " << c.cszName;
}

TEST_F(Registry, ValuesOfAnyTextRoundTrip)
{
    const std::string aValues[] = {
        "a=b=c", "100%", "%41", "line\nbreak\r\n", "tab\there", "\xe4\xb8\xad\xe6\x96\x87", "", " lead and trail ",
    };
    for (const std::string& strValue : aValues) {
        ASSERT_EQ(ERROR_SUCCESS, Set("K", "name=with%odd\nchars", strValue));
        EXPECT_EQ(strValue, Get("K", "name=with%odd\nchars"));
    }
    Pf_RegKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Open(PF_HKEY_LOCAL_MACHINE, "K"));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, key.SetString("v", std::string("a\0b", 3)));
}

TEST_F(Registry, ReadsAlwaysTerminateAndRefuseWhatDoesNotFit)
{
    ASSERT_EQ(ERROR_SUCCESS, Set("K", "v", "12345"));
    struct Case {
        size_t uSize;
        std::string strExpected;
    } aCases[] = {
        {7, "12345"},
        {6, "12345"},
        {5, "<error 234>"},
        {1, "<error 234>"},
    };
    for (const Case& c : aCases)
        EXPECT_EQ(c.strExpected, Get("K", "v", c.uSize)) << c.uSize;

    Pf_RegKey key;
    char szSmall[3];
    size_t uNeeded = 0;
    ASSERT_EQ(ERROR_SUCCESS, key.Open(PF_HKEY_LOCAL_MACHINE, "K"));
    EXPECT_EQ(ERROR_MORE_DATA, key.QueryString("v", szSmall, sizeof(szSmall), &uNeeded));
    EXPECT_EQ(6u, uNeeded);
}

TEST_F(Registry, KeyNamesStayInsideTheStore)
{
    const char* aKeys[] = {"..", "a\\..\\..\\b", ".", "a/b", "@values", "@lock", "%2e%2e"};
    for (const char* cszKey : aKeys) {
        ASSERT_EQ(ERROR_SUCCESS, Set(cszKey, "v", cszKey)) << cszKey;
    }
    for (const char* cszKey : aKeys)
        EXPECT_EQ(cszKey, Get(cszKey, "v")) << cszKey;
    // Nothing was written beside the store's root folder.
    EXPECT_EQ("registry\n", Rv_TestRun("ls '" + m_dir.Path() + "'"));
    EXPECT_EQ("", Rv_TestRun("find '" + m_dir.Path() + "' -name '*.tmp'"));

    const std::string aRefused[] = {"", "a\\\\b", "\\a", "a\\", std::string(300, 'k')};
    for (const std::string& strKey : aRefused) {
        Pf_RegKey key;
        EXPECT_EQ(ERROR_INVALID_PARAMETER, key.Create(PF_HKEY_LOCAL_MACHINE, strKey)) << strKey;
        EXPECT_FALSE(key.IsOpen());
    }
}

TEST_F(Registry, DamagedValuesFileIsReportedNotMisread)
{
    ASSERT_EQ(ERROR_SUCCESS, Set("K", "v", "good"));
    std::string strValues = m_dir.File("registry/hkey_local_machine/k/@values");
    const char* aDamaged[] = {"v=good", "v=go%zzod\n", "no equal sign\n", "v=%00\n"};
    for (const char* cszData : aDamaged) {
        Rv_TestWriteFile(strValues, cszData);
        EXPECT_EQ("<error 13>", Get("K", "v")) << cszData;
        EXPECT_EQ(ERROR_INVALID_DATA, Set("K", "w", "new")) << cszData;
        EXPECT_EQ(cszData, Rv_TestReadFile(strValues)) << "a damaged file is left as it was";
    }
}

TEST_F(Registry, ConcurrentWritersLoseNothing)
{
    std::vector<std::thread> vecThreads;
    for (int t = 0; t < 8; ++t) {
        vecThreads.emplace_back([this, t] {
            for (int i = 0; i < 20; ++i)
                EXPECT_EQ(ERROR_SUCCESS, Set("Shared", "t" + std::to_string(t) + "_" + std::to_string(i), std::to_string(i)));
        });
    }
    for (std::thread& thread : vecThreads)
        thread.join();
    for (int t = 0; t < 8; ++t)
        for (int i = 0; i < 20; ++i)
            EXPECT_EQ(std::to_string(i), Get("Shared", "t" + std::to_string(t) + "_" + std::to_string(i)));
}

TEST_F(Registry, RootsAreSeparateAndKeysCanBeDeleted)
{
    const Pf_RegRoot aRoots[] = {PF_HKEY_LOCAL_MACHINE, PF_HKEY_CURRENT_USER, PF_HKEY_CLASSES_ROOT};
    for (Pf_RegRoot eRoot : aRoots) {
        Pf_RegKey key;
        ASSERT_EQ(ERROR_SUCCESS, key.Create(eRoot, "CLSID\\{A}\\Implemented Categories\\{B}"));
        ASSERT_EQ(ERROR_SUCCESS, key.SetString("idex", std::to_string((int)eRoot)));
    }
    for (Pf_RegRoot eRoot : aRoots) {
        Pf_RegKey key;
        char szValue[16];
        ASSERT_EQ(ERROR_SUCCESS, key.Open(eRoot, "clsid\\{a}\\implemented categories\\{b}"));
        ASSERT_EQ(ERROR_SUCCESS, key.QueryString("IDEX", szValue, sizeof(szValue)));
        EXPECT_EQ(std::to_string((int)eRoot), szValue);
    }

    // Only a key without keys below it goes, with its values; the others stay.
    EXPECT_EQ(ERROR_ACCESS_DENIED, Pf_RegDeleteKey(PF_HKEY_CLASSES_ROOT, "CLSID\\{A}"));
    EXPECT_EQ(ERROR_SUCCESS, Pf_RegDeleteKey(PF_HKEY_CLASSES_ROOT, "CLSID\\{A}\\Implemented Categories\\{B}"));
    Pf_RegKey key;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, key.Open(PF_HKEY_CLASSES_ROOT, "CLSID\\{A}\\Implemented Categories\\{B}"));
    EXPECT_EQ(ERROR_SUCCESS, key.Open(PF_HKEY_CLASSES_ROOT, "CLSID\\{A}\\Implemented Categories"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, Pf_RegDeleteKey(PF_HKEY_CLASSES_ROOT, "CLSID\\{A}\\Implemented Categories\\{B}"));
    EXPECT_EQ(ERROR_SUCCESS, key.Open(PF_HKEY_LOCAL_MACHINE, "CLSID\\{A}\\Implemented Categories\\{B}"));
    // A key made anew after the deletion starts empty.
    char szValue[16];
    ASSERT_EQ(ERROR_SUCCESS, key.Create(PF_HKEY_CLASSES_ROOT, "CLSID\\{A}\\Implemented Categories\\{B}"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, key.QueryString("idex", szValue, sizeof(szValue)));
}

// The store's root: its own setting, the data folder of the user, and with
// no HOME the home that the password database gives (never the current folder).
TEST(RegistryRoot, FromSettingDataFolderOrHome)
{
    const char* cszHome = getenv("HOME");
    const std::string strSavedHome = cszHome ? cszHome : "";
    const std::string strPasswdHome = Rv_TestRun("getent passwd \"$(id -u)\" | cut -d: -f6 | tr -d '\\n'");
    ASSERT_FALSE(strPasswdHome.empty());
    unsetenv("RV_REGISTRY_DIR");
    unsetenv("XDG_DATA_HOME");

    setenv("HOME", "/home/someone", 1);
    EXPECT_EQ("/home/someone/.local/share/refitter/registry", Pf_RegistryRoot());
    setenv("XDG_DATA_HOME", "/data", 1);
    EXPECT_EQ("/data/refitter/registry", Pf_RegistryRoot());
    setenv("XDG_DATA_HOME", "relative", 1);
    EXPECT_EQ("/home/someone/.local/share/refitter/registry", Pf_RegistryRoot());
    unsetenv("XDG_DATA_HOME");
    setenv("RV_REGISTRY_DIR", "/store", 1);
    EXPECT_EQ("/store", Pf_RegistryRoot());
    unsetenv("RV_REGISTRY_DIR");

    unsetenv("HOME");
    EXPECT_EQ(strPasswdHome + "/.local/share/refitter/registry", Pf_RegistryRoot());
    setenv("HOME", "", 1);
    EXPECT_EQ(strPasswdHome + "/.local/share/refitter/registry", Pf_RegistryRoot());

    if (cszHome)
        setenv("HOME", strSavedHome.c_str(), 1);
    else
        unsetenv("HOME");
}
