// The patch list: versions from patch names, the checks on listed names, the
// list read with its bounds, and the chain built from the installed version.
#include "app/patch_list.h"
#include "tests/foundation/log_capture.h"
#include "tests/support/patch_list_builder.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

namespace {

Rv_VersionNumber _Version(const char* csz)
{
    Rv_VersionNumber version;
    EXPECT_TRUE(version.ParseString(csz)) << csz;
    return version;
}

std::string _Names(const std::vector<Rv_PatchRecord>& vecChain)
{
    std::string strNames;
    for (const Rv_PatchRecord& record : vecChain)
        strNames += (strNames.empty() ? "" : " ") + record.strFileName;
    return strNames;
}

// The name of a patch from one version to another.
std::string _Patch(const std::string& strFrom, const std::string& strTo, const std::string& strPrefix = "p")
{
    return strPrefix + "_c_" + strFrom + "-to-" + strTo + "_.zip";
}

class PatchListTest : public ::testing::Test {
protected:
    // Reads a list file of this text; the chain's names, or "FAIL".
    std::string Read(const char* cszCurrent, const char* cszLatest, const std::string& strText)
    {
        std::vector<Rv_PatchRecord> vecChain;
        Rv_TestWriteFile(m_strList, strText);
        if (!Rv_ReadPatchList(m_strList.c_str(), _Version(cszCurrent), _Version(cszLatest), &vecChain))
            return "FAIL";
        return _Names(vecChain);
    }
    std::string ReadNames(const char* cszCurrent, const char* cszLatest, const std::vector<std::string>& vecNames)
    {
        std::vector<Rv_TestListedPatch> vecListed;
        for (const std::string& strName : vecNames)
            vecListed.push_back({strName, "0123456789abcdef0123456789abcdef"});
        return Read(cszCurrent, cszLatest, Rv_TestPatchListText(cszLatest, vecListed));
    }

    Rv_TestTempDir m_Dir;
    std::string m_strList = m_Dir.File("autoupdateentry.txt");
};

}  // namespace

TEST(PatchVersionInfo, ParsesNamesAndRefusesMalformedOnes)
{
    struct Case {
        const char* cszName;
        const char* cszFrom;   // nullptr: the name must fail
        const char* cszTo;
    } aCases[] = {
        {"patch_c_1.0.8.1300-to-1.0.8.1310_full.zip", "1.0.8.1300", "1.0.8.1310"},
        {"x_c_1.0-to-1.1_.zip", "1.0", "1.1"},
        {"_c_1-2-to-1-3_", "1.2", "1.3"},
        {"a_c_1.0-to-1.0.1_b-to-9.9_.zip", "1.0", "1.0.1"},   // the first "-to-" and "_" after it
        {"p_c_1.0-to-2.0_c_3.0-to-4.0_.zip", "1.0", "2.0"},
        {"patch_1.0-to-1.1_.zip", nullptr, nullptr},          // no "_c_"
        {"p_c_1.0_to_1.1_.zip", nullptr, nullptr},            // no "-to-"
        {"p_c_1.0-to-1.1.zip", nullptr, nullptr},             // no "_" after the to-version
        {"p_c_1.1-to-1.1_.zip", nullptr, nullptr},            // from == to
        {"p_c_1.2-to-1.1_.zip", nullptr, nullptr},            // from > to
        {"p_c_1-to-2_.zip", nullptr, nullptr},                // versions without separators
        {"p_c_-to-1.1_.zip", nullptr, nullptr},               // empty from-version
        {"p_c_1.0-to-_.zip", nullptr, nullptr},               // empty to-version
        {"", nullptr, nullptr},
    };
    for (const Case& c : aCases) {
        Rv_VersionNumber From, To;
        int nRet = Rv_ParsePatchVersionInfo(c.cszName, &From, &To);
        EXPECT_EQ(c.cszFrom != nullptr, nRet != 0) << c.cszName;
        if (c.cszFrom && nRet) {
            EXPECT_EQ(_Version(c.cszFrom), From) << c.cszName;
            EXPECT_EQ(_Version(c.cszTo), To) << c.cszName;
        }
    }
    Rv_VersionNumber Version;
    EXPECT_FALSE(Rv_ParsePatchVersionInfo(nullptr, &Version, &Version));
    EXPECT_FALSE(Rv_ParsePatchVersionInfo("x_c_1.0-to-1.1_.zip", nullptr, &Version));
    EXPECT_FALSE(Rv_ParsePatchVersionInfo("x_c_1.0-to-1.1_.zip", &Version, nullptr));
}

TEST(PatchVersionInfo, LogsTheNameThatFailed)
{
    Rv_TestTempDir dir;
    Rv_TestLogCapture log(dir);
    Rv_VersionNumber From, To;
    ASSERT_FALSE(Rv_ParsePatchVersionInfo("p_c_1.0_to_1.1_.zip", &From, &To));
    std::string strLog = log.Text();
    EXPECT_NE(std::string::npos, strLog.find("Can not find `-to-`")) << strLog;
    EXPECT_NE(std::string::npos, strLog.find("Failed to parse patch `p_c_1.0_to_1.1_.zip`")) << strLog;
}

