// The simulated machine: facts read from the files under RV_SIM_ROOT.
#include "platform/sim.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

std::string Pf_SimRoot()
{
    const char* cszRoot = getenv("RV_SIM_ROOT");
    if (!cszRoot || !*cszRoot)
        return std::string();
    std::string strRoot = cszRoot;
    if (strRoot.back() != '/')
        strRoot += '/';
    return strRoot;
}

std::string Pf_SimPath(const char* cszName)
{
    std::string strRoot = Pf_SimRoot();
    if (strRoot.empty())
        return strRoot;
    return strRoot + cszName;
}

int Pf_SimRead(const char* cszName, std::string* pstrRetValue)
{
    std::string strPath = Pf_SimPath(cszName);
    if (strPath.empty())
        return 0;
    int nFd = open(strPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (nFd < 0)
        return 0;
    std::string strText;
    char szBuf[4096];
    for (;;) {
        ssize_t nRead = read(nFd, szBuf, sizeof(szBuf));
        if (nRead < 0 && errno == EINTR)
            continue;
        if (nRead <= 0)
            break;
        strText.append(szBuf, (size_t)nRead);
    }
    close(nFd);
    size_t uBegin = strText.find_first_not_of(" \t\r\n");
    size_t uEnd = strText.find_last_not_of(" \t\r\n");
    *pstrRetValue = (uBegin == std::string::npos) ? std::string() : strText.substr(uBegin, uEnd - uBegin + 1);
    return 1;
}

int Pf_SimReadU64(const char* cszName, uint64_t* pullRetValue)
{
    std::string strValue;
    if (!Pf_SimRead(cszName, &strValue) || strValue.empty())
        return 0;
    uint64_t ullValue = 0;
    for (char c : strValue) {
        if (c < '0' || c > '9')
            return 0;
        uint64_t ullNext = ullValue * 10 + (uint64_t)(c - '0');
        if (ullNext / 10 != ullValue)
            return 0;
        ullValue = ullNext;
    }
    *pullRetValue = ullValue;
    return 1;
}

void Pf_SimAppendLine(const char* cszName, const std::string& strLine)
{
    std::string strPath = Pf_SimPath(cszName);
    if (strPath.empty())
        return;
    int nFd = open(strPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (nFd < 0)
        return;
    flock(nFd, LOCK_EX);
    std::string strText = strLine + "\n";
    ssize_t nDone = write(nFd, strText.data(), strText.size());
    (void)nDone;
    flock(nFd, LOCK_UN);
    close(nFd);
}
