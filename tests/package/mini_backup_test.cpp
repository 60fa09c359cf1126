// The mini backup of a single-file package: made whole and restored byte for
// byte; a backup cut short while being made, and a damaged one.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "package/mini_backup.h"
#include "package/single_file_patcher.h"
#include "platform/file.h"
#include "tests/support/single_file_package_builder.h"
#include "tests/support/temp_dir.h"

namespace {

class MiniBackupTest : public ::testing::Test {
protected:
    std::string Package() const { return m_Dir.File("data.pak"); }
    std::string Backup() const { return Package() + ".bak"; }
    Rv_TestTempDir m_Dir;
};

}  // namespace

TEST_F(MiniBackupTest, RestoreBringsBackHeaderAreasAndLength)
{
    const std::string strPlain = Rv_TestBuildSingleFilePackage({{1, 1, 10, "AAAA"}, {2, 1, 11, "BBBB"}});
    // Bytes behind the index that the header's file size counts stay part of the package.
    std::string strWithTail = strPlain + "tail";
    const uint64_t uTailSize = strWithTail.size();
    memcpy(&strWithTail[96], &uTailSize, sizeof(uTailSize));
    for (const std::string& strOld : {strPlain, strWithTail}) {
        SCOPED_TRACE(strOld.size());
        Rv_TestWriteFile(Package(), strOld);
        ASSERT_TRUE(RvPack_CreateMiniBackup(Package().c_str()));
        ASSERT_TRUE(RvPack_IsMiniBackupExist(Package().c_str()));
        // What a patch run does before its end: data appended, areas and header overwritten.
        std::string strChanged = strOld + std::string(500, 'z');
        memset(&strChanged[0], 0x77, 96);
        memset(&strChanged[strPlain.size() - 48], 0x66, 48);     // the directory and index areas
        Rv_TestWriteFile(Package(), strChanged);
        ASSERT_TRUE(RvPack_RestoreMiniBackup(Package().c_str()));
        EXPECT_EQ(strOld, Rv_TestReadFile(Package()));
        ASSERT_TRUE(RvPack_RemoveMiniBackup(Package().c_str()));
        EXPECT_FALSE(Pf_PathExists(Backup()));
    }
}

TEST_F(MiniBackupTest, BackupCutShortWhileBeingMadeIsDroppedAndPatchingGoesOn)
{
    const std::string strOld = Rv_TestBuildSingleFilePackage({{1, 1, 10, "AAAA"}});
    const std::string aCutShort[] = {std::string(), std::string(52, '\0'), std::string(52, '\0') + "partial areas"};
    for (const std::string& strBackup : aCutShort) {
        SCOPED_TRACE(strBackup.size());
        Rv_TestWriteFile(Package(), strOld);
        Rv_TestWriteFile(Backup(), strBackup);
        IRvPack_PackageFilePatcher* piPatcher = nullptr;
        ASSERT_TRUE(RvPack_CreatePackageFilePatcher(Package().c_str(), &piPatcher));
        piPatcher->Release();
        EXPECT_FALSE(Pf_PathExists(Backup()));
        EXPECT_EQ(strOld.substr(96), Rv_TestReadFile(Package()).substr(96));
    }
}

TEST_F(MiniBackupTest, DamagedBackupIsRefusedAndKept)
{
    const std::string strOld = Rv_TestBuildSingleFilePackage({{1, 1, 10, "AAAA"}});
    Rv_TestWriteFile(Package(), strOld);
    ASSERT_TRUE(RvPack_CreateMiniBackup(Package().c_str()));
    const std::string strGood = Rv_TestReadFile(Backup());
    auto WithHeader = [&](auto Change) {
        std::string strBackup = strGood;
        RvPack_MiniBackupHeader Header;
        memcpy(&Header, strBackup.data(), sizeof(Header));
        Change(&Header);
        memcpy(&strBackup[0], &Header, sizeof(Header));
        return strBackup;
    };
    std::string strShortSize = strGood;
    const uint64_t uShortSize = strOld.size() - 1;
    memcpy(&strShortSize[sizeof(RvPack_MiniBackupHeader) + 96], &uShortSize, sizeof(uShortSize));
    const std::pair<const char*, std::string> Cases[] = {
        {"signature", WithHeader([](RvPack_MiniBackupHeader* H) { H->uSignature ^= 1; })},
        {"header cut short", strGood.substr(0, 30)},
        {"areas cut short", strGood.substr(0, strGood.size() - 1)},
        {"index area larger than the backup", WithHeader([](RvPack_MiniBackupHeader* H) { H->uIndexAreaSize = 1ull << 60; })},
        {"directory area far beyond it", WithHeader([](RvPack_MiniBackupHeader* H) { H->uDirectoryAreaOffset = ~0ull - 4; })},
        {"saved file size short of the index's end", strShortSize},
    };
    std::string strChanged = strOld + "appended";
    for (const auto& Case : Cases) {
        SCOPED_TRACE(Case.first);
        Rv_TestWriteFile(Package(), strChanged);
        Rv_TestWriteFile(Backup(), Case.second);
        EXPECT_FALSE(RvPack_RestoreMiniBackup(Package().c_str()));
        IRvPack_PackageFilePatcher* piPatcher = nullptr;
        EXPECT_FALSE(RvPack_CreatePackageFilePatcher(Package().c_str(), &piPatcher));
        EXPECT_EQ(strChanged, Rv_TestReadFile(Package()));
        EXPECT_EQ(Case.second, Rv_TestReadFile(Backup()));
    }
}

TEST_F(MiniBackupTest, NamesWhoseBackupNameDoesNotFitAreRefused)
{
    char szName[260];
    EXPECT_FALSE(RvPack_MakeMiniBackupName(std::string(256, 'p').c_str(), szName, sizeof(szName)));
    EXPECT_STREQ("", szName);
    EXPECT_TRUE(RvPack_MakeMiniBackupName(std::string(255, 'p').c_str(), szName, sizeof(szName)));
    EXPECT_EQ(std::string(255, 'p') + ".bak", szName);
}
