// Conversion of the system's path texts into native paths.
#include "platform/path.h"

#include <cerrno>
#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>
#include <vector>

int Pf_StrCaseEqual(const std::string& strA, const std::string& strB)
{
    return strA.size() == strB.size() && strcasecmp(strA.c_str(), strB.c_str()) == 0;
}

// Finds the component cszName inside the existing folder strDir: the exact
// name when it exists, else the one entry that matches without case.
static std::string _ResolveComponent(const std::string& strDir, const std::string& strName)
{
    if (strName == "." || strName == "..")
        return strName;
    std::string strFull = strDir.empty() ? strName : (strDir == "/" ? "/" + strName : strDir + "/" + strName);
    struct stat st;
    if (lstat(strFull.c_str(), &st) == 0)
        return strName;
    DIR* pDir = opendir(strDir.empty() ? "." : strDir.c_str());
    if (!pDir)
        return strName;
    std::string strMatch;
    int nMatches = 0;
    while (struct dirent* pEntry = readdir(pDir)) {
        if (strcasecmp(pEntry->d_name, strName.c_str()) == 0) {
            strMatch = pEntry->d_name;
            ++nMatches;
        }
    }
    closedir(pDir);
    return nMatches == 1 ? strMatch : strName;
}

int Pf_NativePath(const std::string& strPath, std::string* pstrRetPath)
{
    if (strPath.size() >= 2 && strPath[1] == ':') {
        errno = EINVAL;
        return 0;
    }
    bool bAbsolute = !strPath.empty() && Pf_IsSeparator(strPath[0]);
    bool bTrailing = !strPath.empty() && Pf_IsSeparator(strPath.back());
    std::vector<std::string> vecParts;
    std::string strPart;
    for (char c : strPath) {
        if (Pf_IsSeparator(c)) {
            if (!strPart.empty())
                vecParts.push_back(strPart);
            strPart.clear();
        } else {
            strPart += c;
        }
    }
    if (!strPart.empty())
        vecParts.push_back(strPart);

    std::string strResult = bAbsolute ? "/" : "";
    bool bExisting = true;
    for (size_t i = 0; i < vecParts.size(); ++i) {
        std::string strName = bExisting ? _ResolveComponent(strResult, vecParts[i]) : vecParts[i];
        std::string strNext;
        if (strResult.empty())
            strNext = strName;
        else if (strResult == "/")
            strNext = "/" + strName;
        else
            strNext = strResult + "/" + strName;
        if (bExisting) {
            struct stat st;
            bExisting = lstat(strNext.c_str(), &st) == 0;
        }
        strResult = strNext;
    }
    if (bTrailing && !strResult.empty() && strResult != "/")
        strResult += '/';
    *pstrRetPath = strResult;
    return 1;
}

std::string Pf_Native(const std::string& strPath)
{
    std::string strResult;
    if (!Pf_NativePath(strPath, &strResult))
        return std::string();
    return strResult;
}

std::string Pf_WithSeparator(const std::string& strPath, char cSeparator)
{
    if (strPath.empty() || Pf_IsSeparator(strPath.back()))
        return strPath;
    return strPath + cSeparator;
}
