// The patch extractor in a client tree of its own: plain items, the skip
// table, "version.cfg" last, scripts after the other items, hostile names,
// a damaged item leaving the old file, a full disk, packages of both
// single-file formats, file-link lists and the item names' rules.
#include "app/patch_extractor.h"
#include "app/patch_extractor_names.h"

#include "platform/file.h"
#include "platform/ini.h"
#include "tests/support/package_builder.h"
#include "tests/support/patch_builder.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// The client is <root>/game/client, its temp folder client/update, so the
// package folder would be <root>/pakV3. The client folder is current, as in
// the updater.
class PatchExtractorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_strClient = m_Root.File("game/client");
        m_strTemp = m_strClient + "/update";
        ASSERT_TRUE(Pf_CreateDirChain(m_strTemp));
        ASSERT_TRUE(Pf_GetCurrentDir(&m_strOldCurrent));
        ASSERT_TRUE(Pf_SetCurrentDir(m_strClient));
        const char* cszSim = getenv("RV_SIM_ROOT");
        m_bHadSim = cszSim != nullptr;
        if (cszSim)
            m_strOldSim = cszSim;
        unsetenv("RV_SIM_ROOT");
    }
    void TearDown() override
    {
        Pf_SetCurrentDir(m_strOldCurrent);
        if (m_bHadSim)
            setenv("RV_SIM_ROOT", m_strOldSim.c_str(), 1);
        else
            unsetenv("RV_SIM_ROOT");
    }
    // Extracts the patch; the extractor's error code in *pnRetErrorCode.
    int Run(const Rv_TestPatchBuilder& Builder, int* pnRetErrorCode = nullptr)
    {
        std::string strZip = m_ZipDir.File("patch.zip");
        EXPECT_TRUE(Builder.Write(strZip));
        Rv_PatchExtractor Extractor;
        EXPECT_TRUE(Extractor.Init(m_strClient.c_str(), m_strTemp.c_str()));
        int nResult = Extractor.Extract(strZip.c_str());
        if (pnRetErrorCode)
            *pnRetErrorCode = Extractor.GetErrorCode();
        return nResult;
    }
    std::string Client(const std::string& strName) const { return m_strClient + "/" + strName; }

    Rv_TestTempDir m_Root;
    Rv_TestTempDir m_ZipDir;
    std::string m_strClient;
    std::string m_strTemp;
    std::string m_strOldCurrent;
    std::string m_strOldSim;
    bool m_bHadSim = false;
};

TEST_F(PatchExtractorTest, PlainItemsSkipTableAndEmptyItems)
{
    Rv_TestWriteFile(Client("data/old.txt"), "old");
    Rv_TestWriteFile(Client("refitter.exe"), "running updater");
    Rv_TestPatchBuilder Builder;
    Builder.AddFile("data/old.txt", "new");
    Builder.AddFile("deep/er/file.bin", "bytes");
    Builder.AddFile("empty/folder/zero.txt", "");
    Builder.AddFile("refitter.exe", "never written");
    Builder.AddFile("Channel.INI", "never written");
    Builder.AddFile("sub/refitter.exe", "written one folder deeper");
    Builder.AddRawItem("outside/x.txt", "not under updatepack");
    Builder.AddVersionFile("1.0.0.2");
    int nErrorCode = -1;
    ASSERT_TRUE(Run(Builder, &nErrorCode));
    EXPECT_EQ(nErrorCode, 0);
    EXPECT_EQ(Rv_TestReadFile(Client("data/old.txt")), "new");
    EXPECT_EQ(Rv_TestReadFile(Client("deep/er/file.bin")), "bytes");
    EXPECT_TRUE(Pf_FileExists(Client("empty/folder/zero.txt")));
    EXPECT_EQ(Rv_TestReadFile(Client("refitter.exe")), "running updater");
    EXPECT_FALSE(Pf_PathExists(Client("Channel.INI")));
    EXPECT_EQ(Rv_TestReadFile(Client("sub/refitter.exe")), "written one folder deeper");
    EXPECT_FALSE(Pf_PathExists(Client("outside")));
    EXPECT_EQ(Rv_TestReadFile(Client("version.cfg")), "1.0.0.2");
    // The old file moved aside is gone.
    EXPECT_FALSE(Pf_PathExists(m_strTemp + "/old.txt"));
}

