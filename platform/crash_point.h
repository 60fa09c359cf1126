// Crash points: a test seam for kill-at-every-step tests. Code that changes
// files calls Pf_CrashPoint() before each change. When the environment
// variable RV_CRASH_AT_STEP holds k > 0 at start-up (or a test arms it with
// Pf_ArmCrashPoint), the k-th crash point kills the process with SIGKILL, so
// the change it precedes never happens. Unarmed, a crash point is one load.
#pragma once
#include <cstdint>

extern volatile int g_nPfCrashPointArmed;
void Pf_CrashPointReached();

inline void Pf_CrashPoint()
{
    if (g_nPfCrashPointArmed)
        Pf_CrashPointReached();
}

// Arms the seam: the uStep-th crash point from now kills the process; 0
// disarms it and only counts.
void Pf_ArmCrashPoint(uint64_t uStep);
// Crash points passed since start-up or since the last arming.
uint64_t Pf_CrashPointCount();
