// Time: the 32-bit millisecond tick, the 64-bit monotonic clock, the local
// wall-clock time, and sleeps.
#pragma once
#include <cstdint>

// Milliseconds since an arbitrary start; wraps after 49.7 days.
uint32_t Pf_GetTickCount();
// Milliseconds since an arbitrary start; never wraps.
uint64_t Pf_GetMonotonicMs();

struct Pf_SYSTEMTIME {
    int nYear;      // four digits
    int nMonth;     // 1 to 12
    int nDay;       // 1 to 31
    int nHour;
    int nMinute;
    int nSecond;
    int nMilliseconds;
};
// The local time now. Tests may replace the clock (Pf_SetLocalTimeHook).
void Pf_GetLocalTime(Pf_SYSTEMTIME* pTime);
// Seconds since 1970 UTC now (the same clock as Pf_GetLocalTime).
int64_t Pf_GetUnixTime();
typedef void (*Pf_LocalTimeHook)(Pf_SYSTEMTIME* pTime);
void Pf_SetLocalTimeHook(Pf_LocalTimeHook pfnHook);

// Sleeps for the given milliseconds; under RV_SIM_ROOT the fact
// "sleep_divisor" shortens every sleep by that factor.
void Pf_Sleep(uint32_t uMilliseconds);
