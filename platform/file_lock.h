// An exclusive lock held on a lock file, shared by threads and processes:
// each holder opens the file itself, so two threads of one process exclude
// each other just as two processes do.
#pragma once
#include <string>

class Pf_FileLock {
public:
    Pf_FileLock() = default;
    ~Pf_FileLock() { Unlock(); }
    Pf_FileLock(const Pf_FileLock&) = delete;
    Pf_FileLock& operator=(const Pf_FileLock&) = delete;

    // Creates the lock file (a native path) when missing and waits for the
    // exclusive lock on it. Returns 0 (errno set) when it cannot be had.
    int Lock(const std::string& strNativeLockPath);
    // The same with the lock that stands for a file (a native path, existing
    // or not), kept in the user's runtime folder (Pf_UserRuntimePath) so
    // that nothing is left beside the file. Every spelling of the file's path
    // (relative, through links, in another case) takes the same lock.
    int LockFor(const std::string& strNativeFilePath);
    void Unlock();

private:
    int m_nFd = -1;
};

// The lock file that LockFor takes for a file.
int Pf_FileLockPathFor(const std::string& strNativeFilePath, std::string* pstrRetLockPath);
