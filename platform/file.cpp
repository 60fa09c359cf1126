// Files and folders over POSIX.
#include "platform/file.h"
#include "platform/path.h"
#include "platform/sim.h"

#include <cerrno>
#include <cstdint>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/time.h>
#include <unistd.h>

static const uint64_t s_ullUnixEpochIn100ns = 116444736000000000ULL;

uint64_t Pf_FileTimeToU64(const Pf_FILETIME& ft)
{
    return ((uint64_t)ft.dwHighDateTime << 32) | ft.dwLowDateTime;
}

Pf_FILETIME Pf_U64ToFileTime(uint64_t ull)
{
    Pf_FILETIME ft;
    ft.dwLowDateTime = (uint32_t)ull;
    ft.dwHighDateTime = (uint32_t)(ull >> 32);
    return ft;
}

Pf_FILETIME Pf_UnixToFileTime(int64_t llSeconds, uint32_t uNanoseconds)
{
    // Clamped to the file times that exist: 1601-01-01 up to the largest
    // signed 64-bit count of 100 ns.
    const int64_t llEpochSeconds = (int64_t)(s_ullUnixEpochIn100ns / 10000000ULL);
    const int64_t llMaxSeconds = INT64_MAX / 10000000LL - 1 - llEpochSeconds;
    if (llSeconds < -llEpochSeconds)
        return Pf_U64ToFileTime(0);
    if (llSeconds > llMaxSeconds)
        return Pf_U64ToFileTime((uint64_t)INT64_MAX);
    if (uNanoseconds > 999999999u)
        uNanoseconds = 999999999u;
    return Pf_U64ToFileTime((uint64_t)(llSeconds + llEpochSeconds) * 10000000ULL + uNanoseconds / 100);
}

void Pf_FileTimeToUnix(const Pf_FILETIME& ft, int64_t* pllSeconds, uint32_t* puNanoseconds)
{
    int64_t llTicks = (int64_t)(Pf_FileTimeToU64(ft) - s_ullUnixEpochIn100ns);
    int64_t llSeconds = llTicks / 10000000LL;
    int64_t llRest = llTicks % 10000000LL;
    if (llRest < 0) {
        llRest += 10000000LL;
        --llSeconds;
    }
    *pllSeconds = llSeconds;
    *puNanoseconds = (uint32_t)(llRest * 100);
}

int Pf_GetLastError()
{
    return errno;
}

#define PF_NATIVE_OR_FAIL(var, path) \
    std::string var;                  \
    if (!Pf_NativePath((path), &var)) \
        return 0;

