// The application-compatibility settings of the system: the layers given to
// programs by their full path, and the flush of the cache that holds them.
#pragma once
#include "platform/registry.h"

// HKEY_LOCAL_MACHINE key of the layers, one REG_SZ value per program.
extern const char g_cszPfAppCompatLayersKey[];

// Opens the layers key in the 64-bit view with read and write access,
// creating it when missing. The store keeps one view, which is the 64-bit one.
long Pf_CreateAppCompatLayersKey(Pf_RegKey* pKey);

// Starts "Rundll32 apphelp.dll,ShimFlushCache" without waiting for it. This
// system keeps no such cache, so the start is only recorded: under
// RV_SIM_ROOT as a line of the transcript "started_commands".
int Pf_StartAppCompatCacheFlush();
