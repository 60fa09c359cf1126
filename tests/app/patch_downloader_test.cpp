// The patch-chain downloader's set-up, its reading of a local patch list, and
// the queries on the chain: the patch names, the DirectX package and whether
// the chain reaches the latest version.
#include "app/patch_downloader.h"
#include "tests/support/patch_list_builder.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

namespace {

std::string _Patch(const std::string& strFrom, const std::string& strTo)
{
    return "p_c_" + strFrom + "-to-" + strTo + "_.zip";
}

std::string _Names(const Rv_PatchFileInfoList& List)
{
    std::string strNames;
    for (const Rv_PatchFileInfo& info : List)
        strNames += (strNames.empty() ? "" : " ") + info.strFileName;
    return strNames;
}

class PatchDownloaderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_Downloader.Init("http://127.0.0.1:1/v", m_Dir.Path().c_str(), "1.0"));
    }
    // Writes a list of these patches (MD5s "m<n>") and reads it.
    int ReadList(const std::string& strLatest, const std::vector<std::string>& vecNames, int* pnRetFlag,
                 std::string* pstrRetLatest = nullptr)
    {
        std::vector<Rv_TestListedPatch> vecListed;
        for (size_t i = 0; i < vecNames.size(); ++i)
            vecListed.push_back({vecNames[i], "m" + std::to_string(i + 1)});
        Rv_TestWriteFile(m_strList, Rv_TestPatchListText(strLatest, vecListed));
        return m_Downloader.ReadListFile(m_strList.c_str(), pnRetFlag, pstrRetLatest);
    }

    Rv_TestTempDir m_Dir;
    std::string m_strList = m_Dir.File("autoupdateentry.txt");
    Rv_PatchDownloader m_Downloader;
};

}  // namespace

TEST(PatchDownloaderInit, EndsOfPrefixAndFolderAndBadArguments)
{
    struct Case {
        const char* cszPrefix;
        const char* cszFolder;
        const char* cszVersion;
        const char* cszWantPrefix;   // nullptr: Init fails
        const char* cszWantFolder;
    } aCases[] = {
        {"http://h/v", "update", "1.0", "http://h/v/", "update\\"},
        {"http://h/v/", "update\\", "1.0", "http://h/v/", "update\\"},
        {"http://h/v\\", "update/", "1.0", "http://h/v\\", "update/"},
        {"", "update", "1.0", nullptr, nullptr},
        {nullptr, "update", "1.0", nullptr, nullptr},
        {"http://h/v", "", "1.0", nullptr, nullptr},
        {"http://h/v", nullptr, "1.0", nullptr, nullptr},
        {"http://h/v", "update", "", nullptr, nullptr},
        {"http://h/v", "update", nullptr, nullptr, nullptr},
        {"http://h/v", "update", "100", nullptr, nullptr},   // no separator: not a version
    };
    for (const Case& c : aCases) {
        Rv_PatchDownloader downloader;
        int nRet = downloader.Init(c.cszPrefix, c.cszFolder, c.cszVersion);
        std::string strWhat = std::string(c.cszPrefix ? c.cszPrefix : "(null)") + " " +
                              (c.cszFolder ? c.cszFolder : "(null)") + " " + (c.cszVersion ? c.cszVersion : "(null)");
        EXPECT_EQ(c.cszWantPrefix != nullptr, nRet != 0) << strWhat;
        if (c.cszWantPrefix) {
            EXPECT_EQ(c.cszWantPrefix, downloader.m_strURLPrefix) << strWhat;
            EXPECT_EQ(c.cszWantFolder, downloader.m_strSaveFilePath) << strWhat;
            EXPECT_EQ(1, downloader.m_nLastErrorCode) << strWhat;
        } else {
            EXPECT_EQ(-1, downloader.m_nLastErrorCode) << strWhat;
        }
    }
}

TEST_F(PatchDownloaderTest, LatestVersionAndTheChainsReach)
{
    struct Case {
        const char* cszWhat;
        const char* cszLatest;
        std::vector<std::string> vecNames;
        int nFlag;
        const char* cszChain;
        int nCanUpdate;
    } aCases[] = {
        // The entries are not read when nothing is newer, so even a bad one does no harm.
        {"already latest", "1.0", {"..\\..\\evil.zip"}, 0, "", 1},
        {"installed above the latest", "0.9", {}, 0, "", 1},
        {"chain to the latest", "1.2", {_Patch("1.0", "1.1"), _Patch("1.1", "1.2")}, 1,
         "p_c_1.0-to-1.1_.zip p_c_1.1-to-1.2_.zip", 1},
        {"chain stops short", "1.3", {_Patch("1.0", "1.1"), _Patch("1.2", "1.3")}, 1, "p_c_1.0-to-1.1_.zip", 0},
        {"newer but no patch listed", "1.2", {}, 1, "", 0},
        {"newer, nothing leads on", "1.2", {_Patch("1.1", "1.2")}, 1, "", 0},
    };
    for (const Case& c : aCases) {
        Rv_PatchDownloader downloader;
        ASSERT_TRUE(downloader.Init("http://h/v", m_Dir.Path().c_str(), "1.0"));
        std::vector<Rv_TestListedPatch> vecListed;
        for (const std::string& strName : c.vecNames)
            vecListed.push_back({strName, "m"});
        Rv_TestWriteFile(m_strList, Rv_TestPatchListText(c.cszLatest, vecListed));

        int nFlag = -5;
        std::string strLatest;
        ASSERT_TRUE(downloader.ReadListFile(m_strList.c_str(), &nFlag, &strLatest)) << c.cszWhat;
        EXPECT_EQ(c.nFlag, nFlag) << c.cszWhat;
        EXPECT_EQ(c.cszLatest, strLatest) << c.cszWhat;
        Rv_PatchFileInfoList List;
        ASSERT_TRUE(downloader.GetDownloadedPatchNameList(&List));
        EXPECT_EQ(c.cszChain, _Names(List)) << c.cszWhat;
        EXPECT_EQ(c.nCanUpdate, downloader.CanUpdateToLatest()) << c.cszWhat;
        EXPECT_EQ(c.nCanUpdate ? 1 : -1, downloader.m_nLastErrorCode) << c.cszWhat;
    }
}

