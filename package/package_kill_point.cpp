// The crash seam of the single-file package code (see package_kill_point.h).
#include "package/package_kill_point.h"

#include <atomic>
#include <cstdlib>

#include "platform/self_kill.h"

void RvPack_KillPoint()
{
    static std::atomic<unsigned long> s_ulPassed {0};
    const char* cszStep = getenv(RVPK_KILL_STEP_VARIABLE);
    char* pszEnd = nullptr;
    unsigned long ulStep = 0;

    if (!cszStep || !*cszStep)
        return;
    ulStep = strtoul(cszStep, &pszEnd, 10);
    if (*pszEnd || ulStep == 0)
        return;
    if (++s_ulPassed == ulStep)
        Pf_KillSelf();
}