// Scripts run in number order after every other item and before the
// version file is written; each is deleted after its run.
TEST_F(PatchExtractorTest, ScriptsRunInNumberOrderBeforeTheVersionFile)
{
    Rv_TestWriteFile(Client("version.cfg"), "1.0.0.1");
    Rv_TestPatchBuilder Builder;
    Builder.AddScript(10, "cat version.cfg late.txt >> order.txt; echo ten >> order.txt");
    Builder.AddVersionFile("1.0.0.2");
    Builder.AddScript(9, "echo nine >> order.txt");
    Builder.AddFile("late.txt", "late item\n");
    ASSERT_TRUE(Run(Builder));
    EXPECT_EQ(Rv_TestReadFile(Client("order.txt")), "nine\n1.0.0.1late item\nten\n");
    EXPECT_FALSE(Pf_PathExists(Client("update_extend/qv7_script_9.sh")));
    EXPECT_FALSE(Pf_PathExists(Client("update_extend/qv7_script_10.sh")));
    EXPECT_EQ(Rv_TestReadFile(Client("version.cfg")), "1.0.0.2");
}

TEST_F(PatchExtractorTest, FailingScriptGivesItsExitCodeAndKeepsTheVersion)
{
    for (int nExit : {2, 7}) {
        SCOPED_TRACE(nExit);
        Rv_TestWriteFile(Client("version.cfg"), "1.0.0.1");
        Rv_TestPatchBuilder Builder;
        Builder.AddScript(1, "exit " + std::to_string(nExit));
        Builder.AddVersionFile("1.0.0.2");
        int nErrorCode = -1;
        EXPECT_FALSE(Run(Builder, &nErrorCode));
        EXPECT_EQ(nErrorCode, nExit);
        EXPECT_EQ(Rv_TestReadFile(Client("version.cfg")), "1.0.0.1");
    }
}

// Patches that fail: the version file stays as it was, the error code is 1.
TEST_F(PatchExtractorTest, BadPatchesFailWithoutTheVersionFile)
{
    struct Case {
        const char* cszName;
        std::function<void(Rv_TestPatchBuilder&)> Fill;
    };
    const std::vector<Case> vecCases = {
        {"no version file", [](Rv_TestPatchBuilder& B) { B.AddFile("a.txt", "a"); }},
        {"all outside updatepack", [](Rv_TestPatchBuilder& B) { B.AddRawItem("version.cfg", "1.0.0.2"); }},
        {"two version files",
         [](Rv_TestPatchBuilder& B) {
             B.AddVersionFile("1.0.0.2");
             B.AddRawItem("updatepack/VERSION.cfg", "1.0.0.3");
             B.AddFile("after.txt", "never");
         }},
        {"link list without dash",
         [](Rv_TestPatchBuilder& B) {
             B.AddFile("lists.FileLinkList", "1>2\n");
             B.AddVersionFile("1.0.0.2");
         }},
        {"link list going down",
         [](Rv_TestPatchBuilder& B) {
             B.AddLinkList(5, 5, {{1, 2}});
             B.AddVersionFile("1.0.0.2");
         }},
        {"unknown package",
         [](Rv_TestPatchBuilder& B) {
             B.AddFile("x.pak", "ZZZZ and more");
             B.AddVersionFile("1.0.0.2");
         }},
        {"single-file package without its list",
         [](Rv_TestPatchBuilder& B) {
             B.AddSingleFilePackage("n.pak", {{1, 1, 1, "data"}});
             B.AddVersionFile("1.0.0.2");
         }},
        {"old package without a path in package.ini",
         [](Rv_TestPatchBuilder& B) {
             B.AddPackFile("o.pak", {{1, "data", 0, 0}});
             B.AddVersionFile("1.0.0.2");
         }},
        {"update file with a bad signature",
         [](Rv_TestPatchBuilder& B) {
             B.AddFile("a.UPDATE", std::string(256, 'x'));
             B.AddVersionFile("1.0.0.2");
         }},
    };
    for (const Case& c : vecCases) {
        SCOPED_TRACE(c.cszName);
        Rv_TestWriteFile(Client("version.cfg"), "1.0.0.1");
        Rv_TestPatchBuilder Builder;
        c.Fill(Builder);
        int nErrorCode = -1;
        EXPECT_FALSE(Run(Builder, &nErrorCode));
        EXPECT_EQ(nErrorCode, 1);
        EXPECT_EQ(Rv_TestReadFile(Client("version.cfg")), "1.0.0.1");
        EXPECT_FALSE(Pf_PathExists(Client("after.txt")));
    }
}

