// Conversion of the system's path texts into native paths.
#include "platform/path.h"

#include "platform/name_index.h"

#include <cctype>
#include <cerrno>
#include <strings.h>
#include <sys/stat.h>
#include <vector>

int Pf_StrCaseEqual(const std::string& strA, const std::string& strB)
{
    return strA.size() == strB.size() && strcasecmp(strA.c_str(), strB.c_str()) == 0;
}

uint64_t Pf_StrCaseHash(const std::string& str)
{
    // FNV-1a over the bytes folded as strcasecmp folds them.
    uint64_t ullHash = 1469598103934665603ULL;
    for (unsigned char c : str)
        ullHash = (ullHash ^ (unsigned char)tolower(c)) * 1099511628211ULL;
    return ullHash;
}

// Finds the component strName inside the existing folder strDir: the exact
// name when it exists, else the one entry that matches without case; sets
// *pbExists to whether the result names something that exists.
static std::string _ResolveComponent(const std::string& strDir, const std::string& strName, bool* pbExists)
{
    struct stat st;
    std::string strFull = Pf_JoinNativeName(strDir, strName);
    *pbExists = lstat(strFull.c_str(), &st) == 0;
    if (*pbExists || strName == "." || strName == "..")
        return strName;
    int nMatches = 0;
    std::string strMatch;
    if (!Pf_FindNameWithoutCase(strDir, nullptr, strName, &nMatches, &strMatch) || nMatches != 1)
        return strName;
    *pbExists = lstat(Pf_JoinNativeName(strDir, strMatch).c_str(), &st) == 0;
    return strMatch;
}

// The path spelled as written when it exists so, or when its folder exists
// so and only the last name needs a lookup without case (a new file in an
// existing folder); false when an earlier component needs one.
static bool _ResolveQuickly(const std::string& strWritten, const std::string& strFolder, const std::string& strLast,
                            std::string* pstrRetPath)
{
    struct stat st;
    if (lstat(strWritten.c_str(), &st) == 0) {
        *pstrRetPath = strWritten;
        return true;
    }
    if (errno != ENOENT || strLast == "." || strLast == "..")
        return false;
    if (stat(strFolder.empty() ? "." : strFolder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return false;
    int nMatches = 0;
    std::string strMatch;
    if (Pf_FindNameWithoutCase(strFolder, &st, strLast, &nMatches, &strMatch) && nMatches == 1)
        *pstrRetPath = Pf_JoinNativeName(strFolder, strMatch);
    else
        *pstrRetPath = strWritten;
    return true;
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
    if (!vecParts.empty()) {
        std::string strFolder = strResult;
        for (size_t i = 0; i + 1 < vecParts.size(); ++i)
            strFolder = Pf_JoinNativeName(strFolder, vecParts[i]);
        std::string strWritten = Pf_JoinNativeName(strFolder, vecParts.back());
        if (!_ResolveQuickly(strWritten, strFolder, vecParts.back(), &strResult)) {
            bool bExisting = true;
            for (const std::string& strName : vecParts) {
                std::string strFound = bExisting ? _ResolveComponent(strResult, strName, &bExisting) : strName;
                strResult = Pf_JoinNativeName(strResult, strFound);
            }
        }
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
