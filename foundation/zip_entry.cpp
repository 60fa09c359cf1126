// Item names, attributes and extended times of zip directory entries.
#include "foundation/zip_entry.h"

#include "foundation/zip.h"

#include <cstring>

namespace {

inline bool _IsSep(char c)
{
    return c == '\\' || c == '/';
}

// Drops the first uCount characters of szName.
void _DropFront(char* szName, size_t uCount)
{
    memmove(szName, szName + uCount, strlen(szName + uCount) + 1);
}

// One step of the rules; false when none applies.
bool _RelativeStep(char* szName)
{
    if (szName[0] && szName[1] == ':') {
        _DropFront(szName, 2);
        return true;
    }
    if (_IsSep(szName[0])) {
        _DropFront(szName, 1);
        return true;
    }
    static const char* const s_aszUpSteps[] = {"\\..\\", "\\../", "/../", "/..\\"};
    for (const char* cszStep : s_aszUpSteps) {
        const char* pcFound = strstr(szName, cszStep);
        if (pcFound) {
            _DropFront(szName, (size_t)(pcFound - szName) + 4);
            return true;
        }
    }
    // A name that still climbs out: "../x", "..\x", and a bare "..".
    if (szName[0] == '.' && szName[1] == '.' && _IsSep(szName[2])) {
        _DropFront(szName, 3);
        return true;
    }
    if (strcmp(szName, "..") == 0) {
        szName[0] = '\0';
        return true;
    }
    return false;
}

inline uint32_t _LE16(const unsigned char* pby)
{
    return (uint32_t)pby[0] | ((uint32_t)pby[1] << 8);
}

} // namespace

void ZipMakeRelativeName(char* szName)
{
    while (_RelativeStep(szName)) {
    }
}

uint32_t ZipAttributes(uint32_t uVersionMadeBy, uint32_t uExternalAttributes)
{
    uint32_t uHost = (uVersionMadeBy >> 8) & 0xFF;
    if (uHost == 0 || uHost == 7 || uHost == 11 || uHost == 14) {
        // MS-DOS, Macintosh, NTFS, VFAT: the low byte holds the DOS attributes.
        return uExternalAttributes & (ZIP_ATTR_READONLY | ZIP_ATTR_HIDDEN | ZIP_ATTR_SYSTEM | ZIP_ATTR_DIRECTORY |
                                      ZIP_ATTR_ARCHIVE);
    }
    // Unix-like hosts: the mode in the high 16 bits.
    uint32_t uAttr = ZIP_ATTR_ARCHIVE;
    if (uExternalAttributes & 0x40000000u)
        uAttr |= ZIP_ATTR_DIRECTORY;
    if (!(uExternalAttributes & 0x00800000u))
        uAttr |= ZIP_ATTR_READONLY;
    return uAttr;
}

int ZipReadUnixTimes(const unsigned char* pbyExtra, size_t uSize, Pf_FILETIME* pMTime, Pf_FILETIME* pATime,
                     Pf_FILETIME* pCTime)
{
    int nRead = 0;
    size_t uPos = 0;
    while (pbyExtra && uPos + 4 < uSize) {
        size_t uRecordSize = _LE16(pbyExtra + uPos + 2);
        if (pbyExtra[uPos] != 'U' || pbyExtra[uPos + 1] != 'T') {
            uPos += 4 + uRecordSize;
            continue;
        }
        size_t uEnd = uPos + 4 + uRecordSize;
        if (uEnd > uSize)
            uEnd = uSize;
        size_t uAt = uPos + 4;
        if (uAt < uEnd) {
            unsigned char byFlags = pbyExtra[uAt++];
            Pf_FILETIME* apTimes[3] = {pMTime, pATime, pCTime};
            for (int i = 0; i < 3; ++i) {
                if (!(byFlags & (1 << i)))
                    continue;
                if (uAt + 4 > uEnd)
                    break;
                int32_t nSeconds = (int32_t)(_LE16(pbyExtra + uAt) | (_LE16(pbyExtra + uAt + 2) << 16));
                *apTimes[i] = Pf_UnixToFileTime(nSeconds, 0);
                uAt += 4;
                ++nRead;
            }
        }
        break;
    }
    return nRead;
}
