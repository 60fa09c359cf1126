// The machine identifier over its two stores (the registry key and
// "hg.dat"), each test with its own registry and simulated machine: which
// store wins, the reset request, overlong, short, listed and unstorable
// identifiers, what an identifier is made of, and the buffers it is copied to.
#include "platform/clock.h"
#include "platform/file.h"
#include "platform/ini.h"
#include "platform/registry.h"
#include "telemetry/id_generator.h"
#include "telemetry/id_store.h"
#include "telemetry/machine_id.h"
#include "tests/foundation/log_capture.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <regex>

namespace {

const char s_szAbsent[] = "<absent>";

class MachineId : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("RV_REGISTRY_DIR", m_Dir.File("registry").c_str(), 1);
        setenv("RV_SIM_ROOT", m_Dir.File("sim").c_str(), 1);
        Rv_TestWriteFile(m_Dir.File("sim/common_app_data"), m_Dir.File("common"));
        Rv_TestRun("mkdir -p '" + m_Dir.File("common/Tervana/VSQ") + "'");
    }
    void TearDown() override
    {
        unsetenv("RV_REGISTRY_DIR");
        unsetenv("RV_SIM_ROOT");
    }

    std::string IdFile() const { return m_Dir.File("common/Tervana/VSQ/hg.dat"); }

    std::string RegGet(const char* cszName)
    {
        Pf_RegKey key;
        char szValue[1024];
        if (key.Open(PF_HKEY_CLASSES_ROOT, RV_ID_REGISTRY_KEY) != ERROR_SUCCESS ||
            key.QueryString(cszName, szValue, sizeof(szValue)) != ERROR_SUCCESS)
            return s_szAbsent;
        return szValue;
    }
    void RegSet(const char* cszName, const char* cszValue)
    {
        if (!cszValue)
            return;
        Pf_RegKey key;
        ASSERT_EQ(ERROR_SUCCESS, key.Create(PF_HKEY_CLASSES_ROOT, RV_ID_REGISTRY_KEY));
        ASSERT_EQ(ERROR_SUCCESS, key.SetString(cszName, cszValue));
    }
    std::string FileGet(const char* cszName) { return Pf_IniReadString(IdFile(), "id", cszName, s_szAbsent); }
    void FileSet(const char* cszName, const char* cszValue)
    {
        if (cszValue) {
            ASSERT_TRUE(Pf_IniWriteString(IdFile(), "id", cszName, cszValue));
        }
    }

    static std::string Get(const char* cszDenyList = "")
    {
        std::u16string wstrUUID;
        GetUUIDEx(cszDenyList, &wstrUUID);
        return std::string(wstrUUID.begin(), wstrUUID.end());       // hexadecimal digits only
    }
    static bool IsNewId(const std::string& str) { return std::regex_match(str, std::regex("[0-9a-f]{32}")); }

    Rv_TestTempDir m_Dir;
};

const char s_szStoredId[] = "0123456789abcdef0123456789abcdef";
const char s_szOtherId[] = "fedcba9876543210fedcba9876543210";
const std::string s_strLongId(40, 'a');
const std::string s_strShortId(20, 'b');
const std::string s_strShortId31(31, 'c');
const std::string s_strForeignId = std::string(30, 'd') + "-.";

}  // namespace

