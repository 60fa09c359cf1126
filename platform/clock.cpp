// Clocks and sleeps over clock_gettime and nanosleep.
#include "platform/clock.h"
#include "platform/local_time.h"
#include "platform/sim.h"

#include <atomic>
#include <cerrno>
#include <ctime>

static std::atomic<Pf_LocalTimeHook> s_pfnLocalTimeHook{nullptr};

uint64_t Pf_GetMonotonicMs()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (uint64_t)ts.tv_sec * 1000 + (uint64_t)ts.tv_nsec / 1000000;
}

uint32_t Pf_GetTickCount()
{
    return (uint32_t)Pf_GetMonotonicMs();
}

void Pf_SetLocalTimeHook(Pf_LocalTimeHook pfnHook)
{
    s_pfnLocalTimeHook.store(pfnHook);
}

void Pf_GetLocalTime(Pf_SYSTEMTIME* pTime)
{
    Pf_LocalTimeHook pfnHook = s_pfnLocalTimeHook.load();
    if (pfnHook) {
        pfnHook(pTime);
        return;
    }
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    struct tm tmLocal;
    localtime_r(&ts.tv_sec, &tmLocal);
    pTime->nYear = tmLocal.tm_year + 1900;
    pTime->nMonth = tmLocal.tm_mon + 1;
    pTime->nDay = tmLocal.tm_mday;
    pTime->nHour = tmLocal.tm_hour;
    pTime->nMinute = tmLocal.tm_min;
    pTime->nSecond = tmLocal.tm_sec;
    pTime->nMilliseconds = (int)(ts.tv_nsec / 1000000);
}

int64_t Pf_GetUnixTime()
{
    Pf_LocalTimeHook pfnHook = s_pfnLocalTimeHook.load();
    if (pfnHook) {
        Pf_SYSTEMTIME st;
        int64_t llSeconds = 0;
        pfnHook(&st);
        Pf_LocalTimeToUnix(st, &llSeconds);
        return llSeconds;
    }
    return (int64_t)time(nullptr);
}

static uint64_t _SleepDivisor()
{
    static std::atomic<int64_t> s_llDivisor{-1};
    int64_t llDivisor = s_llDivisor.load();
    if (llDivisor < 0) {
        uint64_t ullValue = 1;
        if (!Pf_SimReadU64("sleep_divisor", &ullValue) || ullValue == 0)
            ullValue = 1;
        llDivisor = (int64_t)ullValue;
        s_llDivisor.store(llDivisor);
    }
    return (uint64_t)llDivisor;
}

void Pf_Sleep(uint32_t uMilliseconds)
{
    uint64_t ullMs = uMilliseconds / _SleepDivisor();
    if (uMilliseconds > 0 && ullMs == 0)
        ullMs = 1;
    struct timespec ts;
    ts.tv_sec = (time_t)(ullMs / 1000);
    ts.tv_nsec = (long)(ullMs % 1000) * 1000000L;
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}
