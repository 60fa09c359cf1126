// Tests of the single-file package patcher: the merge of package and patches
// (key runs, duplicates, second words), refused patches and packages, names.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "package/mini_backup.h"
#include "package/single_file_patcher.h"
#include "platform/file.h"
#include "tests/support/single_file_package_builder.h"
#include "tests/support/temp_dir.h"

namespace {

// The header's rewrite time is the only byte range a rewrite may change freely.
std::string _WithoutTime(std::string strPackage)
{
    if (strPackage.size() >= 96)
        memset(&strPackage[88], 0, 8);
    return strPackage;
}

struct _Entry {
    uint32_t uKey;
    uint32_t uValue;
    uint64_t uInfo;     // tells which source and position the entry came from
    bool operator==(const _Entry&) const = default;
};

std::vector<Rv_TestPackageEntry> _Source(const std::vector<_Entry>& Entries, char chData)
{
    std::vector<Rv_TestPackageEntry> Result;
    for (const _Entry& E : Entries)
        Result.push_back({E.uKey, E.uValue, E.uInfo, std::string(4, chData)});
    return Result;
}

class SingleFilePatcherTest : public ::testing::Test {
protected:
    std::string Package() const { return m_Dir.File("data.pak"); }
    std::string Backup() const { return Package() + ".bak"; }

    // Patches the package with the patches in order; true when every step succeeded.
    bool PatchWith(const std::vector<std::string>& Patches)
    {
        IRvPack_PackageFilePatcher* piPatcher = nullptr;
        if (!RvPack_CreatePackageFilePatcher(Package().c_str(), &piPatcher))
            return false;
        bool bAll = true;
        for (size_t i = 0; i < Patches.size(); i++) {
            std::string strPatch = m_Dir.File("patch" + std::to_string(i) + ".pak");
            Rv_TestWriteFile(strPatch, Patches[i]);
            bAll = piPatcher->Patch(strPatch.c_str()) && bAll;
        }
        piPatcher->Release();
        return bAll;
    }

    std::vector<_Entry> Entries()
    {
        Rv_TestPackageContent Content;
        std::vector<_Entry> Result;
        EXPECT_TRUE(Rv_TestReadSingleFilePackage(Rv_TestReadFile(Package()), &Content));
        for (size_t i = 0; i < Content.Index.size(); i++)
            Result.push_back({Content.Index[i].uKey, Content.Index[i].uValue, Content.Directory[i].uInfo});
        return Result;
    }

