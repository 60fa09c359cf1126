// Counting the running processes of one executable by its full path.
#include "foundation/process_count.h"
#include "platform/file.h"
#include "platform/process.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
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

TEST(ProcessCount, ASingleCopySeesItself)
{
    std::string strSelf;
    ASSERT_TRUE(Pf_GetExecutablePath(&strSelf));
    EXPECT_EQ(1u, _Count(strSelf));
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
