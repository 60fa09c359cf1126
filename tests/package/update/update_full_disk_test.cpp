// A package update on a disk that fills up: it fails as an ordinary failure
// (the process lives on, nothing half-made stays), and the next call rolls
// the package back. The disk is a 2 MiB tmpfs mounted by a child process, as
// root or in a user and mount namespace of its own.
#include "package/update_package.h"
#include "platform/file.h"
#include "platform/text.h"
#include "tests/support/package_builder.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
const uint64_t s_ullMax = 1 << 20;   // one data file: 1 MiB
const int s_nCannotMount = 77;

bool _WriteProcFile(const char* cszPath, const std::string& strText)
{
    int nFd = open(cszPath, O_WRONLY | O_CLOEXEC);
    if (nFd < 0)
        return false;
    bool bOk = write(nFd, strText.data(), strText.size()) == (ssize_t)strText.size();
    return close(nFd) == 0 && bOk;
}

// In the child: a mount namespace of its own (inside a user namespace when
// not root) and a tmpfs of 2 MiB on strFolder. "" on success, else why not.
std::string _MountSmallDisk(const std::string& strFolder)
{
    uid_t uid = getuid();
    gid_t gid = getgid();
    if (uid == 0) {
        if (unshare(CLONE_NEWNS) != 0)
            return std::string("unshare(CLONE_NEWNS): ") + strerror(errno);
    } else {
        if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0)
            return std::string("not root, and unshare(CLONE_NEWUSER | CLONE_NEWNS): ") + strerror(errno);
        if (!_WriteProcFile("/proc/self/setgroups", "deny") ||
            !_WriteProcFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
            !_WriteProcFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1"))
            return std::string("cannot map the user in the namespace: ") + strerror(errno);
    }
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return std::string("mount --make-rprivate /: ") + strerror(errno);
    if (mount("tmpfs", strFolder.c_str(), "tmpfs", 0, "size=2m") != 0)
        return std::string("mount -t tmpfs: ") + strerror(errno);
    return "";
}

int _Apply(const std::string& strWork, const std::string& strPak, const Rv_TestUpdateFileBuilder& Update, int* pnNoNeed)
{
    Rv_TestWriteFile(strWork + "/update.upd", Update.Build());
    return Rv_UpdatePackage(Pf_Utf8ToUtf16(strWork + "/update.upd").c_str(), Pf_Utf8ToUtf16(strPak + "/Package.CFG").c_str(), pnNoNeed,
                            Pf_Utf8ToUtf16(strWork).c_str());
}

// The run in the child; its exit code: 0 as expected, else the failed step.
int _FullDiskRun(const std::string& strDisk, const std::string& strWork)
{
    const std::string strPak = strDisk + "/pak";
    Rv_TestConfigSpec Spec;
    Spec.ullMaxSizePerDataFile = s_ullMax;
    Spec.uDataFileCount = 1;
    Rv_TestMakePackage(strPak, Spec, {std::string(s_ullMax, 'd')}, {{"main.DIR", Rv_TestMakeDirFile("main", 1, {{1, 0, 10}})}});
    const std::map<std::string, std::string> mapBefore = Rv_TestSnapshotFolder(strPak);

    // Two more data files of 1 MiB cannot fit beside the first.
    Rv_TestUpdateFileBuilder Update;
    Update.AddOverwriteSegment(0, 3);
    Update.AddData(0, "NEW");
    Update.AddEmptyDataFiles(1, 2);
    int nNoNeed = -1;
    if (_Apply(strWork, strPak, Update, &nNoNeed))
        return 1;
    std::map<std::string, std::string> mapNow = Rv_TestSnapshotFolder(strPak);
    if ((uint8_t)mapNow["Package.CFG"][192] != 2)
        return 2;   // failed after it was marked as updating
    for (const auto& File : mapNow)
        if (File.first.size() > 4 && File.first.compare(File.first.size() - 4, 4, ".tmp") == 0)
            return 3;   // a half-made data file stayed

    // The next call rolls back; its own update is older, so nothing else happens.
    Rv_TestUpdateFileBuilder Older;
    Older.uFromDataVersion = 0;
    if (!_Apply(strWork, strPak, Older, &nNoNeed) || nNoNeed != 1)
        return 4;
    mapNow = Rv_TestSnapshotFolder(strPak);
    int nStep = 5;
    for (const char* cszName : {"pak0.DAT", "main.DIR", "Package.CFG"}) {
        if (mapNow[cszName] != mapBefore.at(cszName))
            return nStep;
        ++nStep;
    }
    return 0;
}
}

TEST(UpdatePackageFullDisk, FullDiskFailsTheUpdateAndTheNextCallRollsBack)
{
    Rv_TestTempDir dir;
    const std::string strDisk = dir.File("disk");
    const std::string strWork = dir.File("work");
    const std::string strWhy = dir.File("why");
    ASSERT_TRUE(Pf_CreateDirChain(strDisk));
    ASSERT_TRUE(Pf_CreateDirChain(strWork));

    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        std::string strError = _MountSmallDisk(strDisk);
        if (!strError.empty()) {
            Rv_TestWriteFile(strWhy, strError);
            _exit(s_nCannotMount);
        }
        _exit(_FullDiskRun(strDisk, strWork));
    }
    int nStatus = 0;
    ASSERT_EQ(pid, waitpid(pid, &nStatus, 0));
    ASSERT_FALSE(WIFSIGNALED(nStatus)) << "the update was killed by signal " << WTERMSIG(nStatus);
    ASSERT_TRUE(WIFEXITED(nStatus));
    if (WEXITSTATUS(nStatus) == s_nCannotMount)
        GTEST_SKIP() << "no small file system can be mounted here: " << Rv_TestReadFile(strWhy);
    // 1 the update succeeded, 2 it failed before marking the package, 3 a
    // ".tmp" stayed, 4 the next call failed, 5-7 a file differs after it.
    EXPECT_EQ(0, WEXITSTATUS(nStatus)) << "failed step";
}