TEST_F(MachineId, StoresAgreeOnOneIdentifier)
{
    struct Case {
        const char* cszName;
        const char* cszRegIdex;     // nullptr: not stored
        const char* cszRegIdno;
        const char* cszFileIdex;
        const char* cszFileIdno;
        const char* cszExpected;    // nullptr: a new identifier, unlike any stored one
        int nFelnResult;            // Rv_GetFelnUUIDEx
        const char* cszFileKeeps = nullptr;     // the file's own identifier, left alone
    } aCases[] = {
        {"both stores empty", nullptr, nullptr, nullptr, nullptr, nullptr, 1},
        {"only the file holds it", nullptr, nullptr, s_szStoredId, "0", s_szStoredId, 1},
        {"only the registry holds it", s_szStoredId, "0", nullptr, nullptr, s_szStoredId, 1},
        {"the registry's value wins", s_szStoredId, "0", s_szOtherId, "0", s_szStoredId, 1, s_szOtherId},
        {"reset asked in the registry", s_szStoredId, "-1", s_szStoredId, "0", nullptr, 1},
        {"reset asked in the file only", nullptr, nullptr, s_szStoredId, "-7", nullptr, 1},
        {"a positive idno is no reset", s_szStoredId, "3", nullptr, nullptr, s_szStoredId, 1},
        {"40 characters are replaced", s_strLongId.c_str(), "0", nullptr, nullptr, nullptr, 1},
        {"20 characters are replaced", s_strShortId.c_str(), "0", nullptr, nullptr, nullptr, 1},
        {"one character in both stores is replaced in both", "c", "0", "c", "0", nullptr, 1},
        {"31 characters in the file are replaced", nullptr, nullptr, s_strShortId31.c_str(), "0", nullptr, 1},
        {"32 characters that are not digits are replaced", s_strForeignId.c_str(), "0", nullptr, nullptr, nullptr, 1},
        {"an empty registry value gives way to the file", "", "0", s_szStoredId, "0", s_szStoredId, 1},
    };
    for (const Case& c : aCases) {
        SCOPED_TRACE(c.cszName);
        Rv_TestRun("rm -rf '" + m_Dir.File("registry") + "' '" + IdFile() + "'");
        RegSet("idex", c.cszRegIdex);
        RegSet("idno", c.cszRegIdno);
        FileSet("idex", c.cszFileIdex);
        FileSet("idno", c.cszFileIdno);

        std::string strId = Get();
        if (c.cszExpected) {
            EXPECT_EQ(c.cszExpected, strId);
        } else {
            EXPECT_TRUE(IsNewId(strId)) << strId;
            EXPECT_NE(s_szStoredId, strId);
        }
        // Both stores hold it, with no reset pending, and the next call agrees.
        EXPECT_EQ(strId, RegGet("idex"));
        EXPECT_EQ(c.cszFileKeeps ? c.cszFileKeeps : strId, FileGet("idex"));
        EXPECT_EQ(c.cszRegIdno && strcmp(c.cszRegIdno, "3") == 0 ? "3" : "0", RegGet("idno"));
        EXPECT_EQ(c.cszRegIdno && strcmp(c.cszRegIdno, "3") == 0 ? "3" : "0", FileGet("idno"));
        EXPECT_EQ(strId, Get());

        char szBuffer[128] = "untouched";
        EXPECT_EQ(c.nFelnResult, Rv_GetFelnUUIDEx(szBuffer));
        EXPECT_EQ(c.nFelnResult ? strId : "", std::string(szBuffer));
        // A refused identifier was read once more into a fresh registry key.
        EXPECT_EQ(strId, RegGet("idex"));
    }
}

// A short identifier used to be handed out, refused by the length rule on
// every run and read back from the file store into a fresh registry key.
TEST_F(MachineId, ShortIdentifierIsReplacedNotRefused)
{
    Rv_TestLogCapture log(m_Dir);
    RegSet("idex", s_strShortId.c_str());
    FileSet("idex", s_strShortId.c_str());
    char szBuffer[128];
    EXPECT_TRUE(Rv_GetFelnUUIDEx(szBuffer));
    EXPECT_TRUE(IsNewId(szBuffer)) << szBuffer;
    EXPECT_EQ(szBuffer, RegGet("idex"));
    EXPECT_EQ(szBuffer, FileGet("idex"));
    EXPECT_EQ(std::string::npos, log.Text().find("UUID5_STRING_LEN")) << log.Text();
}

TEST_F(MachineId, ListedIdentifierIsReplaced)
{
    RegSet("idex", s_szStoredId);
    std::string strDenyList = m_Dir.File("deny.ini");
    ASSERT_TRUE(Pf_IniWriteString(strDenyList, "ulst", s_szOtherId, "1"));
    EXPECT_EQ(s_szStoredId, Get(strDenyList.c_str()));
    EXPECT_EQ(s_szStoredId, Get(m_Dir.File("missing.ini").c_str()));

    ASSERT_TRUE(Pf_IniWriteString(strDenyList, "ulst", s_szStoredId, "0"));
    std::string strNew = Get(strDenyList.c_str());
    EXPECT_TRUE(IsNewId(strNew)) << strNew;
    EXPECT_NE(s_szStoredId, strNew);
    EXPECT_EQ(strNew, RegGet("idex"));
    EXPECT_EQ(strNew, FileGet("idex"));
}