    Rv_TestTempDir m_Dir;
};

TEST_F(SingleFilePatcherTest, PatchAppendsDataAndRewritesAreasAndHeader)
{
    std::string strOld = Rv_TestBuildSingleFilePackage({{5, 1, 100, "AAAA"}, {9, 1, 101, "BBBBBB"}});
    Rv_TestWriteFile(Package(), strOld);
    std::string strPatch = Rv_TestBuildSingleFilePackage({{9, 1, 200, "CCC"}, {12, 1, 201, "DDDDD"}}, 0x77);

    ASSERT_TRUE(PatchWith({strPatch}));

    std::string strNew = Rv_TestReadFile(Package());
    Rv_TestPackageContent Content;
    ASSERT_TRUE(Rv_TestReadSingleFilePackage(strNew, &Content));
    const Rv_PackageHeader& H = Content.Header;
    EXPECT_EQ(Entries(), (std::vector<_Entry> {{5, 1, 100}, {9, 1, 200}, {12, 1, 201}}));
    // The patch's data sits behind the old data area; its offsets moved by the old size.
    EXPECT_EQ(H.uDataAreaOffset, 168u);
    EXPECT_EQ(H.uDataAreaSize, 10u + 8u);
    EXPECT_EQ(strNew.substr(168, 18), "AAAABBBBBBCCCDDDDD");
    EXPECT_EQ(Content.Directory[0].uDataOffset, 0u);
    EXPECT_EQ(Content.Directory[1].uDataOffset, 10u);
    EXPECT_EQ(Content.Directory[2].uDataOffset, 13u);
    // Directory then index right behind the data, and nothing behind the index.
    EXPECT_EQ(H.uDirectoryAreaOffset, 168u + 18u);
    EXPECT_EQ(H.uDirectoryAreaSize, 48u);
    EXPECT_EQ(H.uIndexAreaOffset, 168u + 18u + 48u);
    EXPECT_EQ(H.uIndexAreaSize, 24u);
    EXPECT_EQ(H.uFileSize, strNew.size());
    EXPECT_EQ(H.uIndexAreaOffset + H.uIndexAreaSize, strNew.size());
    EXPECT_EQ(H.uAreaCRC, Rv_TestPackageAreaCRC(Content.Index, Content.Directory));
    EXPECT_GT(H.llRewriteTime, 1000);
    // The bytes the patcher does not interpret are the package's own.
    EXPECT_EQ(strNew.substr(4, 80), strOld.substr(4, 80));
    EXPECT_EQ(strNew.substr(104, 16), strOld.substr(104, 16));
    EXPECT_FALSE(Pf_PathExists(Backup()));
}

struct MergeCase {
    const char* cszName;
    std::vector<_Entry> Package;
    std::vector<std::vector<_Entry>> Patches;
    std::vector<_Entry> Expected;
};

TEST_F(SingleFilePatcherTest, MergeKeepsTheNewestOfEverySameEntry)
{
    const MergeCase Cases[] = {
        {"identical entry in two patches: the second wins",
         {{1, 1, 10}}, {{{3, 1, 20}}, {{3, 1, 30}}}, {{1, 1, 10}, {3, 1, 30}}},
        {"same key, other second word: both kept, newest source first",
         {{4, 1, 10}}, {{{4, 2, 20}}}, {{4, 2, 20}, {4, 1, 10}}},
        {"a stale entry behind another second word is dropped",
         {{9, 1, 10}, {9, 2, 11}}, {{{9, 2, 20}}}, {{9, 2, 20}, {9, 1, 10}}},
        {"a key run over three sources with several second words",
         {{7, 1, 10}, {7, 2, 11}, {7, 3, 12}, {8, 1, 13}},
         {{{7, 3, 20}, {7, 1, 21}}, {{7, 2, 30}}},
         {{7, 2, 30}, {7, 3, 20}, {7, 1, 21}, {8, 1, 13}}},
        {"duplicates within one source keep the first",
         {{2, 5, 10}, {2, 5, 11}}, {{{1, 1, 20}}}, {{1, 1, 20}, {2, 5, 10}}},
        {"keys are unsigned",
         {{0x80000000u, 1, 10}}, {{{1, 1, 20}}}, {{1, 1, 20}, {0x80000000u, 1, 10}}},
    };
    for (const MergeCase& Case : Cases) {
        SCOPED_TRACE(Case.cszName);
        Rv_TestWriteFile(Package(), Rv_TestBuildSingleFilePackage(_Source(Case.Package, 'p')));
        std::vector<std::string> Patches;
        for (const auto& Patch : Case.Patches)
            Patches.push_back(Rv_TestBuildSingleFilePackage(_Source(Patch, 'q')));
        ASSERT_TRUE(PatchWith(Patches));
        EXPECT_EQ(Entries(), Case.Expected);
    }
}

TEST_F(SingleFilePatcherTest, MalformedPatchIsRefusedAndThePackageKept)
{
    std::string strGood = Rv_TestBuildSingleFilePackage({{3, 1, 30, "PPPP"}});
    auto Corrupt = [&](auto Change) {
        std::string strPatch = strGood;
        Rv_PackageHeader H;
        memcpy(&H, strPatch.data(), sizeof(H));
        Change(&H, &strPatch);
        memcpy(&strPatch[0], &H, sizeof(H));
        return strPatch;
    };
    const std::pair<const char*, std::string> Cases[] = {
        {"signature", Corrupt([](Rv_PackageHeader* H, std::string*) { H->uSignature = 0x4B505652 ^ 1; })},
        {"data offset below the header", Corrupt([](Rv_PackageHeader* H, std::string*) { H->uDataAreaOffset = 100; })},
        {"index size not a multiple of 8", Corrupt([](Rv_PackageHeader* H, std::string*) { H->uIndexAreaSize = 12; })},
        {"directory size not a multiple of 16", Corrupt([](Rv_PackageHeader* H, std::string*) { H->uDirectoryAreaSize = 8; })},
        {"unequal entry counts", Corrupt([](Rv_PackageHeader* H, std::string*) { H->uDirectoryAreaSize = 32; })},
        {"data area beyond the file", Corrupt([](Rv_PackageHeader* H, std::string*) { H->uDataAreaSize = 1ull << 40; })},
        {"index area beyond the file", Corrupt([](Rv_PackageHeader* H, std::string*) { H->uIndexAreaOffset = 1ull << 62; })},
        {"cut short", strGood.substr(0, strGood.size() - 3)},
        {"shorter than a header", strGood.substr(0, 100)},
        {"empty", std::string()},
    };
    std::string strPackage = Rv_TestBuildSingleFilePackage({{1, 1, 10, "AAAA"}, {2, 1, 11, "BBBB"}});
    for (const auto& Case : Cases) {
        SCOPED_TRACE(Case.first);
        Rv_TestWriteFile(Package(), strPackage);
        EXPECT_FALSE(PatchWith({Case.second}));
        EXPECT_EQ(_WithoutTime(Rv_TestReadFile(Package())), _WithoutTime(strPackage));
        EXPECT_FALSE(Pf_PathExists(Backup()));
    }
    // The patcher stays usable after a refused patch.
    Rv_TestWriteFile(Package(), strPackage);
    EXPECT_FALSE(PatchWith({Cases[0].second, strGood}));
    EXPECT_EQ(Entries(), (std::vector<_Entry> {{1, 1, 10}, {2, 1, 11}, {3, 1, 30}}));
}

// Bytes behind the index (an interrupted older updater leaves some), counted
// in the header's file size or not, do not stop a patch; the rewrite leaves
// nothing behind the new index.
TEST_F(SingleFilePatcherTest, PackageWithBytesBehindItsIndexIsPatched)
{
    const std::string strGood = Rv_TestBuildSingleFilePackage({{1, 1, 10, "AAAA"}});
    std::string strCounted = strGood + "tail";
    const uint64_t uCountedSize = strCounted.size();
    memcpy(&strCounted[96], &uCountedSize, sizeof(uCountedSize));
    const std::pair<const char*, std::string> Cases[] = {
        {"file size at the index's end", strGood + "tail"},
        {"file size counting them", strCounted},
    };
    for (const auto& Case : Cases) {
        SCOPED_TRACE(Case.first);
        Rv_TestWriteFile(Package(), Case.second);
        ASSERT_TRUE(PatchWith({Rv_TestBuildSingleFilePackage({{2, 1, 20, "BBBB"}})}));
        EXPECT_EQ(Entries(), (std::vector<_Entry> {{1, 1, 10}, {2, 1, 20}}));
        Rv_TestPackageContent Content;
        std::string strNew = Rv_TestReadFile(Package());
        ASSERT_TRUE(Rv_TestReadSingleFilePackage(strNew, &Content));
        EXPECT_EQ(Content.Header.uFileSize, strNew.size());
        EXPECT_EQ(Content.Header.uIndexAreaOffset + Content.Header.uIndexAreaSize, strNew.size());
        EXPECT_FALSE(Pf_PathExists(Backup()));
    }
}

TEST_F(SingleFilePatcherTest, MalformedPackageIsRefusedUntouchedWithoutBackup)
{
    std::string strGood = Rv_TestBuildSingleFilePackage({{1, 1, 10, "AAAA"}});
    std::string strZeroSize = strGood;
    memset(&strZeroSize[128], 0, 8);   // data area size 0
    // A backup made of it could not be restored: the restore cuts the package to that size.
    std::string strShortSize = strGood;
    const uint64_t uShortSize = strGood.size() - 1;
    memcpy(&strShortSize[96], &uShortSize, sizeof(uShortSize));
    const std::pair<const char*, std::string> Cases[] = {
        {"cut short", strGood.substr(0, strGood.size() - 1)},
        {"file size short of the index's end", strShortSize},
        {"data area size 0", strZeroSize},
        {"not a package", std::string(300, 'x')},
    };
    for (const auto& Case : Cases) {
        SCOPED_TRACE(Case.first);
        Rv_TestWriteFile(Package(), Case.second);
        IRvPack_PackageFilePatcher* piPatcher = nullptr;
        EXPECT_FALSE(RvPack_CreatePackageFilePatcher(Package().c_str(), &piPatcher));
        EXPECT_EQ(Rv_TestReadFile(Package()), Case.second);
        EXPECT_FALSE(Pf_PathExists(Backup()));
    }
    IRvPack_PackageFilePatcher* piPatcher = nullptr;
    EXPECT_FALSE(RvPack_CreatePackageFilePatcher(m_Dir.File("missing.pak").c_str(), &piPatcher));
    EXPECT_FALSE(RvPack_CreatePackageFilePatcher(nullptr, &piPatcher));
    EXPECT_FALSE(RvPack_CreatePackageFilePatcher(Package().c_str(), nullptr));
}

TEST_F(SingleFilePatcherTest, NameWhoseBackupNameDoesNotFitIsRefused)
{
    // The backup name "<name>.bak" needs 4 more bytes than the name, at most 259 in all.
    std::string strDir = m_Dir.Path() + "/";
    std::string strName = strDir + std::string(257 - strDir.size(), 'n');
    ASSERT_EQ(strName.size(), 257u);
    std::string strPackage = Rv_TestBuildSingleFilePackage({{1, 1, 10, "AAAA"}});
    Rv_TestWriteFile(strName, strPackage);

    IRvPack_PackageFilePatcher* piPatcher = nullptr;
    EXPECT_FALSE(RvPack_CreatePackageFilePatcher(strName.c_str(), &piPatcher));
    EXPECT_EQ(Rv_TestReadFile(strName), strPackage);
    char szName[260];
    EXPECT_FALSE(RvPack_MakeMiniBackupName(strName.c_str(), szName, sizeof(szName)));
    EXPECT_TRUE(RvPack_MakeMiniBackupName(strName.substr(0, 255).c_str(), szName, sizeof(szName)));
}

TEST_F(SingleFilePatcherTest, ReferenceCountAndQueryInterface)
{
    Rv_TestWriteFile(Package(), Rv_TestBuildSingleFilePackage({{1, 1, 10, "AAAA"}}));
    IRvPack_PackageFilePatcher* piPatcher = nullptr;
    ASSERT_EQ(RvPack_CreatePackageFilePatcher(Package().c_str(), &piPatcher), 1);
    void* pvObject = piPatcher;
    EXPECT_EQ(piPatcher->QueryInterface(nullptr, &pvObject), E_FAIL);
    EXPECT_EQ(pvObject, nullptr);
    EXPECT_EQ(piPatcher->AddRef(), 2u);
    EXPECT_TRUE(Pf_PathExists(Backup()));
    EXPECT_EQ(piPatcher->Release(), 1u);
    EXPECT_TRUE(Pf_PathExists(Backup()));
    EXPECT_EQ(piPatcher->Release(), 0u);
    EXPECT_FALSE(Pf_PathExists(Backup()));
}

} // namespace
