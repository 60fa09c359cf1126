// Files and folders: moves with and without replace, copies, listings,
// folder chains, times, free space and the simulated machine's answer.
#include "platform/file.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <unistd.h>

TEST(PlatformFile, MoveWithAndWithoutReplace)
{
    Rv_TestTempDir dir;
    Rv_TestWriteFile(dir.File("a"), "new");
    Rv_TestWriteFile(dir.File("b"), "old");
    EXPECT_FALSE(Pf_MoveFile(dir.File("a"), dir.File("b"), 0));
    EXPECT_EQ(EEXIST, Pf_GetLastError());
    EXPECT_EQ("old", Rv_TestReadFile(dir.File("b")));
    EXPECT_TRUE(Pf_MoveFile(dir.File("a"), dir.File("B"), 1)) << "the existing name is found without case";
    EXPECT_EQ("new", Rv_TestReadFile(dir.File("b")));
    EXPECT_FALSE(Pf_FileExists(dir.File("a")));
    EXPECT_FALSE(Pf_MoveFile(dir.File("missing"), dir.File("c"), 1));
}

TEST(PlatformFile, CopyKeepsTargetUntilComplete)
{
    Rv_TestTempDir dir;
    Rv_TestWriteFile(dir.File("src"), std::string(3 << 20, 'q'));
    Rv_TestWriteFile(dir.File("dst"), "keep");
    EXPECT_FALSE(Pf_CopyFile(dir.File("src"), dir.File("dst"), 1));
    EXPECT_EQ("keep", Rv_TestReadFile(dir.File("dst")));
    EXPECT_TRUE(Pf_CopyFile(dir.File("src"), dir.File("dst"), 0));
    EXPECT_EQ(std::string(3 << 20, 'q'), Rv_TestReadFile(dir.File("dst")));
    std::vector<Pf_DirEntry> vecEntries;
    ASSERT_TRUE(Pf_ListDir(dir.Path(), &vecEntries));
    EXPECT_EQ(4u, vecEntries.size()) << "., .., src, dst and no temporary left";
}

TEST(PlatformFile, ListingDirChainAndRemoveTree)
{
    Rv_TestTempDir dir;
    EXPECT_TRUE(Pf_CreateDirChain(dir.Path() + "\\x\\y\\z\\"));
    EXPECT_TRUE(Pf_CreateDirChain(dir.Path() + "/x/y"));
    Rv_TestWriteFile(dir.File("x/y/f"), "12345");
    EXPECT_FALSE(Pf_CreateDirChain(dir.Path() + "/x/y/f/g")) << "a file in the chain fails";
    EXPECT_FALSE(Pf_CreateDir(dir.Path() + "/x/y/f"));
    EXPECT_EQ(EEXIST, Pf_GetLastError());

    std::vector<Pf_DirEntry> vecEntries;
    ASSERT_TRUE(Pf_ListDir(dir.Path() + "/x/y", &vecEntries));
    std::vector<std::string> vecNames;
    for (const Pf_DirEntry& entry : vecEntries)
        vecNames.push_back(entry.strName + (entry.bIsDir ? "/" : "") + std::to_string(entry.ullSize));
    std::sort(vecNames.begin(), vecNames.end());
    EXPECT_EQ((std::vector<std::string>{"../0", "./0", "f5", "z/0"}), vecNames);
    EXPECT_FALSE(Pf_ListDir(dir.Path() + "/none", &vecEntries));

    // A link inside the tree is removed, never followed.
    Rv_TestWriteFile(dir.File("outside/keep"), "k");
    ASSERT_EQ(0, symlink(dir.File("outside").c_str(), dir.File("x/link").c_str()));
    EXPECT_TRUE(Pf_RemoveTree(dir.Path() + "/x"));
    EXPECT_FALSE(Pf_PathExists(dir.Path() + "/x"));
    EXPECT_EQ("k", Rv_TestReadFile(dir.File("outside/keep")));
}

