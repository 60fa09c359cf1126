// Reading the version stamp block out of an executable file.
#include "platform/version_info.h"
#include "platform/file.h"
#include "platform/path.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

static const unsigned s_uMarkerLen = 11;
static const unsigned s_uMaxPayload = 65536;

// The marker is assembled at run time so that this reader's own code holds no
// copy of it that a scan of its own executable could find.
static std::string _Marker()
{
    static const char s_szScrambled[] = "\x7e" "SWWDSRHNO0";
    std::string strMarker;
    for (unsigned i = 0; i < s_uMarkerLen; ++i)
        strMarker += (char)(s_szScrambled[i] ^ 0x01);
    return strMarker;
}

// A payload is valid when it is a list of key/value pairs ending in "\0\0".
static int _IsValidPayload(const char* pcData, size_t uSize)
{
    if (uSize < 2 || pcData[uSize - 1] != '\0' || pcData[uSize - 2] != '\0')
        return 0;
    size_t uPos = 0;
    int nStrings = 0;
    while (uPos < uSize - 1) {
        size_t uLen = strnlen(pcData + uPos, uSize - uPos);
        if (uLen == 0)
            return 0;
        uPos += uLen + 1;
        ++nStrings;
    }
    return nStrings > 0 && (nStrings % 2) == 0;
}

int Pf_GetFileVersionInfo(const std::string& strPath, std::string* pstrRetBlock)
{
    int nFd = Pf_Open(strPath, O_RDONLY);
    if (nFd < 0)
        return 0;
    const std::string strMarker = _Marker();
    const size_t uChunk = 1 << 20;
    std::vector<char> vecBuf(uChunk + s_uMarkerLen + 4 + s_uMaxPayload);
    size_t uHave = 0;
    off_t llBase = 0;    // file offset of vecBuf[0]
    int nResult = 0;
    for (;;) {
        ssize_t nRead = pread(nFd, vecBuf.data() + uHave, vecBuf.size() - uHave, llBase + (off_t)uHave);
        if (nRead < 0 && errno == EINTR)
            continue;
        if (nRead < 0)
            break;
        uHave += (size_t)nRead;
        bool bEnd = nRead == 0 || uHave < vecBuf.size();
        // Every start position before the next chunk's is tried here; the
        // buffer holds a whole stamp behind each of them.
        size_t uScanEnd = bEnd ? uHave : uChunk;
        for (size_t i = 0; i < uScanEnd && i + s_uMarkerLen <= uHave; ++i) {
            if (vecBuf[i] != strMarker[0] || memcmp(vecBuf.data() + i, strMarker.data(), s_uMarkerLen) != 0)
                continue;
            if (i + s_uMarkerLen + 4 > uHave)
                continue;
            const unsigned char* pbyLen = (const unsigned char*)vecBuf.data() + i + s_uMarkerLen;
            size_t uPayload = pbyLen[0] | (pbyLen[1] << 8) | ((size_t)pbyLen[2] << 16) | ((size_t)pbyLen[3] << 24);
            size_t uStart = i + s_uMarkerLen + 4;
            if (uPayload > s_uMaxPayload || uStart + uPayload > uHave)
                continue;
            if (!_IsValidPayload(vecBuf.data() + uStart, uPayload))
                continue;
            pstrRetBlock->assign(vecBuf.data() + uStart, uPayload);
            nResult = 1;
            break;
        }
        if (nResult || bEnd)
            break;
        // Keep the tail that may hold a marker and its payload.
        size_t uKeep = uHave - uChunk;
        memmove(vecBuf.data(), vecBuf.data() + uChunk, uKeep);
        llBase += (off_t)uChunk;
        uHave = uKeep;
    }
    close(nFd);
    if (!nResult)
        errno = ENODATA;
    return nResult;
}

unsigned Pf_GetFileVersionInfoSize(const std::string& strPath)
{
    std::string strBlock;
    if (!Pf_GetFileVersionInfo(strPath, &strBlock))
        return 0;
    return (unsigned)strBlock.size();
}

int Pf_VerQueryValue(const std::string& strBlock, const std::string& strKey, std::string* pstrRetValue)
{
    size_t uPos = 0;
    while (uPos < strBlock.size()) {
        std::string strThisKey = strBlock.c_str() + uPos;
        if (strThisKey.empty())
            break;
        uPos += strThisKey.size() + 1;
        if (uPos >= strBlock.size())
            break;
        std::string strValue = strBlock.c_str() + uPos;
        uPos += strValue.size() + 1;
        if (Pf_StrCaseEqual(strThisKey, strKey)) {
            *pstrRetValue = strValue;
            return 1;
        }
    }
    errno = ENODATA;
    return 0;
}

int Pf_VerQueryTranslation(const std::string& strBlock, unsigned* puRetLanguage, unsigned* puRetCodePage)
{
    std::string strValue;
    if (!Pf_VerQueryValue(strBlock, "\\VarFileInfo\\Translation", &strValue) || strValue.size() != 8)
        return 0;
    for (char c : strValue) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')))
            return 0;
    }
    unsigned long ulValue = strtoul(strValue.c_str(), nullptr, 16);
    *puRetLanguage = (unsigned)(ulValue >> 16);
    *puRetCodePage = (unsigned)(ulValue & 0xFFFF);
    return 1;
}