TEST(PatchFileName, RefusesNamesThatAreNoSingleLocalFile)
{
    const char* aszGood[] = {"x_c_1.0-to-1.1_.zip", "..x_c_1.0-to-1.1_.zip", "a b.zip", "...", "Patch.ZIP"};
    for (const char* csz : aszGood)
        EXPECT_TRUE(Rv_IsValidPatchFileName(csz)) << csz;
    const char* aszBad[] = {
        "", ".", "..", "..\\..\\x_c_1.0-to-1.1_.zip", "../x_c_1.0-to-1.1_.zip", "/x_c_1.0-to-1.1_.zip",
        "c:x_c_1.0-to-1.1_.zip", "a*b", "a?b", "a\"b", "a<b", "a>b", "a|b", "a\tb", "a\x7f" "b",
    };
    for (const char* csz : aszBad)
        EXPECT_FALSE(Rv_IsValidPatchFileName(csz)) << csz;
}

TEST_F(PatchListTest, BuildsTheChainFromTheInstalledVersion)
{
    struct Case {
        const char* cszWhat;
        const char* cszCurrent;
        const char* cszLatest;
        std::vector<std::string> vecNames;   // listed in this order
        std::string strChain;                // the chain's names, "" for none
    } aCases[] = {
        {"straight chain", "1.0", "1.2", {_Patch("1.0", "1.1"), _Patch("1.1", "1.2")},
         _Patch("1.0", "1.1") + " " + _Patch("1.1", "1.2")},
        {"listed out of order", "1.0", "1.2", {_Patch("1.1", "1.2"), _Patch("1.0", "1.1")},
         _Patch("1.0", "1.1") + " " + _Patch("1.1", "1.2")},
        {"gap stops the chain short", "1.0", "1.3", {_Patch("1.0", "1.1"), _Patch("1.2", "1.3")}, _Patch("1.0", "1.1")},
        {"nothing leads on from the installed version", "1.0", "1.2", {_Patch("1.1", "1.2")}, ""},
        {"patches below the installed version", "1.2", "1.3", {_Patch("1.0", "1.1"), _Patch("1.2", "1.3")},
         _Patch("1.2", "1.3")},
        {"to-version above the latest is ignored, equal stays", "1.0", "1.1",
         {_Patch("1.0", "1.2"), _Patch("1.0", "1.1")}, _Patch("1.0", "1.1")},
        {"only patches above the latest", "1.0", "1.1", {_Patch("1.0", "1.2")}, ""},
        {"same from-version: the greater to-version", "1.0", "1.2", {_Patch("1.0", "1.1"), _Patch("1.0", "1.2")},
         _Patch("1.0", "1.2")},
        {"same from- and to-version: the first listed", "1.0", "1.2",
         {_Patch("1.0", "1.2", "a"), _Patch("1.0", "1.2", "b")}, _Patch("1.0", "1.2", "a")},
        {"exact match before a spanning patch", "1.0", "1.5", {_Patch("1.0", "1.2"), _Patch("0.9", "1.5")},
         _Patch("1.0", "1.2")},
        {"spanning: the greatest to-version", "1.1", "1.4", {_Patch("1.0", "1.3"), _Patch("1.0.5", "1.4")},
         _Patch("1.0.5", "1.4")},
        {"spanning, equal to-versions: the smaller from-version", "1.1", "1.3",
         {_Patch("1.0.5", "1.3"), _Patch("1.0", "1.3")}, _Patch("1.0", "1.3")},
        {"spanning patch, then exact ones", "1.1", "1.3", {_Patch("1.2", "1.3"), _Patch("1.0", "1.2")},
         _Patch("1.0", "1.2") + " " + _Patch("1.2", "1.3")},
        {"several candidates at every step", "1.0", "2.0",
         {_Patch("1.0", "1.1"), _Patch("0.5", "1.3"), _Patch("1.1", "1.2"), _Patch("1.2", "2.0")},
         _Patch("1.0", "1.1") + " " + _Patch("1.1", "1.2") + " " + _Patch("1.2", "2.0")},
        {"a patch that only reaches the installed version", "1.1", "1.2", {_Patch("1.0", "1.1")}, ""},
        {"empty list", "1.0", "1.2", {}, ""},
    };
    for (const Case& c : aCases)
        EXPECT_EQ(c.strChain, ReadNames(c.cszCurrent, c.cszLatest, c.vecNames)) << c.cszWhat;
}

