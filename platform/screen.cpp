// The primary screen's size and colour depth (see screen.h).
#include "platform/screen.h"

#include "platform/file.h"
#include "platform/sim.h"
#include "platform/system_probe.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// "1920x1080" (a mode line may go on after the height, as "1920x1080i" does).
int _ParseSize(const std::string& strText, int bExact, int* pnRetWidth, int* pnRetHeight)
{
    int nWidth = 0;
    int nHeight = 0;
    char cEnd = 0;
    int nRead = sscanf(strText.c_str(), "%dx%d%c", &nWidth, &nHeight, &cEnd);
    if (nRead < 2 || (bExact && nRead != 2) || nWidth <= 0 || nHeight <= 0)
        return 0;
    *pnRetWidth = nWidth;
    *pnRetHeight = nHeight;
    return 1;
}

// The first mode of the first connected connector.
int _ReadDrmSize(int* pnRetWidth, int* pnRetHeight)
{
    const std::string strClass = Pf_ProbePath("/sys/class/drm");
    std::vector<Pf_DirEntry> vecEntries;
    std::vector<std::string> vecNames;
    if (!Pf_ListDir(strClass, &vecEntries))
        return 0;
    for (const Pf_DirEntry& entry : vecEntries) {
        // Connectors are "card<N>-<kind>-<N>"; cards, render nodes and "version" are not.
        if (entry.strName.compare(0, 4, "card") == 0 && entry.strName.find('-') != std::string::npos)
            vecNames.push_back(entry.strName);
    }
    std::sort(vecNames.begin(), vecNames.end());
    for (const std::string& strName : vecNames) {
        std::string strStatus;
        std::string strModes;
        if (!Pf_ReadWholeFileAtMost(strClass + "/" + strName + "/status", 256, &strStatus) ||
            strStatus.compare(0, 9, "connected") != 0)
            continue;
        if (!Pf_ReadWholeFileAtMost(strClass + "/" + strName + "/modes", 64 * 1024, &strModes))
            continue;
        if (_ParseSize(strModes.substr(0, strModes.find('\n')), 0, pnRetWidth, pnRetHeight))
            return 1;
    }
    return 0;
}

} // namespace

int Pf_GetScreenSize(int* pnRetWidth, int* pnRetHeight)
{
    std::string strValue;
    if (!pnRetWidth || !pnRetHeight) {
        errno = EINVAL;
        return 0;
    }
    if (Pf_SimRead("screen_size", &strValue)) {
        if (_ParseSize(strValue, 1, pnRetWidth, pnRetHeight))
            return 1;
        errno = EINVAL;
        return 0;
    }
    if (_ReadDrmSize(pnRetWidth, pnRetHeight))
        return 1;
    errno = ENODEV;
    return 0;
}

int Pf_GetScreenInfo(Pf_ScreenInfo* pRetInfo)
{
    std::string strValue;
    uint64_t ullBits = 0;
    int nWidth = 0;
    int nHeight = 0;

    if (!pRetInfo)
        return 0;
    pRetInfo->nWidth = 1920;
    pRetInfo->nHeight = 1080;
    pRetInfo->nBitsPerPixel = 32;

    if (Pf_GetScreenSize(&nWidth, &nHeight)) {
        pRetInfo->nWidth = nWidth;
        pRetInfo->nHeight = nHeight;
    } else if (errno != ENODEV) {
        return 0;
    }
    if (Pf_SimRead("screen_bits", &strValue)) {
        if (!Pf_SimReadU64("screen_bits", &ullBits) || ullBits == 0 || ullBits > 64)
            return 0;
        pRetInfo->nBitsPerPixel = (int)ullBits;
    }
    return 1;
}
