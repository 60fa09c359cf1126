// A crash seam for the tests of the single-file package code: every step that
// changes a file first passes a kill point. When the environment variable
// RV_PACKAGE_KILL_STEP holds a number N above 0, the N-th kill point passed
// in this process kills it with SIGKILL. Unset, a kill point does nothing.
#pragma once

#define RVPK_KILL_STEP_VARIABLE "RV_PACKAGE_KILL_STEP"

void RvPack_KillPoint();