TEST_F(PatchDownloaderTest, BadLatestVersionFails)
{
    struct Case {
        const char* cszWhat;
        std::string strText;
    } aCases[] = {
        {"no version section", "[PatchList]\nPatch_1=" + _Patch("1.0", "1.1") + "\nPatchMD5_1=m\n"},
        {"empty latest version", "[Version]\nLatestVersion=\n"},
        {"latest version without separator", "[Version]\nLatestVersion=12\n"},
        {"hostile patch name", "[Version]\nLatestVersion=1.1\n[PatchList]\nPatch_1=..\\..\\x_c_1.0-to-1.1_.zip\n"
                               "PatchMD5_1=m\n"},
        {"missing MD5", "[Version]\nLatestVersion=1.1\n[PatchList]\nPatch_1=" + _Patch("1.0", "1.1") + "\n"},
    };
    for (const Case& c : aCases) {
        Rv_PatchDownloader downloader;
        ASSERT_TRUE(downloader.Init("http://h/v", m_Dir.Path().c_str(), "1.0"));
        Rv_TestWriteFile(m_strList, c.strText);
        int nFlag = 0;
        EXPECT_FALSE(downloader.ReadListFile(m_strList.c_str(), &nFlag, nullptr)) << c.cszWhat;
        EXPECT_EQ(-1, downloader.m_nLastErrorCode) << c.cszWhat;
    }
    EXPECT_FALSE(m_Downloader.ReadListFile(m_Dir.File("missing.txt").c_str(), nullptr, nullptr));
    int nFlag = 0;
    EXPECT_FALSE(m_Downloader.ReadListFile(m_Dir.File("missing.txt").c_str(), &nFlag, nullptr));

    // A latest version is read up to 127 characters.
    std::string strLong = "1.1" + std::string(200, '0');
    Rv_TestWriteFile(m_strList, "[Version]\nLatestVersion=" + strLong + "\n");
    std::string strLatest;
    ASSERT_TRUE(m_Downloader.ReadListFile(m_strList.c_str(), &nFlag, &strLatest));
    EXPECT_EQ(strLong.substr(0, 127), strLatest);
}

TEST_F(PatchDownloaderTest, ChainStaysWhenNothingNewerOrTheReadFails)
{
    int nFlag = 0;
    ASSERT_TRUE(ReadList("1.2", {_Patch("1.0", "1.1"), _Patch("1.1", "1.2")}, &nFlag));
    ASSERT_TRUE(ReadList("1.0", {}, &nFlag));
    EXPECT_EQ(0, nFlag);
    EXPECT_FALSE(ReadList("1.2", {_Patch("1.0", "1.1"), "x/y_c_1.1-to-1.2_.zip"}, &nFlag));

    Rv_PatchFileInfoList List = {{"kept", "", 0}};
    ASSERT_TRUE(m_Downloader.GetPatchInfoList(List));
    EXPECT_EQ("kept p_c_1.0-to-1.1_.zip p_c_1.1-to-1.2_.zip", _Names(List));
    ASSERT_TRUE(m_Downloader.GetDownloadedPatchNameList(&List));
    ASSERT_EQ(2u, List.size());
    EXPECT_EQ("m1", List[0].strMD5);
    EXPECT_EQ("m2", List[1].strMD5);
    EXPECT_FALSE(m_Downloader.GetDownloadedPatchNameList(nullptr));
}

TEST_F(PatchDownloaderTest, FailureKeepsAnErrorCodeAlreadySet)
{
    int nFlag = 0;
    for (int nCode : {0, 2, 5}) {
        m_Downloader.m_nLastErrorCode = nCode;
        ASSERT_TRUE(ReadList("1.3", {_Patch("1.0", "1.1")}, &nFlag));
        EXPECT_FALSE(m_Downloader.CanUpdateToLatest());
        EXPECT_FALSE(ReadList("1.3", {"bad"}, &nFlag));
        EXPECT_EQ(nCode, m_Downloader.m_nLastErrorCode);
    }
}

TEST_F(PatchDownloaderTest, DirectXPackage)
{
    std::string strFile;
    EXPECT_FALSE(m_Downloader.GetDXInstallerFile(&strFile));   // not flagged
    m_Downloader.m_nDownloadDXFlag = 1;
    EXPECT_FALSE(m_Downloader.GetDXInstallerFile(&strFile));   // flagged, not there
    Rv_TestWriteFile(m_Dir.File("dx9_43.zip"), "zip");
    ASSERT_TRUE(m_Downloader.GetDXInstallerFile(&strFile));
    EXPECT_EQ(m_Dir.Path() + "\\dx9_43.zip", strFile);
    EXPECT_FALSE(m_Downloader.GetDXInstallerFile(nullptr));
}
