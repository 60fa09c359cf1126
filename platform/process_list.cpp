// Enumerating processes and their image paths through /proc.
#include "platform/process_list.h"

#include "platform/file.h"
#include "platform/path.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char s_szDeletedSuffix[] = " (deleted)";

// The target of a link, or "" when it cannot be read.
std::string _ReadLink(const std::string& strLink)
{
    std::string strBuffer(256, '\0');
    for (;;) {
        ssize_t nLen = readlink(strLink.c_str(), &strBuffer[0], strBuffer.size());
        if (nLen < 0)
            return "";
        if ((size_t)nLen < strBuffer.size()) {
            strBuffer.resize((size_t)nLen);
            return strBuffer;
        }
        if (strBuffer.size() >= (1u << 16))
            return "";
        strBuffer.resize(strBuffer.size() * 2);
    }
}

// An image whose file was replaced or removed keeps its path: the kernel
// marks it with a suffix that is dropped here.
std::string _ImageOfLink(std::string strTarget)
{
    size_t uSuffix = sizeof(s_szDeletedSuffix) - 1;
    struct stat st;
    if (strTarget.size() > uSuffix && strTarget.compare(strTarget.size() - uSuffix, uSuffix, s_szDeletedSuffix) == 0 &&
        lstat(strTarget.c_str(), &st) != 0)
        strTarget.resize(strTarget.size() - uSuffix);
    return strTarget;
}

}  // namespace

int Pf_GetProcessImagePath(uint32_t uProcessId, std::string* pstrRetImagePath)
{
    std::string strTarget = _ReadLink("/proc/" + std::to_string(uProcessId) + "/exe");
    if (strTarget.empty())
        return 0;
    *pstrRetImagePath = _ImageOfLink(strTarget);
    return 1;
}

int Pf_ListProcesses(std::vector<Pf_ProcessEntry>* pvecRetProcesses)
{
    DIR* pDir = opendir("/proc");
    if (!pDir)
        return 0;
    std::vector<Pf_ProcessEntry> vecProcesses;
    int nResult = 1;
    for (;;) {
        errno = 0;
        struct dirent* pEntry = readdir(pDir);
        if (!pEntry) {
            nResult = errno == 0;
            break;
        }
        char* pszEnd = nullptr;
        unsigned long ulPid = strtoul(pEntry->d_name, &pszEnd, 10);
        if (pEntry->d_name[0] < '0' || pEntry->d_name[0] > '9' || *pszEnd || ulPid == 0 || ulPid > UINT32_MAX)
            continue;
        Pf_ProcessEntry process{(uint32_t)ulPid, ""};
        if (!Pf_GetProcessImagePath(process.uProcessId, &process.strImagePath))
            continue;
        vecProcesses.push_back(std::move(process));
    }
    int nError = errno;
    closedir(pDir);
    if (!nResult) {
        errno = nError;
        return 0;
    }
    pvecRetProcesses->swap(vecProcesses);
    return 1;
}

std::string Pf_ImagePathOf(const std::string& strPath)
{
    std::string strNative;
    if (!Pf_NativePath(strPath, &strNative) || strNative.empty())
        return strPath;
    char* pszReal = realpath(strNative.c_str(), nullptr);
    if (pszReal) {
        std::string strReal = pszReal;
        free(pszReal);
        return strReal;
    }
    if (strNative[0] != '/') {
        std::string strCurrent;
        if (Pf_GetCurrentDir(&strCurrent))
            strNative = strCurrent + "/" + strNative;
    }
    return strNative;
}
