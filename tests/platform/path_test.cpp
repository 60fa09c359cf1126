// Path conversion: separators, doubled separators, case-insensitive lookup,
// and the index of names behind that lookup, which must never answer from
// an old state of a folder.
#include "platform/file.h"
#include "platform/name_index.h"
#include "platform/path.h"
#include "tests/support/temp_dir.h"

#include <atomic>
#include <cctype>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

TEST(NativePath, SeparatorsAndCase)
{
    Rv_TestTempDir dir;
    Rv_TestWriteFile(dir.File("Update/Sub/File.TXT"), "x");
    struct Case {
        std::string strIn;
        std::string strOut;
    } aCases[] = {
        {dir.Path() + "\\update\\sub\\file.txt", dir.Path() + "/Update/Sub/File.TXT"},
        {dir.Path() + "//UPDATE\\\\Sub//file.txt", dir.Path() + "/Update/Sub/File.TXT"},
        {dir.Path() + "\\update\\new\\x.txt", dir.Path() + "/Update/new/x.txt"},
        {dir.Path() + "\\update\\", dir.Path() + "/Update/"},
    };
    for (const Case& c : aCases) {
        std::string strOut;
        ASSERT_TRUE(Pf_NativePath(c.strIn, &strOut)) << c.strIn;
        EXPECT_EQ(c.strOut, strOut) << c.strIn;
    }
    std::string strOut;
    EXPECT_FALSE(Pf_NativePath("C:\\Windows\\x.dll", &strOut));
}

TEST(NativePath, ExactMatchWinsOverCaseMatch)
{
    Rv_TestTempDir dir;
    Rv_TestWriteFile(dir.File("a/Name"), "1");
    Rv_TestWriteFile(dir.File("a/name"), "2");
    Rv_TestWriteFile(dir.File("a/NAME"), "3");
    EXPECT_EQ(dir.Path() + "/a/name", Pf_Native(dir.Path() + "/a/name"));
    // Several case-insensitive matches and no exact one: kept as written.
    EXPECT_EQ(dir.Path() + "/a/nAmE", Pf_Native(dir.Path() + "/a/nAmE"));
}