// A hostile name fails the patch before anything is written, wherever it
// stands in the archive.
TEST_F(PatchExtractorTest, HostileNamesWriteNothing)
{
    const char* const cszNames[] = {
        "updatepack/a/..",     "updatepack/a\\..",   "updatepack/a/./b",  "updatepack/a//b",
        "updatepack/C:\\x",    "updatepack/c:x",     "updatepack/a/",     "updatepack/\\abs",
        "updatepack/a/b/..",
    };
    Rv_TestWriteFile(Client("version.cfg"), "1.0.0.1");
    auto Before = Rv_TestSnapshotFolder(m_Root.Path());
    for (const char* cszName : cszNames) {
        SCOPED_TRACE(cszName);
        Rv_TestPatchBuilder Builder;
        Builder.AddFile("good.txt", "written only with a clean patch");
        Builder.AddRawItem(cszName, "hostile");
        Builder.AddVersionFile("1.0.0.2");
        EXPECT_FALSE(Run(Builder));
        EXPECT_EQ(Rv_TestDiffSnapshots(Before, Rv_TestSnapshotFolder(m_Root.Path())), "");
    }
}

TEST(PatchItemNameTest, SafeRelativeNames)
{
    const std::pair<const char*, int> Cases[] = {
        {"a.txt", 1}, {"a/b/c.txt", 1}, {"a\\b.txt", 1}, {"..a/b..", 1}, {"", 0},
        {"..", 0},     {".", 0},         {"a/..", 0},     {"a\\.", 0},      {"/a", 0},
        {"\\a", 0},    {"a//b", 0},      {"a/", 0},       {"C:\\a", 0},     {"a/b:c", 0},
    };
    for (const auto& [cszName, nSafe] : Cases)
        EXPECT_EQ(Rv_IsSafeRelativeItemName(cszName), nSafe) << cszName;
}

TEST(PatchItemNameTest, LinkListVersionsAndNextPackageNames)
{
    uint32_t uFrom = 0, uTo = 0;
    ASSERT_TRUE(Rv_GetLinkListVersions("vbun/a-b\\120-125.FileLinkList", &uFrom, &uTo));
    EXPECT_EQ(uFrom, 120u);
    EXPECT_EQ(uTo, 125u);
    EXPECT_FALSE(Rv_GetLinkListVersions("a-b/125.FileLinkList", &uFrom, &uTo));

    std::string strNext;
    ASSERT_TRUE(Rv_GetNextPackageName("NewPack\\new_7.pak", &strNext));
    EXPECT_EQ(strNext, "NewPack\\new_8.pak");
    ASSERT_TRUE(Rv_GetNextPackageName("pack_09.pak", &strNext));
    EXPECT_EQ(strNext, "pack_10.pak");
    EXPECT_FALSE(Rv_GetNextPackageName("nounderscore.pak", &strNext));
    EXPECT_FALSE(Rv_GetNextPackageName("big_2147483647.pak", &strNext));
}

