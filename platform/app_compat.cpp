// Compatibility layers kept in the registry store; the cache flush recorded.
#include "platform/app_compat.h"

#include "platform/sim.h"

const char g_cszPfAppCompatLayersKey[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\Layers";

long Pf_CreateAppCompatLayersKey(Pf_RegKey* pKey)
{
    if (!pKey)
        return ERROR_INVALID_PARAMETER;
    return pKey->Create(PF_HKEY_LOCAL_MACHINE, g_cszPfAppCompatLayersKey);
}

int Pf_StartAppCompatCacheFlush()
{
    Pf_SimAppendLine("started_commands", "Rundll32 apphelp.dll,ShimFlushCache");
    return 1;
}