TEST(WithSeparator, AppendsOnlyWhereNoSeparatorEnds)
{
    struct Case {
        const char* cszPath;
        char cSeparator;
        const char* cszExpected;
    } cases[] = {
        {"C:\\game", '\\', "C:\\game\\"}, {"C:\\game\\", '\\', "C:\\game\\"}, {"C:\\game/", '\\', "C:\\game/"},
        {"http://h/a", '/', "http://h/a/"}, {"http://h/a\\", '/', "http://h/a\\"}, {"", '\\', ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.cszExpected, Pf_WithSeparator(c.cszPath, c.cSeparator)) << c.cszPath;
}

namespace {

std::string _Lower(std::string str)
{
    for (char& c : str)
        c = (char)tolower((unsigned char)c);
    return str;
}

bool _Touch(const std::string& strPath)
{
    int nFd = open(strPath.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    return nFd >= 0 && close(nFd) == 0;
}

} // namespace

// Each change is made behind the platform's back (plain calls of this
// process, or another process) right before a lookup in the same folder,
// which the lookups before have already indexed.
TEST(NativePath, SeesEveryChangeOfAFolderAtOnce)
{
    Rv_TestTempDir dir;
    const std::string strF = dir.File("f");
    Rv_TestWriteFile(strF + "/Keep.txt", "k");
    auto fnShell = [&](const std::string& strCommand) {
        return [=] { EXPECT_EQ(0, system(("cd '" + strF + "' && " + strCommand).c_str())) << strCommand; };
    };
    auto fnRename = [&](const char* cszFrom, const char* cszTo, unsigned uFlags) {
        return [=] {
            EXPECT_EQ(0, renameat2(AT_FDCWD, (strF + "/" + cszFrom).c_str(), AT_FDCWD, (strF + "/" + cszTo).c_str(), uFlags))
                << cszFrom;
        };
    };
    struct Step {
        std::function<void()> fnChange;
        const char* cszAsked;
        const char* cszFound;
    } aSteps[] = {
        {nullptr, "NEW.TXT", "NEW.TXT"},
        {fnShell("touch Data.BIN"), "data.bin", "Data.BIN"},
        {fnShell("mv Data.BIN Moved.Bin"), "DATA.BIN", "DATA.BIN"},
        {nullptr, "MOVED.BIN", "Moved.Bin"},
        {fnRename("Moved.Bin", "moved.bin", 0), "MOVED.BIN", "moved.bin"},
        // Two names differing only in case: the exact one, else neither.
        {[&] { EXPECT_TRUE(_Touch(strF + "/MOVED.bin")); }, "Moved.BIN", "Moved.BIN"},
        {nullptr, "moved.bin", "moved.bin"},
        {[&] { EXPECT_EQ(0, unlink((strF + "/moved.bin").c_str())); }, "Moved.BIN", "MOVED.bin"},
        {fnShell("rm MOVED.bin"), "moved.bin", "moved.bin"},
        {[&] { EXPECT_EQ(0, mkdir((strF + "/Sub").c_str(), 0755)); }, "sub\\x", "Sub/x"},
        // An exchange reports both names as renamed away and back.
        {fnRename("Keep.txt", "Sub", RENAME_EXCHANGE), "SUB", "Sub"},
        {nullptr, "keep.TXT", "Keep.txt"},
        {fnShell("mv Sub ../Away.txt"), "sub", "sub"},
        {fnShell("mv ../Away.txt Back.txt"), "back.TXT", "Back.txt"},
        {fnShell("ln Back.txt Linked.txt"), "LINKED.txt", "Linked.txt"},
        {fnShell("ln -s Back.txt Symbolic"), "symbolic", "Symbolic"},
        {fnShell("mkdir -p Deep && mv Symbolic Deep/"), "symbolic", "symbolic"},
        {nullptr, "deep\\SYMBOLIC", "Deep/Symbolic"},
    };
    for (const Step& step : aSteps) {
        if (step.fnChange)
            step.fnChange();
        EXPECT_EQ(strF + "/" + step.cszFound, Pf_Native(strF + "\\" + step.cszAsked)) << step.cszAsked;
    }
}

TEST(NativePath, FolderReplacedByAnother)
{
    Rv_TestTempDir dir;
    const std::string strTop = dir.File("top");
    Rv_TestWriteFile(strTop + "/Sub/Alpha", "");
    EXPECT_EQ(strTop + "/Sub/Alpha", Pf_Native(strTop + "\\sub\\alpha"));

    // Moved away and another made in its place.
    ASSERT_EQ(0, rename((strTop + "/Sub").c_str(), (strTop + "/Old").c_str()));
    Rv_TestWriteFile(strTop + "/Sub/Beta", "");
    EXPECT_EQ(strTop + "/Sub/alpha", Pf_Native(strTop + "\\sub\\alpha"));
    EXPECT_EQ(strTop + "/Sub/Beta", Pf_Native(strTop + "\\SUB\\beta"));
    EXPECT_EQ(strTop + "/Old/Alpha", Pf_Native(strTop + "\\old\\ALPHA"));

    // Removed and made again (its inode number may come back).
    ASSERT_TRUE(Pf_RemoveTree(strTop + "/Sub"));
    Rv_TestWriteFile(strTop + "/Sub/Gamma", "");
    EXPECT_EQ(strTop + "/Sub/beta", Pf_Native(strTop + "\\sub\\beta"));
    EXPECT_EQ(strTop + "/Sub/Gamma", Pf_Native(strTop + "\\sub\\gamma"));

    // Another folder renamed over it by another process.
    Rv_TestWriteFile(strTop + "/New/Delta", "");
    ASSERT_EQ(0, unlink((strTop + "/Sub/Gamma").c_str()));
    ASSERT_EQ(0, system(("mv -T '" + strTop + "/New' '" + strTop + "/Sub'").c_str()));
    EXPECT_EQ(strTop + "/Sub/gamma", Pf_Native(strTop + "\\sub\\gamma"));
    EXPECT_EQ(strTop + "/Sub/Delta", Pf_Native(strTop + "\\sub\\DELTA"));
}

// Creating many new files in one folder lists it once, not once a file.
TEST(NativePath, NewFilesDoNotListTheFolderAgain)
{
    Rv_TestTempDir dir;
    EXPECT_EQ(dir.Path() + "/First", Pf_Native(dir.Path() + "\\First"));
    uint64_t ullBefore = 0;
    int bWatching = 0;
    Pf_NameIndexCounters(&ullBefore, &bWatching);
    if (!bWatching)
        GTEST_SKIP() << "no inotify instance could be had";
    for (int i = 0; i < 300; ++i) {
        int nFd = Pf_Open(dir.Path() + "\\New" + std::to_string(i) + ".dat", O_WRONLY | O_CREAT | O_EXCL);
        ASSERT_GE(nFd, 0) << i;
        close(nFd);
    }
    EXPECT_EQ(dir.Path() + "/New7.dat", Pf_Native(dir.Path() + "\\NEW7.DAT"));
    uint64_t ullAfter = 0;
    Pf_NameIndexCounters(&ullAfter, &bWatching);
    EXPECT_EQ(ullBefore, ullAfter);
}

// More folders than the index keeps, each changed behind its back.
TEST(NativePath, ManyFoldersStayCurrent)
{
    Rv_TestTempDir dir;
    const int nFolders = 100;
    for (int i = 0; i < nFolders; ++i) {
        std::string strFolder = dir.File("d" + std::to_string(i));
        ASSERT_EQ(0, mkdir(strFolder.c_str(), 0755));
        EXPECT_EQ(strFolder + "/X.Dat", Pf_Native(strFolder + "\\X.Dat"));
    }
    for (int nPass = 0; nPass < 2; ++nPass) {
        for (int i = 0; i < nFolders; ++i) {
            std::string strFolder = dir.File("d" + std::to_string(i));
            if (nPass == 0)
                ASSERT_TRUE(_Touch(strFolder + "/X.Dat"));
            else
                ASSERT_EQ(0, rename((strFolder + "/X.Dat").c_str(), (strFolder + "/Y.Dat").c_str()));
            EXPECT_EQ(strFolder + (nPass == 0 ? "/X.Dat" : "/x.dat"), Pf_Native(strFolder + "\\x.dat")) << i;
            EXPECT_EQ(strFolder + (nPass == 0 ? "/y.dat" : "/Y.Dat"), Pf_Native(strFolder + "\\y.dat")) << i;
        }
    }
}

// More changes than the kernel queues for the index: it starts again.
TEST(NativePath, ChangesBeyondTheEventQueue)
{
    std::string strLimit;
    ASSERT_TRUE(Pf_ReadWholeFile("/proc/sys/fs/inotify/max_queued_events", &strLimit));
    int nLimit = atoi(strLimit.c_str());
    if (nLimit <= 0 || nLimit > 65536)
        GTEST_SKIP() << "event queue of " << nLimit;
    Rv_TestTempDir dir;
    EXPECT_EQ(dir.Path() + "/first", Pf_Native(dir.Path() + "\\first"));
    for (int i = 0; i <= nLimit; ++i)
        ASSERT_TRUE(_Touch(dir.File("F" + std::to_string(i))));
    EXPECT_EQ(dir.Path() + "/F0", Pf_Native(dir.Path() + "\\f0"));
    EXPECT_EQ(dir.File("F" + std::to_string(nLimit)), Pf_Native(dir.Path() + "\\f" + std::to_string(nLimit)));
}

// A forked child shares the parent's descriptors: what it does must not
// take the parent's view of the folder away.
TEST(NativePath, ForkedChildLeavesTheParentCurrent)
{
    Rv_TestTempDir dir;
    EXPECT_EQ(dir.Path() + "/first", Pf_Native(dir.Path() + "\\first"));
    pid_t nChild = fork();
    ASSERT_GE(nChild, 0);
    if (nChild == 0) {
        int nFd = Pf_Open(dir.Path() + "\\Forked.Txt", O_WRONLY | O_CREAT | O_EXCL);
        int bOk = nFd >= 0 && close(nFd) == 0 && Pf_Native(dir.Path() + "\\forked.txt") == dir.Path() + "/Forked.Txt" &&
                  Pf_Native(dir.Path() + "\\second") == dir.Path() + "/second";
        _exit(bOk ? 0 : 1);
    }
    int nStatus = -1;
    ASSERT_EQ(nChild, waitpid(nChild, &nStatus, 0));
    EXPECT_TRUE(WIFEXITED(nStatus) && WEXITSTATUS(nStatus) == 0);
    EXPECT_EQ(dir.Path() + "/Forked.Txt", Pf_Native(dir.Path() + "\\FORKED.TXT"));
}

// Threads creating, renaming and deleting in one folder at once, each
// looking up its own names in another case.
TEST(NativePath, ManyThreadsInOneFolder)
{
    Rv_TestTempDir dir;
    const std::string strF = dir.Path();
    const int nThreads = 8, nFiles = 150;
    std::atomic<int> nWrong{0};
    std::vector<std::thread> vecThreads;
    for (int t = 0; t < nThreads; ++t) {
        vecThreads.emplace_back([&, t] {
            for (int i = 0; i < nFiles; ++i) {
                std::string strName = "T" + std::to_string(t) + "-" + std::to_string(i) + ".Dat";
                std::string strMoved = "R" + std::to_string(t) + "-" + std::to_string(i) + ".Dat";
                int nFd = Pf_Open(strF + "\\" + strName, O_WRONLY | O_CREAT | O_EXCL);
                if (nFd < 0 || close(nFd) != 0)
                    ++nWrong;
                if (Pf_Native(strF + "\\" + _Lower(strName)) != strF + "/" + strName)
                    ++nWrong;
                if (i % 2 == 0) {
                    if (!Pf_MoveFile(strF + "\\" + _Lower(strName), strF + "\\" + strMoved, 0) ||
                        Pf_Native(strF + "\\" + _Lower(strMoved)) != strF + "/" + strMoved ||
                        Pf_Native(strF + "\\" + _Lower(strName)) != strF + "/" + _Lower(strName))
                        ++nWrong;
                } else if (i % 3 == 0) {
                    if (!Pf_DeleteFile(strF + "\\" + _Lower(strName)) ||
                        Pf_Native(strF + "\\" + _Lower(strName)) != strF + "/" + _Lower(strName))
                        ++nWrong;
                }
            }
        });
    }
    for (std::thread& thread : vecThreads)
        thread.join();
    EXPECT_EQ(0, nWrong.load());
    std::vector<Pf_DirEntry> vecEntries;
    ASSERT_TRUE(Pf_ListDir(strF, &vecEntries));
    EXPECT_EQ((size_t)(2 + nThreads * (nFiles - nFiles / 6)), vecEntries.size());
    for (const Pf_DirEntry& entry : vecEntries) {
        if (entry.strName == "." || entry.strName == "..")
            continue;
        EXPECT_EQ(strF + "/" + entry.strName, Pf_Native(strF + "\\" + _Lower(entry.strName)));
    }
}