// A damaged item puts the old file back; a full disk writes nothing.
TEST_F(PatchExtractorTest, DamagedItemAndFullDiskKeepTheOldFile)
{
    Rv_TestWriteFile(Client("data/keep.txt"), "old content");
    Rv_TestPatchBuilder Builder;
    Builder.SetStored(true);
    std::string strNew(300, 'N');
    Builder.AddFile("data/keep.txt", strNew);
    Builder.AddVersionFile("1.0.0.2");
    std::string strZip = m_ZipDir.File("damaged.zip");
    ASSERT_TRUE(Builder.Write(strZip));
    std::string strBytes = Rv_TestReadFile(strZip);
    size_t uAt = strBytes.find(strNew);
    ASSERT_NE(uAt, std::string::npos);
    strBytes[uAt + 100] = 'X';
    Rv_TestWriteFile(strZip, strBytes);

    Rv_PatchExtractor Extractor;
    ASSERT_TRUE(Extractor.Init((m_strClient + "\\").c_str(), (m_strTemp + "/").c_str()));
    EXPECT_FALSE(Extractor.Extract(strZip.c_str()));
    EXPECT_EQ(Extractor.GetErrorCode(), 1);
    EXPECT_EQ(Rv_TestReadFile(Client("data/keep.txt")), "old content");
    EXPECT_FALSE(Pf_PathExists(Client("version.cfg")));

    Rv_TestWriteFile(m_Root.File("sim/free_bytes"), "100\n");
    setenv("RV_SIM_ROOT", m_Root.File("sim").c_str(), 1);
    int nErrorCode = -1;
    EXPECT_FALSE(Run(Builder, &nErrorCode));
    EXPECT_EQ(nErrorCode, 2);
    EXPECT_EQ(Rv_TestReadFile(Client("data/keep.txt")), "old content");
}

TEST_F(PatchExtractorTest, SingleFilePackagesStartTheSeriesThenJoinIt)
{
    Rv_TestWriteFile(Client("NewPackageList.txt"), "");
    Rv_TestPatchBuilder First;
    First.AddSingleFilePackage("sub/first.pak", {{1, 1, 100, "AAAA"}});
    First.AddVersionFile("1.0.0.2");
    ASSERT_TRUE(Run(First));
    EXPECT_EQ(Rv_TestReadFile(Client("NewPackageList.txt")), "NewPack\\new_1.pak\n");
    Rv_TestPackageContent Content;
    ASSERT_TRUE(Rv_TestReadSingleFilePackage(Rv_TestReadFile(Client("NewPack/new_1.pak")), &Content));
    EXPECT_EQ(Content.Index.size(), 1u);

    Rv_TestPatchBuilder Second;
    Second.AddSingleFilePackage("second.pak", {{2, 1, 200, "BBBB"}});
    Second.AddVersionFile("1.0.0.3");
    ASSERT_TRUE(Run(Second));
    EXPECT_EQ(Rv_TestReadFile(Client("NewPackageList.txt")), "NewPack\\new_1.pak\n");
    ASSERT_TRUE(Rv_TestReadSingleFilePackage(Rv_TestReadFile(Client("NewPack/new_1.pak")), &Content));
    EXPECT_EQ(Content.Index.size(), 2u);
    EXPECT_FALSE(Pf_PathExists(m_strTemp + "/second.pak"));

    // A list written on Windows: the name ends before the carriage return.
    Rv_TestWriteFile(Client("NewPackageList.txt"), "NewPack\\new_1.pak\r\n");
    Rv_TestPatchBuilder Third;
    Third.AddSingleFilePackage("third.pak", {{3, 1, 300, "CCCC"}});
    Third.AddVersionFile("1.0.0.4");
    ASSERT_TRUE(Run(Third));
    EXPECT_EQ(Rv_TestReadFile(Client("NewPackageList.txt")), "NewPack\\new_1.pak\r\n");
    ASSERT_TRUE(Rv_TestReadSingleFilePackage(Rv_TestReadFile(Client("NewPack/new_1.pak")), &Content));
    EXPECT_EQ(Content.Index.size(), 3u);
}

