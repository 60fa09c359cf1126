// Names inside patch archives.
#include "app/patch_extractor_names.h"

#include "foundation/log.h"
#include "platform/number.h"
#include "platform/path.h"

#include <climits>
#include <cstdio>
#include <cstring>

bool Rv_EndsWithNoCase(const std::string& strName, const char* cszSuffix, size_t uMinLength)
{
    size_t uSuffixLen = strlen(cszSuffix);
    if (strName.size() < uMinLength || strName.size() < uSuffixLen)
        return false;
    return Pf_StrCaseEqual(strName.substr(strName.size() - uSuffixLen), cszSuffix);
}

bool Rv_BeginsWithNoCase(const std::string& strName, const char* cszPrefix)
{
    size_t uPrefixLen = strlen(cszPrefix);
    return strName.size() >= uPrefixLen && Pf_StrCaseEqual(strName.substr(0, uPrefixLen), cszPrefix);
}

int Rv_GetPatchRelativeName(const ZipEntry& Entry, std::string* pstrRetRelativeName)
{
    std::string strName = Entry.name;
    if (Entry.attr & ZIP_ATTR_DIRECTORY)
        return 0;
    if (!Rv_BeginsWithNoCase(strName, "updatepack/"))
        return 0;
    *pstrRetRelativeName = strName.substr(11);
    return !pstrRetRelativeName->empty();
}

int Rv_IsSafeRelativeItemName(const std::string& strName)
{
    size_t uStart = 0;
    if (strName.empty() || strName.find(':') != std::string::npos)
        return 0;
    for (;;) {
        size_t uEnd = strName.find_first_of("\\/", uStart);
        std::string strPart = strName.substr(uStart, uEnd == std::string::npos ? std::string::npos : uEnd - uStart);
        if (strPart.empty() || strPart == "." || strPart == "..")
            return 0;
        if (uEnd == std::string::npos)
            return 1;
        uStart = uEnd + 1;
    }
}

int Rv_GetLinkListVersions(const std::string& strRelativeName, uint32_t* puRetFrom, uint32_t* puRetTo)
{
    int nResult = 0;
    size_t uSplit = strRelativeName.find_last_of("\\/");
    std::string strFileName = strRelativeName.substr(uSplit == std::string::npos ? 0 : uSplit + 1);
    size_t uDash = strFileName.rfind('-');

    RVLOG_PROCESS_ERROR(uDash != std::string::npos);
    *puRetFrom = (uint32_t)Pf_AtoI(strFileName.substr(0, uDash));
    *puRetTo = (uint32_t)Pf_AtoI(strFileName.substr(uDash + 1));
    nResult = 1;
Exit0:
    return nResult;
}

int Rv_GetNextPackageName(const std::string& strName, std::string* pstrRetNext)
{
    int nResult = 0;
    int nRetCode = 0;
    int nIndex = 0;
    char szPakIndex[64];
    size_t uSlashIndex = strName.rfind('_');

    RVLOG_PROCESS_ERROR(uSlashIndex != std::string::npos && "nSlashIndex != (int)tstring::npos");
    nIndex = Pf_AtoI(strName.c_str() + uSlashIndex + 1);
    RVLOG_PROCESS_ERROR(nIndex < INT_MAX);
    nRetCode = snprintf(szPakIndex, sizeof(szPakIndex), "%d", nIndex + 1);
    RVLOG_PROCESS_ERROR(nRetCode > 0);
    RVLOG_PROCESS_ERROR(nRetCode < (int)sizeof(szPakIndex));
    *pstrRetNext = strName.substr(0, uSlashIndex + 1) + szPakIndex + ".pak";
    nResult = 1;
Exit0:
    if (!nResult)
        RvLog_Write(RVLOG_ERROR, "Failed to get next package name of `%s`", strName.c_str());
    return nResult;
}
