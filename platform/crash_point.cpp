// Crash points over POSIX signals.
#include "platform/crash_point.h"
#include "platform/self_kill.h"

#include <cstdlib>

volatile int g_nPfCrashPointArmed = 0;
static uint64_t s_ullKillAtStep = 0;
static uint64_t s_ullStepCount = 0;

void Pf_CrashPointReached()
{
    ++s_ullStepCount;
    if (s_ullKillAtStep != 0 && s_ullStepCount >= s_ullKillAtStep)
        Pf_KillSelf();
}

void Pf_ArmCrashPoint(uint64_t uStep)
{
    s_ullKillAtStep = uStep;
    s_ullStepCount = 0;
    g_nPfCrashPointArmed = 1;
}

uint64_t Pf_CrashPointCount()
{
    return s_ullStepCount;
}

namespace {
struct Pf_CrashPointFromEnvironment {
    Pf_CrashPointFromEnvironment()
    {
        const char* cszStep = getenv("RV_CRASH_AT_STEP");
        if (cszStep && *cszStep)
            Pf_ArmCrashPoint(strtoull(cszStep, nullptr, 10));
    }
} s_CrashPointFromEnvironment;
}
