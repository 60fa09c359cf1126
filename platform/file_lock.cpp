// Exclusive locks on lock files (flock).
#include "platform/file_lock.h"

#include "platform/named_event.h"
#include "platform/path.h"
#include "platform/real_path.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

int Pf_FileLockPathFor(const std::string& strNativeFilePath, std::string* pstrRetLockPath)
{
    if (strNativeFilePath.empty() || strNativeFilePath.back() == '/') {
        errno = EINVAL;
        return 0;
    }
    // One lock for every spelling of the path: relative, through links, in
    // another case (the key folds case as the path rule does).
    std::string strAbsolute;
    if (!Pf_ResolvePath(strNativeFilePath, &strAbsolute))
        return 0;
    // The file's name (folded too) keeps the lock recognisable; the key
    // makes it the file's own.
    std::string strName = strAbsolute.substr(strAbsolute.find_last_of('/') + 1).substr(0, 64);
    for (char& c : strName)
        c = (char)tolower((unsigned char)c);
    char szKey[32];
    snprintf(szKey, sizeof(szKey), "%016llx", (unsigned long long)Pf_StrCaseHash(strAbsolute));
    return Pf_UserRuntimePath("filelock-" + strName + "-" + szKey + ".lock", pstrRetLockPath);
}

int Pf_FileLock::Lock(const std::string& strNativeLockPath)
{
    Unlock();
    int nFd = open(strNativeLockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (nFd < 0)
        return 0;
    while (flock(nFd, LOCK_EX) != 0) {
        if (errno == EINTR)
            continue;
        int nError = errno;
        close(nFd);
        errno = nError;
        return 0;
    }
    m_nFd = nFd;
    return 1;
}

int Pf_FileLock::LockFor(const std::string& strNativeFilePath)
{
    std::string strLockPath;
    Unlock();
    if (!Pf_FileLockPathFor(strNativeFilePath, &strLockPath))
        return 0;
    return Lock(strLockPath);
}

void Pf_FileLock::Unlock()
{
    if (m_nFd < 0)
        return;
    close(m_nFd);   // closing the only descriptor releases the lock
    m_nFd = -1;
}