TEST_F(MachineId, StoresThatCannotKeepItGiveANewIdentifierEveryTime)
{
    // The registry's root is a file, and the file store's folder is missing.
    Rv_TestWriteFile(m_Dir.File("not_a_folder"), "x");
    setenv("RV_REGISTRY_DIR", m_Dir.File("not_a_folder").c_str(), 1);
    Rv_TestRun("rm -rf '" + m_Dir.File("common/Tervana") + "'");
    std::string strFirst = Get();
    std::string strSecond = Get();
    EXPECT_TRUE(IsNewId(strFirst)) << strFirst;
    EXPECT_TRUE(IsNewId(strSecond)) << strSecond;
    EXPECT_NE(strFirst, strSecond);
    EXPECT_FALSE(Pf_FileExists(IdFile()));
    char szBuffer[128];
    EXPECT_TRUE(Rv_GetFelnUUIDEx(szBuffer));
}

namespace {

void _FixedTime(Pf_SYSTEMTIME* pTime)
{
    *pTime = Pf_SYSTEMTIME{2026, 12, 10, 19, 7, 5, 42};
}

}  // namespace

TEST_F(MachineId, IdentifierIsMadeFromRandomGuidTimeNameAndFreeBytes)
{
    Rv_TestWriteFile(m_Dir.File("sim/computer_name"), "GAMING-PC");
    Rv_TestWriteFile(m_Dir.File("sim/free_bytes"), "4294967301");      // 2^32 + 5
    Pf_SetLocalTimeHook(_FixedTime);
    std::string strFirst = Rv_MachineIdSource();
    std::string strSecond = Rv_MachineIdSource();
    Pf_SetLocalTimeHook(nullptr);

    int nStatus = -1;
    std::string strNameMD5 = Rv_TestRun("printf GAMING-PC | md5sum", &nStatus).substr(0, 32);
    ASSERT_EQ(0, nStatus);
    std::smatch match;
    ASSERT_TRUE(std::regex_match(strFirst, match,
                                 std::regex("([0-9]{5})([0-9A-F]{8}[0-9A-F]{4}4[0-9a-f]{3}[0-9A-F]{16})(.*)")))
        << strFirst;
    EXPECT_EQ("042" "07" "10" "2026" "19" "05" "12" + strNameMD5 + "0000000005", match[3].str());
    // The GUID differs from one identifier to the next.
    EXPECT_NE(strFirst.substr(5, 32), strSecond.substr(5, 32));

    std::string strId;
    std::string strOther;
    Rv_GenerateMachineId(&strId);
    Rv_GenerateMachineId(&strOther);
    EXPECT_TRUE(IsNewId(strId)) << strId;
    EXPECT_NE(strId, strOther);
}

TEST_F(MachineId, CopiesCheckTheirBuffers)
{
    RegSet("idex", s_szStoredId);
    char szBuffer[256];
    EXPECT_FALSE(GetFelnUUIDEx(nullptr, 128));
    EXPECT_FALSE(GetFelnUUIDEx(szBuffer, 33));      // the text with its terminator needs 33
    EXPECT_TRUE(GetFelnUUIDEx(szBuffer, 34));
    EXPECT_STREQ(s_szStoredId, szBuffer);
    EXPECT_FALSE(Rv_GetFelnUUIDEx(nullptr));

    g_wstrMachineUUID.clear();
    EXPECT_FALSE(GetMachineUUIDUtf8(128, szBuffer));        // nothing loaded yet
    LoadMachineUUID();
    struct Case {
        int nSize;
        char* pszBuffer;
        int nResult;
    } aCases[] = {
        {128, szBuffer, 1}, {256, szBuffer, 1}, {33, szBuffer, 1}, {32, szBuffer, 0},
        {0, szBuffer, 0},   {-1, szBuffer, 0},  {128, nullptr, 0},
    };
    for (const Case& c : aCases) {
        strcpy(szBuffer, "untouched");
        EXPECT_EQ(c.nResult, GetMachineUUIDUtf8(c.nSize, c.pszBuffer)) << c.nSize;
        EXPECT_STREQ(c.nResult ? s_szStoredId : "untouched", szBuffer) << c.nSize;
    }
}
