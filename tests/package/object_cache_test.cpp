// The cache of idle objects: reuse, the cap of eight, draining, and takes and
// gives from several threads at once.
#include "package/object_cache.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {
std::atomic<int> s_nLive{0};

struct CountedObject {
    CountedObject() { ++s_nLive; }
    ~CountedObject() { --s_nLive; }
    int nValue = 0;
};
}

TEST(ObjectCache, KeepsAtMostEightIdleObjectsAndHandsThemBackUnchanged)
{
    {
        Rv_ObjectCache<CountedObject> Cache;
        std::vector<CountedObject*> vecObjects;
        for (int i = 0; i < 9; ++i)
            vecObjects.push_back(Cache.Take());
        EXPECT_EQ(s_nLive, 9);
        vecObjects[0]->nValue = 42;
        for (CountedObject* pObject : vecObjects)
            Cache.Give(pObject);
        // The ninth idle object is freed, not kept.
        EXPECT_EQ(Cache.IdleCount(), 8u);
        EXPECT_EQ(s_nLive, 8);

        CountedObject* pAgain = Cache.Take();
        EXPECT_EQ(pAgain, vecObjects[0]);   // the first slot is taken first, not reset
        EXPECT_EQ(pAgain->nValue, 42);
        EXPECT_EQ(Cache.IdleCount(), 7u);
        Cache.Give(pAgain);
        Cache.Drain();
        EXPECT_EQ(Cache.IdleCount(), 0u);
        EXPECT_EQ(s_nLive, 0);
        Cache.Give(Cache.Take());
    }
    // Objects still idle when the cache goes are destroyed with it.
    EXPECT_EQ(s_nLive, 0);
}

TEST(ObjectCache, ThreadsTakingAndGivingLoseAndDuplicateNothing)
{
    Rv_ObjectCache<CountedObject> Cache;
    std::vector<std::thread> vecThreads;
    std::atomic<int> nDoubleUse{0};
    for (int t = 0; t < 4; ++t) {
        vecThreads.emplace_back([&Cache, &nDoubleUse, t] {
            for (int i = 0; i < 2000; ++i) {
                CountedObject* apHeld[3];
                for (CountedObject*& pObject : apHeld) {
                    pObject = Cache.Take();
                    // Each object is in one hand at a time: the mark must be free.
                    if (pObject->nValue != 0)
                        ++nDoubleUse;
                    pObject->nValue = t + 1;
                }
                for (CountedObject* pObject : apHeld) {
                    pObject->nValue = 0;
                    Cache.Give(pObject);
                }
            }
        });
    }
    for (std::thread& Thread : vecThreads)
        Thread.join();
    EXPECT_EQ(nDoubleUse, 0);
    EXPECT_LE(Cache.IdleCount(), 8u);
    EXPECT_EQ(s_nLive, (int)Cache.IdleCount());
    Cache.Drain();
    EXPECT_EQ(s_nLive, 0);
}