int Pf_FileExists(const std::string& strPath)
{
    PF_NATIVE_OR_FAIL(strNative, strPath);
    struct stat st;
    return stat(strNative.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

int Pf_DirExists(const std::string& strPath)
{
    PF_NATIVE_OR_FAIL(strNative, strPath);
    struct stat st;
    return stat(strNative.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int Pf_PathExists(const std::string& strPath)
{
    PF_NATIVE_OR_FAIL(strNative, strPath);
    struct stat st;
    return lstat(strNative.c_str(), &st) == 0;
}

int Pf_CreateDir(const std::string& strPath)
{
    PF_NATIVE_OR_FAIL(strNative, strPath);
    return mkdir(strNative.c_str(), 0755) == 0;
}

int Pf_CreateDirChain(const std::string& strPath)
{
    PF_NATIVE_OR_FAIL(strNative, strPath);
    for (size_t i = 1; i <= strNative.size(); ++i) {
        if (i != strNative.size() && strNative[i] != '/')
            continue;
        std::string strPrefix = strNative.substr(0, i);
        if (mkdir(strPrefix.c_str(), 0755) == 0)
            continue;
        int nError = errno;
        struct stat st;
        if (stat(strPrefix.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            continue;
        errno = (nError == EEXIST) ? ENOTDIR : nError;
        return 0;
    }
    return 1;
}

int Pf_DeleteNormalFile(const std::string& strPath)
{
    Pf_SetReadOnly(strPath, 0);
    return Pf_DeleteFile(strPath);
}

int Pf_DeleteFile(const std::string& strPath)
{
    PF_NATIVE_OR_FAIL(strNative, strPath);
    struct stat st;
    if (lstat(strNative.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        errno = EISDIR;
        return 0;
    }
    return unlink(strNative.c_str()) == 0;
}

int Pf_RemoveDir(const std::string& strPath)
{
    PF_NATIVE_OR_FAIL(strNative, strPath);
    return rmdir(strNative.c_str()) == 0;
}

static int _RemoveTreeNative(const std::string& strNative)
{
    struct stat st;
    if (lstat(strNative.c_str(), &st) != 0)
        return errno == ENOENT;
    if (!S_ISDIR(st.st_mode))
        return unlink(strNative.c_str()) == 0;
    DIR* pDir = opendir(strNative.c_str());
    if (!pDir)
        return 0;
    std::vector<std::string> vecNames;
    while (struct dirent* pEntry = readdir(pDir)) {
        if (strcmp(pEntry->d_name, ".") && strcmp(pEntry->d_name, ".."))
            vecNames.push_back(pEntry->d_name);
    }
    closedir(pDir);
    int nResult = 1;
    for (const std::string& strName : vecNames)
        nResult &= _RemoveTreeNative(strNative + "/" + strName);
    return nResult && rmdir(strNative.c_str()) == 0;
}

int Pf_RemoveTree(const std::string& strPath)
{
    PF_NATIVE_OR_FAIL(strNative, strPath);
    if (strNative.size() > 1 && strNative.back() == '/')
        strNative.pop_back();
    return _RemoveTreeNative(strNative);
}

int Pf_WriteAll(int nFd, const void* pvData, size_t uSize)
{
    const char* pcData = (const char*)pvData;
    while (uSize > 0) {
        ssize_t nDone = write(nFd, pcData, uSize);
        if (nDone < 0 && errno == EINTR)
            continue;
        if (nDone <= 0) {
            if (nDone == 0)
                errno = EIO;
            return 0;
        }
        pcData += nDone;
        uSize -= (size_t)nDone;
    }
    return 1;
}

int Pf_ReadFull(int nFd, void* pvData, size_t uSize, size_t* puRetRead)
{
    char* pcData = (char*)pvData;
    size_t uDone = 0;
    while (uDone < uSize) {
        ssize_t nRead = read(nFd, pcData + uDone, uSize - uDone);
        if (nRead < 0 && errno == EINTR)
            continue;
        if (nRead < 0) {
            if (puRetRead)
                *puRetRead = uDone;
            return 0;
        }
        if (nRead == 0)
            break;
        uDone += (size_t)nRead;
    }
    if (puRetRead)
        *puRetRead = uDone;
    return 1;
}

static int _FsyncPath(const std::string& strNative, int nFlags)
{
    int nFd = open(strNative.c_str(), nFlags | O_CLOEXEC);
    if (nFd < 0)
        return 0;
    int nResult = fsync(nFd) == 0;
    int nError = errno;
    close(nFd);
    errno = nError;
    return nResult;
}

static std::string _ParentOf(const std::string& strNative)
{
    size_t uSlash = strNative.find_last_of('/');
    if (uSlash == std::string::npos)
        return ".";
    if (uSlash == 0)
        return "/";
    return strNative.substr(0, uSlash);
}

// Copies one native file to another native name (created or truncated), then
// syncs it. Keeps the source's permission bits.
static int _CopyNative(const std::string& strFrom, const std::string& strTo)
{
    int nIn = open(strFrom.c_str(), O_RDONLY | O_CLOEXEC);
    if (nIn < 0)
        return 0;
    struct stat st;
    if (fstat(nIn, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (errno == 0)
            errno = EISDIR;
        close(nIn);
        return 0;
    }
    int nOut = open(strTo.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, st.st_mode & 0777);
    if (nOut < 0) {
        int nError = errno;
        close(nIn);
        errno = nError;
        return 0;
    }
    int nResult = 1;
    std::vector<char> vecBuf(1 << 20);
    for (;;) {
        ssize_t nRead = read(nIn, vecBuf.data(), vecBuf.size());
        if (nRead < 0 && errno == EINTR)
            continue;
        if (nRead < 0) {
            nResult = 0;
            break;
        }
        if (nRead == 0)
            break;
        if (!Pf_WriteAll(nOut, vecBuf.data(), (size_t)nRead)) {
            nResult = 0;
            break;
        }
    }
    int nError = errno;
    if (nResult && fsync(nOut) != 0) {
        nResult = 0;
        nError = errno;
    }
    if (close(nOut) != 0 && nResult) {
        nResult = 0;
        nError = errno;
    }
    close(nIn);
    if (!nResult) {
        unlink(strTo.c_str());
        errno = nError;
    }
    return nResult;
}

static std::string _TempNameBeside(const std::string& strNative)
{
    static unsigned s_uCounter = 0;
    return strNative + ".pf" + std::to_string(getpid()) + "_" + std::to_string(__atomic_add_fetch(&s_uCounter, 1, __ATOMIC_RELAXED)) + ".tmp";
}

int Pf_MoveFile(const std::string& strFrom, const std::string& strTo, int bReplace)
{
    PF_NATIVE_OR_FAIL(strNativeFrom, strFrom);
    PF_NATIVE_OR_FAIL(strNativeTo, strTo);
    struct stat st;
    if (lstat(strNativeFrom.c_str(), &st) != 0)
        return 0;
    if (!bReplace) {
        // Without replace: RENAME_NOREPLACE gives an atomic "fail if exists".
        if (renameat2(AT_FDCWD, strNativeFrom.c_str(), AT_FDCWD, strNativeTo.c_str(), RENAME_NOREPLACE) == 0)
            return 1;
        if (errno != EXDEV && errno != EINVAL && errno != ENOSYS)
            return 0;
        if (lstat(strNativeTo.c_str(), &st) == 0) {
            errno = EEXIST;
            return 0;
        }
    } else {
        if (rename(strNativeFrom.c_str(), strNativeTo.c_str()) == 0)
            return 1;
        if (errno != EXDEV)
            return 0;
    }
    // Across file systems: copy beside the target, sync, rename, then remove the source.
    std::string strTemp = _TempNameBeside(strNativeTo);
    if (!_CopyNative(strNativeFrom, strTemp))
        return 0;
    if (rename(strTemp.c_str(), strNativeTo.c_str()) != 0) {
        int nError = errno;
        unlink(strTemp.c_str());
        errno = nError;
        return 0;
    }
    _FsyncPath(_ParentOf(strNativeTo), O_RDONLY | O_DIRECTORY);
    return unlink(strNativeFrom.c_str()) == 0;
}

int Pf_CopyFile(const std::string& strFrom, const std::string& strTo, int bFailIfExists)
{
    PF_NATIVE_OR_FAIL(strNativeFrom, strFrom);
    PF_NATIVE_OR_FAIL(strNativeTo, strTo);
    struct stat st;
    if (bFailIfExists && lstat(strNativeTo.c_str(), &st) == 0) {
        errno = EEXIST;
        return 0;
    }
    std::string strTemp = _TempNameBeside(strNativeTo);
    if (!_CopyNative(strNativeFrom, strTemp))
        return 0;
    int nResult;
    if (bFailIfExists)
        nResult = renameat2(AT_FDCWD, strTemp.c_str(), AT_FDCWD, strNativeTo.c_str(), RENAME_NOREPLACE) == 0;
    else
        nResult = rename(strTemp.c_str(), strNativeTo.c_str()) == 0;
    if (!nResult) {
        int nError = errno;
        unlink(strTemp.c_str());
        errno = nError;
    }
    return nResult;
}

int Pf_GetFileSize(const std::string& strPath, uint64_t* pullRetSize)
{
    PF_NATIVE_OR_FAIL(strNative, strPath);
    struct stat st;
    if (stat(strNative.c_str(), &st) != 0)
        return 0;
    *pullRetSize = (uint64_t)st.st_size;
    return 1;
}

int Pf_GetFileTimes(const std::string& strPath, Pf_FILETIME* pCreation, Pf_FILETIME* pAccess, Pf_FILETIME* pWrite)
{
    PF_NATIVE_OR_FAIL(strNative, strPath);
    struct stat st;
    if (stat(strNative.c_str(), &st) != 0)
        return 0;
    if (pCreation)
        *pCreation = Pf_UnixToFileTime(st.st_mtim.tv_sec, (uint32_t)st.st_mtim.tv_nsec);
    if (pAccess)
        *pAccess = Pf_UnixToFileTime(st.st_atim.tv_sec, (uint32_t)st.st_atim.tv_nsec);
    if (pWrite)
        *pWrite = Pf_UnixToFileTime(st.st_mtim.tv_sec, (uint32_t)st.st_mtim.tv_nsec);
    return 1;
}

int Pf_SetFileTimes(const std::string& strPath, const Pf_FILETIME* pAccess, const Pf_FILETIME* pWrite)
{
    PF_NATIVE_OR_FAIL(strNative, strPath);
    struct timespec ts[2];
    const Pf_FILETIME* apTimes[2] = {pAccess, pWrite};
    for (int i = 0; i < 2; ++i) {
        if (!apTimes[i]) {
            ts[i].tv_sec = 0;
            ts[i].tv_nsec = UTIME_OMIT;
            continue;
        }
        int64_t llSeconds;
        uint32_t uNanoseconds;
        Pf_FileTimeToUnix(*apTimes[i], &llSeconds, &uNanoseconds);
        ts[i].tv_sec = (time_t)llSeconds;
        ts[i].tv_nsec = uNanoseconds;
    }
    return utimensat(AT_FDCWD, strNative.c_str(), ts, 0) == 0;
}

int Pf_GetFileAttributes(const std::string& strPath, uint32_t* puRetAttributes)
{
    PF_NATIVE_OR_FAIL(strNative, strPath);
    struct stat st;
    if (stat(strNative.c_str(), &st) != 0)
        return 0;
    uint32_t uAttributes = 0;
    if (S_ISDIR(st.st_mode))
        uAttributes |= 0x10;
    else
        uAttributes |= 0x20;
    if (!(st.st_mode & S_IWUSR))
        uAttributes |= 0x01;
    *puRetAttributes = uAttributes;
    return 1;
}

int Pf_SetReadOnly(const std::string& strPath, int bReadOnly)
{
    PF_NATIVE_OR_FAIL(strNative, strPath);
    struct stat st;
    if (stat(strNative.c_str(), &st) != 0)
        return 0;
    mode_t uMode = st.st_mode & 07777;
    uMode = bReadOnly ? (uMode & ~(mode_t)0222) : (uMode | S_IWUSR);
    return chmod(strNative.c_str(), uMode) == 0;
}

int Pf_GetFreeSpace(const std::string& strPath, uint64_t* pullRetFree)
{
    if (Pf_SimReadU64("free_bytes", pullRetFree))
        return 1;
    PF_NATIVE_OR_FAIL(strNative, strPath);
    if (strNative.empty())
        strNative = ".";
    for (;;) {
        struct statvfs sv;
        if (statvfs(strNative.c_str(), &sv) == 0) {
            *pullRetFree = (uint64_t)sv.f_bavail * (uint64_t)sv.f_frsize;
            return 1;
        }
        if (errno != ENOENT && errno != ENOTDIR)
            return 0;
        if (strNative.size() > 1 && strNative.back() == '/')
            strNative.pop_back();
        std::string strParent = _ParentOf(strNative);
        if (strParent == strNative)
            return 0;
        strNative = strParent;
    }
}

int Pf_GetExecutablePath(std::string* pstrRetPath)
{
    char szPath[PATH_MAX];
    ssize_t nLen = readlink("/proc/self/exe", szPath, sizeof(szPath) - 1);
    if (nLen <= 0)
        return 0;
    szPath[nLen] = '\0';
    *pstrRetPath = szPath;
    return 1;
}

int Pf_GetCurrentDir(std::string* pstrRetPath)
{
    char szPath[PATH_MAX];
    if (!getcwd(szPath, sizeof(szPath)))
        return 0;
    *pstrRetPath = szPath;
    return 1;
}

int Pf_SetCurrentDir(const std::string& strPath)
{
    PF_NATIVE_OR_FAIL(strNative, strPath);
    return chdir(strNative.c_str()) == 0;
}

int Pf_ListDir(const std::string& strPath, std::vector<Pf_DirEntry>* pvecRetEntries)
{
    PF_NATIVE_OR_FAIL(strNative, strPath);
    if (strNative.empty())
        strNative = ".";
    DIR* pDir = opendir(strNative.c_str());
    if (!pDir)
        return 0;
    std::vector<Pf_DirEntry> vecEntries;
    for (;;) {
        errno = 0;
        struct dirent* pEntry = readdir(pDir);
        if (!pEntry) {
            if (errno != 0) {
                int nError = errno;
                closedir(pDir);
                errno = nError;
                return 0;
            }
            break;
        }
        Pf_DirEntry entry;
        entry.strName = pEntry->d_name;
        entry.bIsDir = 0;
        entry.ullSize = 0;
        entry.ftWrite = Pf_U64ToFileTime(0);
        struct stat st;
        if (fstatat(dirfd(pDir), pEntry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
            entry.bIsDir = S_ISDIR(st.st_mode);
            entry.ullSize = S_ISREG(st.st_mode) ? (uint64_t)st.st_size : 0;
            entry.ftWrite = Pf_UnixToFileTime(st.st_mtim.tv_sec, (uint32_t)st.st_mtim.tv_nsec);
        }
        vecEntries.push_back(entry);
    }
    closedir(pDir);
    pvecRetEntries->swap(vecEntries);
    return 1;
}

int Pf_SyncFile(const std::string& strPath)
{
    PF_NATIVE_OR_FAIL(strNative, strPath);
    return _FsyncPath(strNative, O_RDONLY);
}

int Pf_SyncDir(const std::string& strPath)
{
    PF_NATIVE_OR_FAIL(strNative, strPath);
    if (strNative.empty())
        strNative = ".";
    return _FsyncPath(strNative, O_RDONLY | O_DIRECTORY);
}

// A size of 0 means everything from the offset on.
static int _StartWriteback(int nFd, uint64_t ullOffset, uint64_t ullSize)
{
    if (ullOffset > (uint64_t)INT64_MAX || ullSize > (uint64_t)INT64_MAX - ullOffset) {
        errno = EINVAL;
        return 0;
    }
    return sync_file_range(nFd, (off64_t)ullOffset, (off64_t)ullSize, SYNC_FILE_RANGE_WRITE) == 0;
}

int Pf_StartWriteback(const std::string& strPath)
{
    PF_NATIVE_OR_FAIL(strNative, strPath);
    int nFd = open(strNative.c_str(), O_RDONLY | O_CLOEXEC);
    if (nFd < 0)
        return 0;
    int nResult = _StartWriteback(nFd, 0, 0);
    int nError = errno;
    close(nFd);
    errno = nError;
    return nResult;
}

int Pf_StartStreamWriteback(FILE* fp, uint64_t ullOffset, uint64_t ullSize)
{
    if (!fp) {
        errno = EINVAL;
        return 0;
    }
    if (fflush(fp) != 0)
        return 0;
    return _StartWriteback(fileno(fp), ullOffset, ullSize);
}

int Pf_Open(const std::string& strPath, int nFlags, int nMode)
{
    std::string strNative;
    if (!Pf_NativePath(strPath, &strNative))
        return -1;
    for (;;) {
        int nFd = open(strNative.c_str(), nFlags | O_CLOEXEC, nMode);
        if (nFd >= 0 || errno != EINTR)
            return nFd;
    }
}

FILE* Pf_FOpen(const std::string& strPath, const char* cszMode)
{
    std::string strNative;
    if (!Pf_NativePath(strPath, &strNative))
        return nullptr;
    std::string strMode = cszMode;
    strMode += 'e';
    return fopen(strNative.c_str(), strMode.c_str());
}

int Pf_FOpenLocked(const std::string& strPath, int bAppend, FILE** ppRetFile, int* pbRetBusy)
{
    *ppRetFile = nullptr;
    *pbRetBusy = 0;
    PF_NATIVE_OR_FAIL(strNative, strPath);
    // A holder may move the file away between our open and our lock: the
    // lock then covers a file of another name, so open the path again.
    for (int nTry = 0; nTry < 8; ++nTry) {
        struct stat stOpen;
        struct stat stPath;
        int nFd = open(strNative.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (bAppend ? O_APPEND : 0), 0644);
        if (nFd < 0) {
            if (errno == EINTR)
                continue;
            return 0;
        }
        while (flock(nFd, LOCK_EX | LOCK_NB) != 0) {
            int nError = errno;
            if (nError == EINTR)
                continue;
            close(nFd);
            *pbRetBusy = nError == EWOULDBLOCK;
            errno = nError;
            return 0;
        }
        if (fstat(nFd, &stOpen) != 0 || stat(strNative.c_str(), &stPath) != 0 || stOpen.st_dev != stPath.st_dev ||
            stOpen.st_ino != stPath.st_ino) {
            close(nFd);
            continue;
        }
        if (!bAppend && ftruncate(nFd, 0) != 0) {
            int nError = errno;
            close(nFd);
            errno = nError;
            return 0;
        }
        *ppRetFile = fdopen(nFd, bAppend ? "ab" : "wb");
        if (!*ppRetFile) {
            int nError = errno;
            close(nFd);
            errno = nError;
            return 0;
        }
        return 1;
    }
    *pbRetBusy = 1;
    errno = EWOULDBLOCK;
    return 0;
}

int Pf_ReadWholeFile(const std::string& strPath, std::string* pstrRetData)
{
    return Pf_ReadWholeFileAtMost(strPath, SIZE_MAX, pstrRetData);
}

int Pf_ReadWholeFileAtMost(const std::string& strPath, size_t uMaxBytes, std::string* pstrRetData)
{
    int nFd = Pf_Open(strPath, O_RDONLY);
    if (nFd < 0)
        return 0;
    std::string strData;
    char szBuf[65536];
    int nResult = 1;
    for (;;) {
        ssize_t nRead = read(nFd, szBuf, sizeof(szBuf));
        if (nRead < 0 && errno == EINTR)
            continue;
        if (nRead < 0) {
            nResult = 0;
            break;
        }
        if (nRead == 0)
            break;
        if ((size_t)nRead > uMaxBytes - strData.size()) {
            errno = EFBIG;
            nResult = 0;
            break;
        }
        strData.append(szBuf, (size_t)nRead);
    }
    int nError = errno;
    close(nFd);
    errno = nError;
    if (nResult)
        pstrRetData->swap(strData);
    return nResult;
}

int Pf_WriteFileAtomic(const std::string& strPath, const std::string& strData)
{
    PF_NATIVE_OR_FAIL(strNative, strPath);
    std::string strTemp = strNative + ".tmp";
    struct stat stOld;
    int bKeepMode = stat(strNative.c_str(), &stOld) == 0 && S_ISREG(stOld.st_mode);
    int nFd = open(strTemp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (nFd < 0)
        return 0;
    int nResult = (!bKeepMode || fchmod(nFd, stOld.st_mode & 07777) == 0) &&
                  Pf_WriteAll(nFd, strData.data(), strData.size()) && fsync(nFd) == 0;
    int nError = errno;
    if (close(nFd) != 0 && nResult) {
        nResult = 0;
        nError = errno;
    }
    if (nResult && rename(strTemp.c_str(), strNative.c_str()) != 0) {
        nResult = 0;
        nError = errno;
    }
    if (!nResult) {
        unlink(strTemp.c_str());
        errno = nError;
        return 0;
    }
    _FsyncPath(_ParentOf(strNative), O_RDONLY | O_DIRECTORY);
    return 1;
}

int Pf_ReserveBlocks(int nFd, uint64_t ullOffset, uint64_t ullSize)
{
    int nError = 0;
    if (nFd < 0 || ullSize == 0 || ullOffset > (uint64_t)INT64_MAX || ullSize > (uint64_t)INT64_MAX - ullOffset) {
        errno = EINVAL;
        return 0;
    }
    // posix_fallocate gives its error instead of setting errno.
    do
        nError = posix_fallocate(nFd, (off_t)ullOffset, (off_t)ullSize);
    while (nError == EINTR);
    errno = nError;
    return nError == 0;
}

int Pf_ReserveStream(FILE* fp, uint64_t ullSize)
{
    if (!fp) {
        errno = EINVAL;
        return 0;
    }
    if (fflush(fp) != 0)
        return 0;
    return Pf_ReserveBlocks(fileno(fp), 0, ullSize);
}
