// Exclusive locks on lock files (flock).
#include "platform/file_lock.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

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

void Pf_FileLock::Unlock()
{
    if (m_nFd < 0)
        return;
    close(m_nFd);   // closing the only descriptor releases the lock
    m_nFd = -1;
}