// A patch of a single-file package that a file-size limit cuts short fails
// the item, and the package is whole again before the extraction returns:
// rewritten without the patch when the data did not fit, restored from its
// backup when the merged areas behind the data did not. Without the limit
// the patch then joins the package.
TEST_F(PatchExtractorTest, SingleFilePackageCutShortByAFileSizeLimitIsKeptWhole)
{
    const std::string strPackage = Client("NewPack/new_1.pak");
    const std::string strOld = Rv_TestBuildSingleFilePackage({{1, 1, 10, std::string(65536, 'A')}});
    const uint64_t ullOldDataEnd = strOld.size() - 24;
    const uint64_t ullPatchData = 4096;
    Rv_TestPatchBuilder Builder;
    Builder.AddSingleFilePackage("more.pak", {{2, 1, 20, std::string(ullPatchData, 'B')}});
    Builder.AddVersionFile("1.0.0.2");
    const struct {
        const char* cszWhat;
        uint64_t ullLimit;
    } aCases[] = {
        {"data past the limit", ullOldDataEnd + 100},
        {"areas past the limit", ullOldDataEnd + ullPatchData + 10},
    };
    for (const auto& Case : aCases) {
        SCOPED_TRACE(Case.cszWhat);
        Rv_TestWriteFile(Client("NewPackageList.txt"), "NewPack\\new_1.pak\n");
        Rv_TestWriteFile(strPackage, strOld);
        Pf_DeleteFile(Client("version.cfg"));
        pid_t nChild = fork();
        ASSERT_NE(-1, nChild);
        if (nChild == 0) {
            // Writes past the limit fail with EFBIG instead of a signal.
            signal(SIGXFSZ, SIG_IGN);
            struct rlimit Limit;
            getrlimit(RLIMIT_FSIZE, &Limit);
            Limit.rlim_cur = Case.ullLimit;
            setrlimit(RLIMIT_FSIZE, &Limit);
            int nErrorCode = -1;
            int nResult = Run(Builder, &nErrorCode);
            _exit(nResult ? 100 : nErrorCode);
        }
        int nStatus = 0;
        ASSERT_EQ(nChild, waitpid(nChild, &nStatus, 0));
        ASSERT_TRUE(WIFEXITED(nStatus));
        EXPECT_EQ(1, WEXITSTATUS(nStatus));
        std::string strNow = Rv_TestReadFile(strPackage);
        memset(&strNow[88], 0, 8);
        std::string strExpected = strOld;
        memset(&strExpected[88], 0, 8);
        EXPECT_TRUE(strExpected == strNow) << "the package is not the one before the patch";
        EXPECT_FALSE(Pf_PathExists(strPackage + ".bak"));
        EXPECT_FALSE(Pf_PathExists(Client("version.cfg")));
    }

    ASSERT_TRUE(Run(Builder));
    Rv_TestPackageContent Content;
    ASSERT_TRUE(Rv_TestReadSingleFilePackage(Rv_TestReadFile(strPackage), &Content));
    EXPECT_EQ(Content.Index.size(), 2u);
}

