// Child processes: exit codes, working folder, time-outs, termination, and
// which events a child inherits.
#include "platform/process.h"
#include "platform/thread.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <unistd.h>

TEST(Process, ExitCodeAndWorkingFolder)
{
    Rv_TestTempDir dir;
    Pf_Process process;
    ASSERT_TRUE(process.Start("/bin/sh -c \"pwd > where.txt; exit 7\"", dir.Path()));
    int nExitCode = -1;
    ASSERT_TRUE(process.Wait(PF_WAIT_INFINITE, &nExitCode));
    EXPECT_EQ(7, nExitCode);
    EXPECT_EQ(dir.Path() + "\n", Rv_TestReadFile(dir.File("where.txt")));
    // A second wait gives the same answer.
    nExitCode = -1;
    EXPECT_TRUE(process.Wait(0, &nExitCode));
    EXPECT_EQ(7, nExitCode);
}

TEST(Process, StartFailures)
{
    Rv_TestTempDir dir;
    Pf_Process process;
    EXPECT_FALSE(process.Start("", ""));
    EXPECT_FALSE(process.Start(dir.File("missing.exe"), ""));
    EXPECT_EQ(ENOENT, errno);
    EXPECT_FALSE(process.Start("/bin/true", dir.File("no/such/folder")));
    EXPECT_FALSE(process.IsValid());
    ASSERT_TRUE(process.Start("/bin/true", ""));
    EXPECT_FALSE(process.Start("/bin/true", ""));   // one process per handle
}

TEST(Process, TimeOutTerminateAndNoZombie)
{
    Pf_Process process;
    ASSERT_TRUE(process.Start("sleep 30", ""));
    EXPECT_FALSE(process.Wait(50));
    EXPECT_TRUE(process.Terminate());
    int nExitCode = 0;
    ASSERT_TRUE(process.Wait(10000, &nExitCode));
    EXPECT_EQ(128 + 9, nExitCode);

    // Closed while running: collected in the background once it ends.
    Pf_Process running;
    ASSERT_TRUE(running.Start("/bin/sh -c \"sleep 0.2\"", ""));
    int nPid = running.GetPid();
    running.Close();
    std::string strStatus;
    for (int i = 0; i < 200; ++i) {
        strStatus = Rv_TestReadFile("/proc/" + std::to_string(nPid) + "/stat");
        if (strStatus.empty())
            break;
        usleep(20000);
    }
    EXPECT_EQ("", strStatus) << "the child is still there (zombie?)";
}

TEST(Process, OnlyAskedEventsAreInherited)
{
    Rv_TestTempDir dir;
    Pf_Event asked, other, hidden;
    ASSERT_TRUE(asked.Init(0, 0, 1));
    ASSERT_TRUE(other.Init(0, 0, 1));
    ASSERT_TRUE(hidden.Init(0, 0, 0));
    Pf_Event* apInherit[] = {&asked};
    Pf_Process process;
    ASSERT_TRUE(process.Start("/bin/sh -c \"ls /proc/$$/fd > fds.txt\"", dir.Path(), apInherit, 1));
    ASSERT_TRUE(process.Wait(10000));
    std::string strFds = "\n" + Rv_TestReadFile(dir.File("fds.txt"));
    EXPECT_NE(std::string::npos, strFds.find("\n" + std::to_string(asked.GetFd()) + "\n")) << strFds;
    EXPECT_EQ(std::string::npos, strFds.find("\n" + std::to_string(other.GetFd()) + "\n")) << strFds;
    EXPECT_EQ(std::string::npos, strFds.find("\n" + std::to_string(hidden.GetFd()) + "\n")) << strFds;
}

TEST(Process, EventHandleTextAndAttach)
{
    Pf_Event event;
    ASSERT_TRUE(event.Init(0, 0, 1));
    std::string strText = Pf_EventHandleText(event);
    ASSERT_EQ(8u, strText.size());
    char szExpected[16];
    snprintf(szExpected, sizeof(szExpected), "%08X", (unsigned)event.GetFd());
    EXPECT_EQ(szExpected, strText);

    // Only an open event descriptor is taken over.
    Pf_Event attached;
    EXPECT_FALSE(Pf_AttachInheritedEvent(0, 0, &attached));
    EXPECT_FALSE(Pf_AttachInheritedEvent(1, 0, &attached));
    EXPECT_FALSE(Pf_AttachInheritedEvent(0x12C0000, 0, &attached));
    FILE* pFile = tmpfile();
    ASSERT_NE(nullptr, pFile);
    EXPECT_FALSE(Pf_AttachInheritedEvent((uint64_t)fileno(pFile), 0, &attached));
    fclose(pFile);
    EXPECT_FALSE(Pf_AttachInheritedEvent(0x100000000ull + (uint64_t)event.GetFd(), 0, &attached));

    int nFd = dup(event.GetFd());
    ASSERT_TRUE(Pf_AttachInheritedEvent((uint64_t)nFd, 0, &attached));
    EXPECT_TRUE(event.Set());
    EXPECT_TRUE(attached.Wait(1000));
}