TEST(PlatformFile, FileTimesRoundTrip)
{
    Rv_TestTempDir dir;
    Rv_TestWriteFile(dir.File("t"), "");
    // 2020-01-02 03:04:05 UTC
    Pf_FILETIME ftWrite = Pf_UnixToFileTime(1577934245, 0);
    EXPECT_EQ(132224078450000000ULL, Pf_FileTimeToU64(ftWrite));
    ASSERT_TRUE(Pf_SetFileTimes(dir.File("t"), nullptr, &ftWrite));
    Pf_FILETIME ftRead;
    ASSERT_TRUE(Pf_GetFileTimes(dir.File("t"), nullptr, nullptr, &ftRead));
    EXPECT_EQ(Pf_FileTimeToU64(ftWrite), Pf_FileTimeToU64(ftRead));
}

TEST(PlatformFile, UnixTimesOutsideTheFileTimesAreClamped)
{
    EXPECT_EQ(0u, Pf_FileTimeToU64(Pf_UnixToFileTime(-11644473600LL, 0)));
    EXPECT_EQ(0u, Pf_FileTimeToU64(Pf_UnixToFileTime(-11644473601LL, 0)));
    EXPECT_EQ(0u, Pf_FileTimeToU64(Pf_UnixToFileTime(INT64_MIN, 0)));
    EXPECT_EQ((uint64_t)INT64_MAX, Pf_FileTimeToU64(Pf_UnixToFileTime(INT64_MAX, 999999999)));
    EXPECT_EQ((uint64_t)INT64_MAX, Pf_FileTimeToU64(Pf_UnixToFileTime(99999999999LL * 86400, 0)));
    EXPECT_EQ(116444736000000001ULL, Pf_FileTimeToU64(Pf_UnixToFileTime(0, 100)));
}

TEST(PlatformFile, FreeSpaceOfNearestAncestorAndSimulatedMachine)
{
    Rv_TestTempDir dir;
    uint64_t ullFree = 0;
    EXPECT_TRUE(Pf_GetFreeSpace(dir.Path() + "/not/yet/there", &ullFree));
    EXPECT_GT(ullFree, 0u);
    Rv_TestWriteFile(dir.File("sim/free_bytes"), "104857599\n");
    setenv("RV_SIM_ROOT", dir.File("sim").c_str(), 1);
    EXPECT_TRUE(Pf_GetFreeSpace(dir.Path(), &ullFree));
    unsetenv("RV_SIM_ROOT");
    EXPECT_EQ(104857599u, ullFree);
}

TEST(PlatformFile, AtomicWriteLeavesNoTemporary)
{
    Rv_TestTempDir dir;
    EXPECT_TRUE(Pf_WriteFileAtomic(dir.File("f"), "one"));
    EXPECT_TRUE(Pf_WriteFileAtomic(dir.File("F"), "two"));
    EXPECT_EQ("two", Rv_TestReadFile(dir.File("f")));
    EXPECT_FALSE(Pf_PathExists(dir.File("f.tmp")));
    EXPECT_FALSE(Pf_WriteFileAtomic(dir.File("no/such/folder/f"), "x"));
}

// Starting the writeback is only a hint: what a reader sees is unchanged,
// except that a stream's buffered bytes are flushed first.
TEST(PlatformFile, StartingWritebackChangesNothingButFlushesTheStream)
{
    Rv_TestTempDir dir;
    Rv_TestWriteFile(dir.File("f"), "written");
    EXPECT_TRUE(Pf_StartWriteback(dir.File("F")));
    EXPECT_EQ("written", Rv_TestReadFile(dir.File("f")));
    EXPECT_FALSE(Pf_StartWriteback(dir.File("missing")));
    EXPECT_EQ(ENOENT, Pf_GetLastError());

    FILE* fp = Pf_FOpen(dir.File("s"), "wb");
    ASSERT_TRUE(fp);
    fputs("buffered", fp);
    EXPECT_TRUE(Pf_StartStreamWriteback(fp, 0, 8));
    EXPECT_EQ("buffered", Rv_TestReadFile(dir.File("s"))) << "flushed before the writeback starts";
    EXPECT_FALSE(Pf_StartStreamWriteback(fp, UINT64_MAX, 1));
    EXPECT_EQ(EINVAL, Pf_GetLastError());
    fclose(fp);
    EXPECT_FALSE(Pf_StartStreamWriteback(nullptr, 0, 0));
}