// Old-format packages: the first becomes the newest name, the next merges
// into it, one that would hold too many files becomes the next name, and
// package.ini keeps its other keys and sections.
TEST_F(PatchExtractorTest, OldPackagesMergeOrBecomeTheNextName)
{
    Rv_TestWriteFile(Client("package.ini"), "[Other]\nkeep=1\n[TL5Client]\nPath=pack\nextra=yes\n0=data_1.pak\n");
    ASSERT_TRUE(Pf_CreateDir(Client("pack")));
    auto RunPack = [&](const std::string& strPack) {
        Rv_TestPatchBuilder Builder;
        Builder.AddFile("o.pak", strPack);
        Builder.AddVersionFile("1.0.0.2");
        return Run(Builder);
    };
    std::string strFirst = Rv_TestBuildPackFile({{1, "one", 0, 0}});
    ASSERT_TRUE(RunPack(strFirst));
    EXPECT_EQ(Rv_TestReadFile(Client("pack/data_1.pak")), strFirst);

    ASSERT_TRUE(RunPack(Rv_TestBuildPackFile({{2, "two", 0, 0}})));
    PackFileHeader Header;
    std::string strMerged = Rv_TestReadFile(Client("pack/data_1.pak"));
    ASSERT_GE(strMerged.size(), sizeof(Header));
    memcpy(&Header, strMerged.data(), sizeof(Header));
    EXPECT_EQ(Header.count, 2u);

    // A header that claims the whole file budget cannot be merged.
    std::string strFull = Rv_TestBuildPackFile({{3, "three", 0, 0}});
    uint32_t uCount = MAX_FILE;
    memcpy(&strFull[4], &uCount, 4);
    ASSERT_TRUE(RunPack(strFull));
    EXPECT_EQ(Rv_TestReadFile(Client("pack/data_2.pak")), strFull);
    std::string strIni = Client("package.ini");
    EXPECT_EQ(Pf_IniReadString(strIni, "TL5Client", "0", ""), "data_2.pak");
    EXPECT_EQ(Pf_IniReadString(strIni, "TL5Client", "1", ""), "data_1.pak");
    EXPECT_EQ(Pf_IniReadString(strIni, "TL5Client", "2", "absent"), "absent");
    EXPECT_EQ(Pf_IniReadString(strIni, "TL5Client", "Path", ""), "pack");
    EXPECT_EQ(Pf_IniReadString(strIni, "TL5Client", "extra", ""), "yes");
    EXPECT_EQ(Pf_IniReadString(strIni, "Other", "keep", ""), "1");
}

// Without update files the link lists are not applied: those at or above
// the package's version (0 here) are deleted.
TEST_F(PatchExtractorTest, LinkListsWithoutUpdateFilesAreOnlyDeleted)
{
    Rv_TestPatchBuilder Builder;
    Builder.AddLinkList(0, 3, {{1, 2}}, "vbun/");
    Builder.AddVersionFile("1.0.0.2");
    ASSERT_TRUE(Run(Builder));
    EXPECT_FALSE(Pf_PathExists(m_strTemp + "/UpdateFilesV3/vbun/0-3.FileLinkList"));
    EXPECT_FALSE(Pf_PathExists(Client("Vbun/v3.lcl")));
}

} // namespace

namespace {

TEST_F(PatchExtractorTest, UpdateFileIsAppliedToThePackage)
{
    const std::string strPackage = m_Root.File("pakV3");
    Rv_TestConfigSpec Spec;
    Rv_TestMakePackage(strPackage, Spec, {std::string(4096, 'a')},
                       {{"main.DIR", Rv_TestMakeDirFile("main", 1, {{1, 0, 20}})}});
    Rv_TestUpdateFileBuilder Update;
    Update.AddData(0, "Z");
    Update.AddOverwriteSegment(0, 1);
    Rv_TestWriteFile(Client("version.cfg"), "1.0.0.1");
    Rv_TestPatchBuilder Builder;
    Builder.AddUpdateFile("pak.UPDATE", Update);
    Builder.AddVersionFile("1.0.0.2");

    int nErrorCode = -1;
    ASSERT_TRUE(Run(Builder, &nErrorCode));
    EXPECT_EQ(0, nErrorCode);
    std::string strData = Rv_TestReadFile(strPackage + "/pak0.DAT");
    ASSERT_FALSE(strData.empty());
    EXPECT_EQ('Z', strData[0]);
    EXPECT_EQ(2u, (uint8_t)Rv_TestReadFile(strPackage + "/Package.CFG")[24]);
    EXPECT_EQ("1.0.0.2", Rv_TestReadFile(Client("version.cfg")));
}

} // namespace
