// The primary screen's size and colour depth (see screen.h).
#include "platform/screen.h"

#include <cstdio>
#include <string>

#include "platform/sim.h"

int Pf_GetScreenInfo(Pf_ScreenInfo* pRetInfo)
{
    std::string strValue;
    uint64_t ullBits = 0;
    int nWidth = 0;
    int nHeight = 0;
    char cEnd = 0;

    if (!pRetInfo)
        return 0;
    pRetInfo->nWidth = 1920;
    pRetInfo->nHeight = 1080;
    pRetInfo->nBitsPerPixel = 32;

    if (Pf_SimRead("screen_size", &strValue)) {
        if (sscanf(strValue.c_str(), "%dx%d%c", &nWidth, &nHeight, &cEnd) != 2 || nWidth <= 0 || nHeight <= 0)
            return 0;
        pRetInfo->nWidth = nWidth;
        pRetInfo->nHeight = nHeight;
    }
    if (Pf_SimRead("screen_bits", &strValue)) {
        if (!Pf_SimReadU64("screen_bits", &ullBits) || ullBits == 0 || ullBits > 64)
            return 0;
        pRetInfo->nBitsPerPixel = (int)ullBits;
    }
    return 1;
}
