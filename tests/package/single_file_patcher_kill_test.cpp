// A patch run of a single-file package killed at each step that changes a
// file: reopening restores the package byte for byte from its mini backup,
// or finds the patch completed.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "package/mini_backup.h"
#include "package/single_file_patcher.h"
#include "platform/crash_point.h"
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

class SingleFilePatcherKillTest : public ::testing::Test {
protected:
    std::string Package() const { return m_Dir.File("data.pak"); }

    // Patches the package with both patches; true when every step succeeded.
    bool PatchRun()
    {
        IRvPack_PackageFilePatcher* piPatcher = nullptr;
        if (!RvPack_CreatePackageFilePatcher(Package().c_str(), &piPatcher))
            return false;
        bool bAll = piPatcher->Patch(m_Dir.File("patch0.pak").c_str());
        bAll = piPatcher->Patch(m_Dir.File("patch1.pak").c_str()) && bAll;
        bAll = piPatcher->UnInit() && bAll;
        piPatcher->Release();
        return bAll;
    }

    Rv_TestTempDir m_Dir;
};

}  // namespace

TEST_F(SingleFilePatcherKillTest, KilledPatchRestoresThePackageOrCompletes)
{
    const std::string strOld = Rv_TestBuildSingleFilePackage({{1, 1, 10, "AAAA"}, {5, 1, 11, std::string(3000, 'B')}});
    Rv_TestWriteFile(m_Dir.File("patch0.pak"), Rv_TestBuildSingleFilePackage({{5, 1, 20, std::string(5000, 'C')}}, 0x11));
    Rv_TestWriteFile(m_Dir.File("patch1.pak"), Rv_TestBuildSingleFilePackage({{3, 2, 30, "DD"}, {5, 2, 31, "EE"}}, 0x22));
    Rv_TestWriteFile(Package(), strOld);
    ASSERT_TRUE(PatchRun());
    const std::string strNew = Rv_TestReadFile(Package());
    ASSERT_NE(_WithoutTime(strOld), _WithoutTime(strNew));

    bool bSawRestore = false;
    for (unsigned uStep = 1;; ++uStep) {
        SCOPED_TRACE(uStep);
        ASSERT_LT(uStep, 100u);
        Rv_TestWriteFile(Package(), strOld);
        pid_t nChild = fork();
        ASSERT_NE(-1, nChild);
        if (nChild == 0) {
            Pf_ArmCrashPoint(uStep);
            _exit(PatchRun() ? 0 : 1);
        }
        int nStatus = 0;
        ASSERT_EQ(nChild, waitpid(nChild, &nStatus, 0));
        if (WIFEXITED(nStatus)) {
            // No crash point was left: the run went through.
            EXPECT_EQ(0, WEXITSTATUS(nStatus));
            EXPECT_EQ(_WithoutTime(strNew), _WithoutTime(Rv_TestReadFile(Package())));
            EXPECT_FALSE(RvPack_IsMiniBackupExist(Package().c_str()));
            break;
        }
        ASSERT_TRUE(WIFSIGNALED(nStatus));
        ASSERT_EQ(SIGKILL, WTERMSIG(nStatus));

        // Reopening brings back the package the run started from, or keeps
        // the completed one, and the package can be patched again.
        bool bHadBackup = RvPack_IsMiniBackupExist(Package().c_str());
        if (bHadBackup) {
            ASSERT_TRUE(RvPack_RestoreMiniBackup(Package().c_str()));
            std::string strNow = Rv_TestReadFile(Package());
            if (strNow == strOld)
                bSawRestore = true;
            else
                EXPECT_EQ(_WithoutTime(strNew), _WithoutTime(strNow)) << "neither the old nor the patched package";
            ASSERT_TRUE(RvPack_RemoveMiniBackup(Package().c_str()));
        } else {
            std::string strNow = Rv_TestReadFile(Package());
            EXPECT_TRUE(strNow == strOld || _WithoutTime(strNow) == _WithoutTime(strNew));
        }
        IRvPack_PackageFilePatcher* piPatcher = nullptr;
        ASSERT_TRUE(RvPack_CreatePackageFilePatcher(Package().c_str(), &piPatcher));
        piPatcher->Release();
        EXPECT_FALSE(RvPack_IsMiniBackupExist(Package().c_str()));
    }
    EXPECT_TRUE(bSawRestore);
}

TEST_F(SingleFilePatcherKillTest, KilledRestoreIsRepeatedByTheNextOpen)
{
    const std::string strOld = Rv_TestBuildSingleFilePackage({{1, 1, 10, "AAAA"}, {2, 1, 11, "BBBB"}});
    Rv_TestWriteFile(m_Dir.File("patch0.pak"), Rv_TestBuildSingleFilePackage({{2, 1, 20, std::string(700, 'C')}}, 0x11));
    Rv_TestWriteFile(m_Dir.File("patch1.pak"), Rv_TestBuildSingleFilePackage({{4, 1, 30, "DD"}}, 0x22));

    // The last state a killed run leaves with its backup still there and the
    // package already changed: the restore of that state is then killed at
    // each step.
    std::string strHalf;
    std::string strBackup;
    for (unsigned uStep = 1;; ++uStep) {
        ASSERT_LT(uStep, 100u);
        Rv_TestWriteFile(Package(), strOld);
        pid_t nChild = fork();
        ASSERT_NE(-1, nChild);
        if (nChild == 0) {
            Pf_ArmCrashPoint(uStep);
            _exit(PatchRun() ? 0 : 1);
        }
        int nStatus = 0;
        ASSERT_EQ(nChild, waitpid(nChild, &nStatus, 0));
        if (WIFEXITED(nStatus))
            break;
        std::string strNow = Rv_TestReadFile(Package());
        if (strNow != strOld && RvPack_IsMiniBackupExist(Package().c_str())) {
            strHalf = strNow;
            strBackup = Rv_TestReadFile(Package() + ".bak");
        }
    }
    ASSERT_FALSE(strHalf.empty());

    for (unsigned uStep = 1;; ++uStep) {
        SCOPED_TRACE(uStep);
        ASSERT_LT(uStep, 100u);
        Rv_TestWriteFile(Package(), strHalf);
        Rv_TestWriteFile(Package() + ".bak", strBackup);
        pid_t nChild = fork();
        ASSERT_NE(-1, nChild);
        if (nChild == 0) {
            Pf_ArmCrashPoint(uStep);
            _exit(RvPack_RestoreMiniBackup(Package().c_str()) ? 0 : 1);
        }
        int nStatus = 0;
        ASSERT_EQ(nChild, waitpid(nChild, &nStatus, 0));
        // Whatever the kill left, the next open restores the old package.
        ASSERT_TRUE(RvPack_IsMiniBackupExist(Package().c_str()));
        ASSERT_TRUE(RvPack_RestoreMiniBackup(Package().c_str()));
        EXPECT_EQ(strOld, Rv_TestReadFile(Package()));
        if (WIFEXITED(nStatus)) {
            EXPECT_EQ(0, WEXITSTATUS(nStatus));
            break;
        }
    }
}
