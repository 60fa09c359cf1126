// Threads and events: manual and auto reset, timed waits, wait-for-any.
#include "platform/clock.h"
#include "platform/thread.h"

#include <gtest/gtest.h>

TEST(PlatformEvent, ManualAndAutoReset)
{
    Pf_Event manual, automatic;
    ASSERT_TRUE(manual.Init(1, 0));
    ASSERT_TRUE(automatic.Init(0, 1));
    EXPECT_FALSE(manual.Wait(0));
    EXPECT_TRUE(automatic.Wait(0));
    EXPECT_FALSE(automatic.Wait(0)) << "an auto-reset event is consumed by one wait";
    manual.Set();
    manual.Set();
    EXPECT_TRUE(manual.Wait(0));
    EXPECT_TRUE(manual.Wait(0)) << "a manual-reset event stays signalled";
    manual.Reset();
    EXPECT_FALSE(manual.Wait(10));
}

TEST(PlatformEvent, WaitForAnyFromAnotherThread)
{
    Pf_Event aEvents[2];
    ASSERT_TRUE(aEvents[0].Init(0, 0));
    ASSERT_TRUE(aEvents[1].Init(0, 0));
    Pf_Event* apEvents[2] = {&aEvents[0], &aEvents[1]};
    Pf_Thread thread;
    ASSERT_TRUE(thread.Start([](void* pv) {
        Pf_Sleep(20);
        ((Pf_Event*)pv)->Set();
    }, &aEvents[1]));
    EXPECT_FALSE(thread.Start([](void*) {}, nullptr)) << "one thread per wrapper";
    int nIndex = -1;
    EXPECT_TRUE(Pf_WaitForAny(apEvents, 2, 5000, &nIndex));
    EXPECT_EQ(1, nIndex);
    EXPECT_TRUE(thread.Join());
    EXPECT_FALSE(thread.Join());
    uint64_t ullStart = Pf_GetMonotonicMs();
    EXPECT_FALSE(Pf_WaitForAny(apEvents, 2, 30, &nIndex));
    EXPECT_GE(Pf_GetMonotonicMs() - ullStart, 30u);
}

TEST(PlatformMutex, IsRecursive)
{
    Pf_Mutex mutex;
    Pf_MutexGuard outer(mutex);
    Pf_MutexGuard inner(mutex);
    SUCCEED();
}
