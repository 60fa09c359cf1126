// Wide-path file and folder helpers of the package library: folder listing,
// recursive folder creation, splitting a path into folder and file name,
// existence, replacing move, opening and finishing written streams. Paths may
// use "\" or "/"; the platform layer turns them into native paths.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

enum RV_DIR_ITEM_TYPE {
    RV_DIR_ITEM_TYPE_NONE = 0,
    RV_DIR_ITEM_TYPE_FILE = 1,
    RV_DIR_ITEM_TYPE_DIRECTORY = 2,
};

struct RV_DIR_ITEM {
    RV_DIR_ITEM_TYPE eType;
    const char16_t* pcszName;   // inside the listing handle; valid until the next read or the close
};

typedef struct Rv_DirectoryHandleImpl* RV_DIR_HANDLE;

// A snapshot listing of a folder; "." and ".." come back as folders.
// Rv_OpenDirectory fails without a log line for a null or empty folder.
int Rv_OpenDirectory(const char16_t* pcszDirectory, RV_DIR_HANDLE* phRetHandle);
// Hands out the next item; at the end sets *pbRetNoMore, clears the item and succeeds.
int Rv_ReadDirectory(RV_DIR_HANDLE hHandle, RV_DIR_ITEM* pRetItem, int* pbRetNoMore);
int Rv_CloseDirectory(RV_DIR_HANDLE hHandle);

// Creates every level of the path (at most 259 characters); existing folders
// are fine. A leading separator stands for the file-system root.
int Rv_RecursiveCreateDirectory(const char16_t* pcszPath);

// Splits at the last "\" or "/": folder before it, file name after it, both
// terminated in the callers' buffers. A path without a separator, ending in one,
// or whose only separator is its first character fails.
int Rv_GetDirectoryAndFileName(const char16_t* pcszFilePath, char16_t* pszRetDirectoryBuffer, unsigned uDirectoryBufferLength,
                               char16_t* pszRetFileNameBuffer, unsigned uFileNameBufferLength);

// strFolder + "/" + strName.
std::u16string Rv_JoinPackagePath(const std::u16string& strFolder, const std::u16string& strName);
// True when the path is given and names an existing file or folder.
int Rv_IsFileExist(const char16_t* pcszPath);
// Moves a file, replacing an existing target atomically.
int Rv_MoveFileOverwrite(const char16_t* pcszExistingFileName, const char16_t* pcszNewFileName);
// Deletes a file (never a folder).
int Rv_DeleteFile(const char16_t* pcszPath);
// Flushes a file's data, or a folder's entries, to the disk.
int Rv_SyncFile(const char16_t* pcszPath);
int Rv_SyncDirectory(const char16_t* pcszPath);

// fopen of a wide path (close-on-exec).
FILE* Rv_FOpen(const char16_t* pcszPath, const char* cszMode);
// Finishes a stream that was written: flush, optionally sync, close. The
// stream is closed and *pfp cleared in every case; 1 only when all succeeded.
// A failure must fail the step before any move or delete that relies on the file.
int Rv_CloseWrittenFile(FILE** pfp, int bSync);
