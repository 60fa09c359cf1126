// Files and folders. Every path goes through Pf_NativePath first; every
// descriptor is opened close-on-exec. Functions return 1 or 0 and leave the
// reason in errno (Pf_GetLastError).
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// A file time: 100-nanosecond intervals since 1601-01-01 UTC, in two halves.
struct Pf_FILETIME {
    uint32_t dwLowDateTime;
    uint32_t dwHighDateTime;
};
uint64_t Pf_FileTimeToU64(const Pf_FILETIME& ft);
Pf_FILETIME Pf_U64ToFileTime(uint64_t ull);
// Unix seconds and nanoseconds to and from a file time.
Pf_FILETIME Pf_UnixToFileTime(int64_t llSeconds, uint32_t uNanoseconds);
void Pf_FileTimeToUnix(const Pf_FILETIME& ft, int64_t* pllSeconds, uint32_t* puNanoseconds);

int Pf_GetLastError();

int Pf_FileExists(const std::string& strPath);   // a regular file (links followed)
int Pf_DirExists(const std::string& strPath);    // a folder (links followed)
int Pf_PathExists(const std::string& strPath);   // anything, links not followed

// Creates one folder. Fails with errno EEXIST when anything of that name exists.
int Pf_CreateDir(const std::string& strPath);
// Creates every missing folder of the chain; an existing folder is fine, an
// existing file of a chain's name fails.
int Pf_CreateDirChain(const std::string& strPath);
int Pf_DeleteFile(const std::string& strPath);   // a file or a link, never a folder
// Clears the read-only attribute, then deletes the file.
int Pf_DeleteNormalFile(const std::string& strPath);
int Pf_RemoveDir(const std::string& strPath);    // an empty folder
// Removes a file or a whole tree; links are removed, never followed.
int Pf_RemoveTree(const std::string& strPath);

// Moves a file. With bReplace an existing target is replaced atomically
// (across file systems: copy, sync, rename); without it an existing target fails.
int Pf_MoveFile(const std::string& strFrom, const std::string& strTo, int bReplace);
// Copies a file through a temporary name beside the target, then renames it
// into place. With bFailIfExists an existing target fails.
int Pf_CopyFile(const std::string& strFrom, const std::string& strTo, int bFailIfExists);

int Pf_GetFileSize(const std::string& strPath, uint64_t* pullRetSize);
int Pf_GetFileTimes(const std::string& strPath, Pf_FILETIME* pCreation, Pf_FILETIME* pAccess, Pf_FILETIME* pWrite);
// Sets the access and modification times (creation has no counterpart). Null leaves one unchanged.
int Pf_SetFileTimes(const std::string& strPath, const Pf_FILETIME* pAccess, const Pf_FILETIME* pWrite);
// Windows attributes: 0x01 read-only (no write permission), 0x10 folder.
int Pf_GetFileAttributes(const std::string& strPath, uint32_t* puRetAttributes);
int Pf_SetReadOnly(const std::string& strPath, int bReadOnly);

// Bytes free for the caller on the file system of strPath (its nearest
// existing ancestor). Under RV_SIM_ROOT the fact "free_bytes" answers.
int Pf_GetFreeSpace(const std::string& strPath, uint64_t* pullRetFree);

// The running executable's full path; the current folder (without a final "/").
int Pf_GetExecutablePath(std::string* pstrRetPath);
int Pf_GetCurrentDir(std::string* pstrRetPath);
int Pf_SetCurrentDir(const std::string& strPath);

struct Pf_DirEntry {
    std::string strName;
    int bIsDir;        // a folder (a link is never a folder here)
    uint64_t ullSize;
    Pf_FILETIME ftWrite;
};
// A snapshot of a folder, "." and ".." included. Returns 0 on an error of the
// listing, 1 with the whole list otherwise.
int Pf_ListDir(const std::string& strPath, std::vector<Pf_DirEntry>* pvecRetEntries);

// Flushes a file's data to the disk; a folder's entries to the disk.
int Pf_SyncFile(const std::string& strPath);
int Pf_SyncDir(const std::string& strPath);
// Starts writing a file's changed data out to the disk without waiting for
// it, so that a sync that follows has less to wait for, and several files
// are written out together. A hint: it changes nothing a reader sees.
int Pf_StartWriteback(const std::string& strPath);
// The same for a range of an open stream, flushed first.
int Pf_StartStreamWriteback(FILE* fp, uint64_t ullOffset, uint64_t ullSize);

// open(2) and fopen(3) through the path conversion, close-on-exec.
int Pf_Open(const std::string& strPath, int nFlags, int nMode = 0644);
FILE* Pf_FOpen(const std::string& strPath, const char* cszMode);
// Opens a file for writing (created when missing) under an exclusive lock,
// without waiting: a lock that another holder (a thread or a process) has
// fails at once with *pbRetBusy set. With bAppend the writes go to its end;
// otherwise it is emptied once the lock is held. The lock lasts until the
// stream is closed, so the holder may move the file into place first.
int Pf_FOpenLocked(const std::string& strPath, int bAppend, FILE** ppRetFile, int* pbRetBusy);
// Reads or writes a whole file (write: to "<path>.tmp", sync, rename; a
// file that is replaced keeps its mode).
int Pf_ReadWholeFile(const std::string& strPath, std::string* pstrRetData);
// The same for a file that may hold at most uMaxBytes; a longer one fails (errno EFBIG).
int Pf_ReadWholeFileAtMost(const std::string& strPath, size_t uMaxBytes, std::string* pstrRetData);
int Pf_WriteFileAtomic(const std::string& strPath, const std::string& strData);
// Writes the whole buffer to a descriptor, retrying short writes; reads until
// the buffer is full or the end. Both return 1 on success.
int Pf_WriteAll(int nFd, const void* pvData, size_t uSize);
// Reserves the disk blocks of the first ullSize bytes of an open stream's
// file, which grows to that size when it is shorter, so that writing them
// later cannot fail for want of room. A full disk fails it with ENOSPC.
int Pf_ReserveStream(FILE* fp, uint64_t ullSize);
// The same for [ullOffset, ullOffset + ullSize) of an open descriptor.
int Pf_ReserveBlocks(int nFd, uint64_t ullOffset, uint64_t ullSize);
int Pf_ReadFull(int nFd, void* pvData, size_t uSize, size_t* puRetRead);
