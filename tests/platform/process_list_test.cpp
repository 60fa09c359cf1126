// The process list from /proc: every process, each with the full path of its image.
#include "platform/file.h"
#include "platform/process.h"
#include "platform/process_list.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <unistd.h>
#include <vector>

namespace {

// Processes started by a test, ended and collected when it ends.
class Children {
public:
    ~Children()
    {
        for (auto& pProcess : m_vecProcesses) {
            pProcess->Terminate();
            pProcess->Wait(10000);
        }
    }
    int Start(const std::string& strCommandLine)
    {
        m_vecProcesses.push_back(std::make_unique<Pf_Process>());
        return m_vecProcesses.back()->Start(strCommandLine, "");
    }
    std::set<uint32_t> Pids() const
    {
        std::set<uint32_t> setPids;
        for (auto& pProcess : m_vecProcesses)
            setPids.insert((uint32_t)pProcess->GetPid());
        return setPids;
    }

private:
    std::vector<std::unique_ptr<Pf_Process>> m_vecProcesses;
};

// The image paths the list gives for each of the pids.
std::vector<std::string> _ImagesOf(const std::set<uint32_t>& setPids)
{
    std::vector<Pf_ProcessEntry> vecProcesses;
    std::vector<std::string> vecImages;
    EXPECT_TRUE(Pf_ListProcesses(&vecProcesses));
    for (const Pf_ProcessEntry& process : vecProcesses)
        if (setPids.count(process.uProcessId))
            vecImages.push_back(process.strImagePath);
    return vecImages;
}

}  // namespace

TEST(ProcessList, HoldsThisProcessWithItsFullImagePath)
{
    std::string strSelf;
    ASSERT_TRUE(Pf_GetExecutablePath(&strSelf));
    std::vector<std::string> vecImages = _ImagesOf({(uint32_t)getpid()});
    ASSERT_EQ(1u, vecImages.size());
    EXPECT_EQ(strSelf, vecImages[0]);
    EXPECT_EQ('/', vecImages[0][0]);
}

TEST(ProcessList, ListsEveryProcessBeyondAFixedBuffer)
{
    Rv_TestTempDir dir;
    std::string strSleeper = dir.File("Sleeper.exe");
    ASSERT_EQ("", Rv_TestRun("cp /bin/sleep '" + strSleeper + "' 2>&1"));
    Children children;
    for (int i = 0; i < 600; ++i)
        ASSERT_TRUE(children.Start("\"" + strSleeper + "\" 120")) << i;
    std::vector<std::string> vecImages = _ImagesOf(children.Pids());
    EXPECT_EQ(std::vector<std::string>(600, strSleeper), vecImages);
}

TEST(ProcessList, ImagesOfScriptsAndRemovedFiles)
{
    Rv_TestTempDir dir;
    std::string strScript = dir.File("tool.sh");
    Rv_TestWriteFile(strScript, "#!/bin/sh\nwhile :; do sleep 1; done\n");
    ASSERT_EQ("", Rv_TestRun("chmod +x '" + strScript + "' && cp /bin/sleep '" + dir.File("gone") + "' 2>&1"));
    std::string strShell = Rv_TestRun("readlink -f /bin/sh | tr -d '\\n'");
    Children script;
    Children removed;
    ASSERT_TRUE(script.Start("\"" + strScript + "\""));
    ASSERT_TRUE(removed.Start("\"" + dir.File("gone") + "\" 120"));
    ASSERT_EQ("", Rv_TestRun("rm '" + dir.File("gone") + "' 2>&1"));

    // A script runs under its interpreter: the interpreter is the image.
    EXPECT_EQ(std::vector<std::string>{strShell}, _ImagesOf(script.Pids()));
    // An image removed while it runs keeps its path.
    EXPECT_EQ(std::vector<std::string>{dir.File("gone")}, _ImagesOf(removed.Pids()));
}
