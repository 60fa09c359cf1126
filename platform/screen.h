// The primary screen as the updater asks about it: size in pixels and colour
// depth.
//
// The size is that of the first connected display: the first mode of the
// first connector (in name order) under /sys/class/drm (under the probe
// root, platform/system_probe.h) whose status is "connected". Under
// RV_SIM_ROOT the facts "screen_size" ("1920x1080") and "screen_bits" ("16")
// answer; the depth is otherwise 32 bits per pixel.
#pragma once

struct Pf_ScreenInfo {
    int nWidth;
    int nHeight;
    int nBitsPerPixel;
};

// The size of the connected display. Fails (errno ENODEV) when there is none.
int Pf_GetScreenSize(int* pnRetWidth, int* pnRetHeight);
// Size and depth for placing a window: without a connected display the size
// is a 1920 by 1080 screen's, so a window is still placed somewhere sensible.
int Pf_GetScreenInfo(Pf_ScreenInfo* pRetInfo);
