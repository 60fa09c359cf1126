// Named events: exist while held (by this or another process), signal across processes.
#include "platform/named_event.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <sys/wait.h>
#include <unistd.h>

class NamedEventTest : public ::testing::Test {
protected:
    void SetUp() override { setenv("RV_EVENT_PREFIX", (m_Dir.Path() + "/ev_").c_str(), 1); }
    void TearDown() override { unsetenv("RV_EVENT_PREFIX"); }
    Rv_TestTempDir m_Dir;
};

TEST_F(NamedEventTest, LivesWhileHeld)
{
    const std::string strName = "Global\\feln_qv7update_{0C941A6A}";
    Pf_NamedEvent opener;
    EXPECT_FALSE(opener.Open(strName));
    EXPECT_EQ(ENOENT, errno);

    Pf_NamedEvent first;
    int bExisted = -1;
    ASSERT_TRUE(first.Create(strName, &bExisted));
    EXPECT_EQ(0, bExisted);
    EXPECT_FALSE(first.Create(strName));      // one event per object

    Pf_NamedEvent second;
    ASSERT_TRUE(second.Create(strName, &bExisted));
    EXPECT_EQ(1, bExisted);
    ASSERT_TRUE(opener.Open(strName));

    // Signals reach the other holders; several signals before a wait count once.
    EXPECT_FALSE(second.Wait(0));
    EXPECT_TRUE(opener.Set());
    EXPECT_TRUE(opener.Set());
    EXPECT_TRUE(second.Wait(1000));
    EXPECT_FALSE(first.Wait(20));

    first.Close();
    second.Close();
    EXPECT_TRUE(opener.IsValid());
    opener.Close();
    // Nobody holds it: gone, and a new one starts unsignalled.
    Pf_NamedEvent again;
    EXPECT_FALSE(again.Open(strName));
    ASSERT_TRUE(again.Create(strName, &bExisted));
    EXPECT_EQ(0, bExisted);
    EXPECT_FALSE(again.Wait(0));
}

TEST_F(NamedEventTest, HeldByAnotherProcess)
{
    const std::string strName = "Global\\x_felnupdate_{D51BB2CE}";
    int anPipe[2];
    ASSERT_EQ(0, pipe(anPipe));
    pid_t nPid = fork();
    ASSERT_GE(nPid, 0);
    if (nPid == 0) {
        Pf_NamedEvent event;
        char c = event.Create(strName) ? 'y' : 'n';
        if (write(anPipe[1], &c, 1) != 1)
            _exit(2);
        // Waits for the parent's signal, then says so and holds on.
        c = event.Wait(10000) ? 's' : 't';
        if (write(anPipe[1], &c, 1) != 1)
            _exit(2);
        pause();
        _exit(0);
    }
    char c = 0;
    ASSERT_EQ(1, read(anPipe[0], &c, 1));
    ASSERT_EQ('y', c);
    Pf_NamedEvent event;
    int bExisted = 0;
    ASSERT_TRUE(event.Create(strName, &bExisted));
    EXPECT_EQ(1, bExisted);
    EXPECT_TRUE(event.Set());
    ASSERT_EQ(1, read(anPipe[0], &c, 1));
    EXPECT_EQ('s', c);
    event.Close();

    Pf_NamedEvent opener;
    EXPECT_TRUE(opener.Open(strName));
    opener.Close();
    kill(nPid, SIGKILL);
    waitpid(nPid, nullptr, 0);
    EXPECT_FALSE(opener.Open(strName));   // its holder died with the child
    close(anPipe[0]);
    close(anPipe[1]);
}

TEST_F(NamedEventTest, PrefixKeepsNamesApart)
{
    Pf_NamedEvent event;
    ASSERT_TRUE(event.Create("Global\\name"));
    std::string strPath;
    ASSERT_TRUE(Pf_NamedEventPath("Global\\name", &strPath));
    EXPECT_EQ(m_Dir.Path() + "/ev_Global%5Cname", strPath);
    setenv("RV_EVENT_PREFIX", (m_Dir.Path() + "/other_").c_str(), 1);
    Pf_NamedEvent opener;
    EXPECT_FALSE(opener.Open("Global\\name"));
}
