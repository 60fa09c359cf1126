// Counting the running processes of one executable by its full path.
#include "foundation/process_count.h"
#include "platform/file.h"
#include "platform/process.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

std::string _Upper(std::string strText)
{
    std::transform(strText.begin(), strText.end(), strText.begin(), [](unsigned char c) { return (char)toupper(c); });
    return strText;
}

unsigned _Count(const std::string& strPath)
{
    unsigned uCount = 12345;
    EXPECT_TRUE(Rv_GetProcessCount(strPath.c_str(), &uCount)) << strPath;
    return uCount;
}

}  // namespace

// Run only inside a private copy of this test program (below): prints the
// count of processes of its own image.
TEST(ProcessCount, DISABLED_PrintsItsOwnCount)
{
    std::string strSelf;
    unsigned uCount = 0;
    ASSERT_TRUE(Pf_GetExecutablePath(&strSelf));
    ASSERT_TRUE(Rv_GetProcessCount(strSelf.c_str(), &uCount));
    printf("own count: %u\n", uCount);
}

TEST(ProcessCount, ASingleCopySeesItself)
{
    // Other tests of this program run beside this one, so a private copy of
    // it is the single copy of its image.
    Rv_TestTempDir dir;
    std::string strSelf;
    ASSERT_TRUE(Pf_GetExecutablePath(&strSelf));
    ASSERT_EQ("", Rv_TestRun("cp '" + strSelf + "' '" + dir.File("Copy.exe") + "' 2>&1"));
    std::string strOutput = Rv_TestRun("'" + dir.File("Copy.exe") +
                                       "' --gtest_also_run_disabled_tests --gtest_filter=ProcessCount.DISABLED_PrintsItsOwnCount");
    EXPECT_NE(std::string::npos, strOutput.find("own count: 1\n")) << strOutput;
}

TEST(ProcessCount, CountsCopiesOfOneImageWhateverTheSpelling)
{
    Rv_TestTempDir dir;
    std::string strClient = dir.File("Client.exe");
    ASSERT_EQ("", Rv_TestRun("mkdir -p '" + dir.File("Game") + "' && cp /bin/sleep '" + strClient + "' && cp /bin/sleep '" +
                             dir.File("Game/Client.exe") + "' && ln -s Client.exe '" + dir.File("link.exe") + "' 2>&1"));
    std::vector<std::unique_ptr<Pf_Process>> vecChildren;
    for (int i = 0; i < 3; ++i) {
        vecChildren.push_back(std::make_unique<Pf_Process>());
        ASSERT_TRUE(vecChildren.back()->Start("\"" + strClient + "\" 120", ""));
    }
    vecChildren.push_back(std::make_unique<Pf_Process>());
    ASSERT_TRUE(vecChildren.back()->Start("\"" + dir.File("Game/Client.exe") + "\" 120", ""));

    struct Case {
        std::string strPath;
        unsigned uExpected;
    } aCases[] = {
        {strClient, 3},
        {_Upper(strClient), 3},                                 // found without case
        {dir.Path() + "\\Client.exe", 3},                       // the system's separator
        {dir.File("Game/../Client.exe"), 3},
        {dir.File("link.exe"), 3},
        {dir.File("Game/Client.exe"), 1},                       // same name, other folder
        {dir.File("Other.exe"), 0},
        {"Client.exe", 0},
    };
    for (const Case& c : aCases)
        EXPECT_EQ(c.uExpected, _Count(c.strPath)) << c.strPath;

    for (auto& pChild : vecChildren) {
        ASSERT_TRUE(pChild->Terminate());
        ASSERT_TRUE(pChild->Wait(10000));
    }
    EXPECT_EQ(0u, _Count(strClient));
}

TEST(ProcessCount, RefusesMissingArguments)
{
    unsigned uCount = 7;
    EXPECT_FALSE(Rv_GetProcessCount("", &uCount));
    EXPECT_EQ(0u, uCount);
    EXPECT_FALSE(Rv_GetProcessCount(nullptr, &uCount));
    EXPECT_FALSE(Rv_GetProcessCount("/bin/sh", nullptr));
}