TEST_F(PatchListTest, BadNameFailsTheWholeRead)
{
    const std::string strGood = _Patch("1.0", "1.1");
    const std::vector<std::string> aBad = {
        "..\\..\\x_c_1.0-to-1.1_.zip",
        "up/x_c_1.0-to-1.1_.zip",
        "/tmp/x_c_1.0-to-1.1_.zip",
        "..",
        "x_c_1.0-to-1.1_:.zip",
        "x_c_1.0-to-1.1_?.zip",
        "nonsense.zip",                   // no versions in it
        "..\\x_c_1.0-to-9.0_.zip",        // hostile even though it leads above the latest
        "x_c_1.1-to-1.0_.zip",
    };
    for (const std::string& strBad : aBad) {
        EXPECT_EQ("FAIL", ReadNames("1.0", "1.1", {strGood, strBad})) << strBad;
        EXPECT_EQ("FAIL", ReadNames("1.0", "1.1", {strBad, strGood})) << strBad;
    }
}

TEST_F(PatchListTest, EntriesAndBounds)
{
    const std::string strHead = "[Version]\nLatestVersion=1.3\n[PatchList]\n";
    const std::string strP1 = "Patch_1=" + _Patch("1.0", "1.1") + "\nPatchMD5_1=m1\n";
    const std::string strP2 = "Patch_2=" + _Patch("1.1", "1.2") + "\nPatchMD5_2=m2\n";
    const std::string strP4 = "Patch_4=" + _Patch("1.2", "1.3") + "\nPatchMD5_4=m4\n";
    struct Case {
        const char* cszWhat;
        std::string strText;
        std::string strChain;
    } aCases[] = {
        {"a missing third entry ends the list", strHead + strP1 + strP2 + strP4,
         _Patch("1.0", "1.1") + " " + _Patch("1.1", "1.2")},
        {"an empty first name ends the list", strHead + "Patch_1=\nPatchMD5_1=m\n" + strP2, ""},
        {"no list section", "[Version]\nLatestVersion=1.3\n", ""},
        {"keys without case", strHead + "PATCH_1=" + _Patch("1.0", "1.1") + "\npatchmd5_1=m\n", _Patch("1.0", "1.1")},
        {"missing MD5", strHead + "Patch_1=" + _Patch("1.0", "1.1") + "\n", "FAIL"},
        {"empty MD5", strHead + "Patch_1=" + _Patch("1.0", "1.1") + "\nPatchMD5_1=\n", "FAIL"},
        {"MD5 missing on a later entry", strHead + strP1 + "Patch_2=" + _Patch("1.1", "1.2") + "\n", "FAIL"},
    };
    for (const Case& c : aCases)
        EXPECT_EQ(c.strChain, Read("1.0", "1.3", c.strText)) << c.cszWhat;

    // The listed MD5 and name come back as written; a name is read up to 255 characters.
    std::vector<Rv_PatchRecord> vecChain;
    std::string strLong = _Patch("1.0", "1.1") + std::string(300, 'x');
    Rv_TestWriteFile(m_strList, strHead + "Patch_1=" + strLong + "\nPatchMD5_1=AbCd\n");
    ASSERT_TRUE(Rv_ReadPatchList(m_strList.c_str(), _Version("1.0"), _Version("1.3"), &vecChain));
    ASSERT_EQ(1u, vecChain.size());
    EXPECT_EQ(strLong.substr(0, 255), vecChain[0].strFileName);
    EXPECT_EQ("AbCd", vecChain[0].strMD5);
    EXPECT_EQ(0, vecChain[0].nFileSize);
    EXPECT_EQ(0, vecChain[0].nRedownloadFlag);
    EXPECT_EQ(_Version("1.0"), vecChain[0].VersionFrom);
    EXPECT_EQ(_Version("1.1"), vecChain[0].VersionTo);
}

// A list far longer than any chain is read whole: the section is in memory.
TEST_F(PatchListTest, LongListsAreReadWhole)
{
    std::vector<Rv_TestListedPatch> vecMany;
    std::string strExpected;
    for (int i = 0; i < 3000; ++i) {
        std::string strName = _Patch("1.0." + std::to_string(i), "1.0." + std::to_string(i + 1));
        vecMany.push_back({strName, "m"});
        strExpected += (strExpected.empty() ? "" : " ") + strName;
    }
    EXPECT_EQ(strExpected, Read("1.0.0", "2.0", Rv_TestPatchListText("2.0", vecMany)));
}

TEST_F(PatchListTest, FailedReadKeepsThePreviousChain)
{
    std::vector<Rv_PatchRecord> vecChain(1);
    vecChain[0].strFileName = "previous";

    Rv_TestWriteFile(m_strList, "[PatchList]\nPatch_1=" + _Patch("1.0", "1.1") + "\n");
    EXPECT_FALSE(Rv_ReadPatchList(m_strList.c_str(), _Version("1.0"), _Version("2.0"), &vecChain));
    EXPECT_FALSE(Rv_ReadPatchList(m_Dir.File("missing.txt").c_str(), _Version("1.0"), _Version("2.0"), &vecChain));
    ASSERT_EQ(1u, vecChain.size());
    EXPECT_EQ("previous", vecChain[0].strFileName);
}
