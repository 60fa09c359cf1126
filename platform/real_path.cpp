// Path resolution with realpath for the existing part of a path.
#include "platform/real_path.h"

#include "platform/file.h"
#include "platform/path.h"

#include <climits>
#include <cstdlib>
#include <sys/stat.h>
#include <vector>

namespace {

// Splits "a/b/../c" into its names.
std::vector<std::string> _SplitNames(const std::string& strPath)
{
    std::vector<std::string> vecNames;
    size_t uPos = 0;
    while (uPos <= strPath.size()) {
        size_t uEnd = strPath.find('/', uPos);
        if (uEnd == std::string::npos)
            uEnd = strPath.size();
        if (uEnd > uPos)
            vecNames.push_back(strPath.substr(uPos, uEnd - uPos));
        uPos = uEnd + 1;
    }
    return vecNames;
}

}  // namespace

int Pf_ResolvePath(const std::string& strPath, std::string* pstrRetPath)
{
    std::string strNative;
    std::string strCurrent;
    if (!pstrRetPath || strPath.empty() || !Pf_NativePath(strPath, &strNative) || strNative.empty())
        return 0;
    if (strNative[0] != '/') {
        if (!Pf_GetCurrentDir(&strCurrent))
            return 0;
        strNative = strCurrent + "/" + strNative;
    }
    // The longest existing head is resolved by the system, the rest by name.
    std::vector<std::string> vecNames = _SplitNames(strNative);
    std::string strResolved = "/";
    size_t uIndex = 0;
    for (size_t uHead = vecNames.size() + 1; uHead-- > 0;) {
        std::string strHead;
        for (size_t i = 0; i < uHead; ++i)
            strHead += "/" + vecNames[i];
        if (strHead.empty())
            strHead = "/";
        char szReal[PATH_MAX];
        if (realpath(strHead.c_str(), szReal)) {
            strResolved = szReal;
            uIndex = uHead;
            break;
        }
    }
    for (; uIndex < vecNames.size(); ++uIndex) {
        const std::string& strName = vecNames[uIndex];
        if (strName == ".")
            continue;
        if (strName == "..")
            return 0;   // it could lead back into an existing link
        if (strResolved.back() != '/')
            strResolved += "/";
        strResolved += strName;
    }
    *pstrRetPath = strResolved;
    return 1;
}

int Pf_IsPathInside(const std::string& strPath, const std::string& strFolder)
{
    std::string strRealPath;
    std::string strRealFolder;
    if (!Pf_ResolvePath(strPath, &strRealPath) || !Pf_ResolvePath(strFolder, &strRealFolder))
        return 0;
    if (strRealFolder.back() != '/')
        strRealFolder += "/";
    return strRealPath.size() > strRealFolder.size() && strRealPath.compare(0, strRealFolder.size(), strRealFolder) == 0;
}

int Pf_IsLink(const std::string& strPath)
{
    std::string strNative;
    struct stat st;
    if (!Pf_NativePath(strPath, &strNative))
        return 0;
    while (strNative.size() > 1 && strNative.back() == '/')
        strNative.pop_back();
    return lstat(strNative.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}
