// The worker thread wrapper: start, join, reuse and refusal while held.
#include "foundation/thread.h"
#include "platform/clock.h"
#include "platform/thread.h"

#include <atomic>
#include <gtest/gtest.h>

namespace {

struct Gate {
    Pf_Event evRelease;     // lets _WaitForRelease end
    Pf_Event evDone;        // set by _Count
    std::atomic<int> nRuns{0};
    std::atomic<int> nFinished{0};
};

void _Count(void* pvGate)
{
    Gate* pGate = (Gate*)pvGate;
    pGate->nRuns++;
    if (pGate->evDone.IsValid())
        pGate->evDone.Set();
}

void _WaitForRelease(void* pvGate)
{
    Gate* pGate = (Gate*)pvGate;
    pGate->nRuns++;
    pGate->evRelease.Wait(PF_WAIT_INFINITE);
    pGate->nFinished++;
}

void _ReleaseAfterAWhile(void* pvGate)
{
    Pf_Sleep(50);
    ((Gate*)pvGate)->evRelease.Set();
}

}  // namespace

TEST(RvThread, WaitOnEmptyAndAfterJoin)
{
    Rv_Thread thread;
    EXPECT_EQ(0, thread.Wait());
    Gate gate;
    EXPECT_EQ(0, thread.Create(nullptr, &gate));
    EXPECT_EQ(0, thread.Wait());
    ASSERT_EQ(1, thread.Create(_Count, &gate));
    EXPECT_EQ(1, thread.Wait());
    EXPECT_EQ(1, gate.nRuns.load());
    EXPECT_EQ(0, thread.Wait());
    // Reused after the join.
    ASSERT_EQ(1, thread.Create(_Count, &gate));
    EXPECT_EQ(1, thread.Wait());
    EXPECT_EQ(2, gate.nRuns.load());
}

TEST(RvThread, CreateWhileHeldFailsAndKeepsTheThread)
{
    Gate gate;
    ASSERT_TRUE(gate.evRelease.Init(1, 0));
    Rv_Thread thread;
    ASSERT_EQ(1, thread.Create(_WaitForRelease, &gate));
    // Refused while the first still runs; the first thread is untouched.
    Gate other;
    ASSERT_TRUE(other.evDone.Init(1, 0));
    EXPECT_EQ(0, thread.Create(_Count, &other));
    gate.evRelease.Set();
    EXPECT_EQ(1, thread.Wait());
    EXPECT_EQ(1, gate.nFinished.load());
    EXPECT_EQ(0, other.nRuns.load());

    // A thread that has ended still holds the slot until it is joined.
    ASSERT_EQ(1, thread.Create(_Count, &other));
    ASSERT_TRUE(other.evDone.Wait(PF_WAIT_INFINITE));
    EXPECT_EQ(0, thread.Create(_Count, &other));
    EXPECT_EQ(1, thread.Wait());
    EXPECT_EQ(1, other.nRuns.load());
}

TEST(RvThread, DestructorJoinsARunningThread)
{
    Gate gate;
    ASSERT_TRUE(gate.evRelease.Init(1, 0));
    Rv_Thread releaser;
    {
        Rv_Thread thread;
        ASSERT_EQ(1, thread.Create(_WaitForRelease, &gate));
        ASSERT_EQ(1, releaser.Create(_ReleaseAfterAWhile, &gate));
    }
    // The inner wrapper's destructor returned only after its function did.
    EXPECT_EQ(1, gate.nFinished.load());
}
