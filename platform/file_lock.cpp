// Exclusive locks on lock files (flock).
#include "platform/file_lock.h"

#include "platform/named_event.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

// The file's absolute path with its folder's links resolved; the folder as
// given (made absolute) when it cannot be resolved.
std::string _AbsolutePath(const std::string& strPath)
{
    size_t uSlash = strPath.find_last_of('/');
    std::string strFolder = uSlash == std::string::npos ? "." : uSlash == 0 ? "/" : strPath.substr(0, uSlash);
    std::string strName = uSlash == std::string::npos ? strPath : strPath.substr(uSlash + 1);
    char szResolved[PATH_MAX];
    if (realpath(strFolder.c_str(), szResolved))
        strFolder = szResolved;
    else if (strFolder[0] != '/' && getcwd(szResolved, sizeof(szResolved)))
        strFolder = std::string(szResolved) + "/" + strFolder;
    return strFolder == "/" ? "/" + strName : strFolder + "/" + strName;
}

// FNV-1a over the path in lower case: one lock for every spelling; two
// paths that meet by chance only wait for each other.
uint64_t _PathKey(const std::string& strPath)
{
    uint64_t ullHash = 1469598103934665603ull;
    for (char c : strPath) {
        unsigned char by = (unsigned char)c;
        if (by >= 'A' && by <= 'Z')
            by = (unsigned char)(by - 'A' + 'a');
        ullHash = (ullHash ^ by) * 1099511628211ull;
    }
    return ullHash;
}

} // namespace

int Pf_FileLockPathFor(const std::string& strNativeFilePath, std::string* pstrRetLockPath)
{
    if (strNativeFilePath.empty() || strNativeFilePath.back() == '/') {
        errno = EINVAL;
        return 0;
    }
    std::string strAbsolute = _AbsolutePath(strNativeFilePath);
    // The file's name keeps the lock recognisable; the key makes it the file's own.
    std::string strName = strAbsolute.substr(strAbsolute.find_last_of('/') + 1).substr(0, 64);
    char szKey[32];
    snprintf(szKey, sizeof(szKey), "%016llx", (unsigned long long)_PathKey(strAbsolute));
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
