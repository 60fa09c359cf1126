// Resolving where a path leads, and the inside-a-folder check built on it.
#include "platform/real_path.h"

#include "platform/file.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <unistd.h>

TEST(RealPath, InsideChecksFollowLinksAndDots)
{
    Rv_TestTempDir dir;
    Rv_TestTempDir outside;
    Pf_CreateDirChain(dir.File("root/a/b"));
    Pf_CreateDirChain(outside.File("x"));
    ASSERT_EQ(0, symlink(outside.File("x").c_str(), dir.File("root/out").c_str()));
    ASSERT_EQ(0, symlink(dir.File("root/a").c_str(), dir.File("root/in").c_str()));
    const std::string strRoot = dir.File("root");
    struct Case {
        std::string strPath;
        int bInside;
    };
    const Case aCases[] = {
        {strRoot + "/a/b", 1},
        {strRoot + "\\a\\b\\..\\missing\\file", 1},
        {strRoot + "/a/b/../../../root2", 0},
        {strRoot + "/out/file", 0},          // through a link that leaves
        {strRoot + "/in/b", 1},              // through a link that stays
        {strRoot + "/missing/../../escape", 0},
        {strRoot, 0},                        // the folder itself
        {strRoot + "/", 0},
    };
    for (const Case& c : aCases)
        EXPECT_EQ(c.bInside, Pf_IsPathInside(c.strPath, strRoot)) << c.strPath;
    EXPECT_TRUE(Pf_IsLink(dir.File("root/out")));
    EXPECT_TRUE(Pf_IsLink(dir.File("root/out/")));
    EXPECT_FALSE(Pf_IsLink(dir.File("root/a")));
    EXPECT_FALSE(Pf_IsLink(dir.File("root/none")));
}
