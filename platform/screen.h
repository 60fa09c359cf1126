// The primary screen as the updater's window asks about it: size in pixels
// and colour depth. There is no display here; under RV_SIM_ROOT the facts
// "screen_size" ("1920x1080") and "screen_bits" ("16") answer, otherwise a
// 1920 by 1080 screen of 32 bits per pixel.
#pragma once

struct Pf_ScreenInfo {
    int nWidth;
    int nHeight;
    int nBitsPerPixel;
};

int Pf_GetScreenInfo(Pf_ScreenInfo* pRetInfo);
