// Parsing and comparing five-part version numbers.
#include "foundation/version_number.h"

#include "foundation/log.h"
#include "platform/number.h"

#include <cstring>

int Rv_VersionNumber::ParseString(const char* cszVersionNumber)
{
    int nResult = 0;
    char szBuffer[256];
    const char* cszSeparator = nullptr;
    char* pszPiece = nullptr;
    int nPart = 0;

    memset(uPart, 0, sizeof(uPart));
    RVLOG_PROCESS_ERROR(cszVersionNumber && cszVersionNumber[0]);
    RVLOG_PROCESS_ERROR(strlen(cszVersionNumber) < sizeof(szBuffer));
    strcpy(szBuffer, cszVersionNumber);

    for (const char* cszCandidate : {".", "-", ","}) {
        if (strstr(szBuffer, cszCandidate)) {
            cszSeparator = cszCandidate;
            break;
        }
    }
    RVLOG_PROCESS_ERROR(cszSeparator);

    pszPiece = szBuffer;
    while (nPart < 5) {
        char* pszNext = strchr(pszPiece, cszSeparator[0]);
        if (pszNext)
            *pszNext = '\0';
        // A negative piece wraps to a large unsigned value, as the runtime does.
        uPart[nPart++] = (uint32_t)Pf_AtoI(pszPiece);
        if (!pszNext)
            break;
        pszPiece = pszNext + 1;
    }

    nResult = 1;
Exit0:
    if (!nResult) {
        memset(uPart, 0, sizeof(uPart));
        RvLog_Write(RVLOG_DEBUG, "Failed to parse the version number: %s", cszVersionNumber ? cszVersionNumber : "");
    }
    return nResult;
}

// -1, 0 or 1 as a is below, equal to or above b.
static int _Compare(const Rv_VersionNumber& a, const Rv_VersionNumber& b)
{
    for (int i = 0; i < 5; ++i) {
        if (a.uPart[i] != b.uPart[i])
            return a.uPart[i] < b.uPart[i] ? -1 : 1;
    }
    return 0;
}

bool operator==(const Rv_VersionNumber& a, const Rv_VersionNumber& b) { return _Compare(a, b) == 0; }
bool operator!=(const Rv_VersionNumber& a, const Rv_VersionNumber& b) { return _Compare(a, b) != 0; }
bool operator<(const Rv_VersionNumber& a, const Rv_VersionNumber& b) { return _Compare(a, b) < 0; }
bool operator>(const Rv_VersionNumber& a, const Rv_VersionNumber& b) { return _Compare(a, b) > 0; }
bool operator<=(const Rv_VersionNumber& a, const Rv_VersionNumber& b) { return _Compare(a, b) <= 0; }
bool operator>=(const Rv_VersionNumber& a, const Rv_VersionNumber& b) { return _Compare(a, b) >= 0; }
