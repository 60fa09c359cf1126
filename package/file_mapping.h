// Files outside any package opened through a file manager, mapped whole, and
// read or written through views: IRv_FileManager makes IRv_FileMapping
// objects, whose MapView gives IRv_FileBuffer views of a window of the file.
// All are reference-counted (package/unknown.h); interface operations return
// S_OK or E_FAIL. The mapping and view objects are recycled through small
// lock-free caches of eight idle objects each.
//
// A view holds a reference on its mapping, so a mapping may be released while
// views of it are still in use. Views are bounds-checked against the file's
// size at the time the mapping was opened, and the blocks under a writable
// view are reserved when it is made (a full disk fails MapView).
#pragma once
#include "package/buffer.h"

#include <cstdint>
#include <string>

enum { RV_OUTSIDE_PACKAGE_PATH_LEN = 260 };   // resolved paths, terminator included

struct IRv_FileBuffer : IRv_Buffer {
    // GetSize is the size asked for; GetData points at the byte at the asked
    // offset (views need not start at the allocation granularity).
};

// The file information of an open mapping (all fields zeroed first).
struct Rv_FileInfo {
    uint64_t ullFileSize;
    uint64_t ullCreationTime;    // seconds since 1970-01-01 00:00 UTC
    uint64_t ullLastWriteTime;   // seconds since 1970-01-01 00:00 UTC
    uint32_t uMode;              // the mapping's mode
    uint32_t uReserved;          // always 0
};

// Mapping modes; any other value fails.
enum RV_FILE_MAPPING_MODE {
    RV_FILE_MAPPING_MODE_WRITE_COPY = 0,   // private copy-on-write views; changes never reach the file
    RV_FILE_MAPPING_MODE_READ_WRITE = 1,   // shared writable views; changes reach the file
    RV_FILE_MAPPING_MODE_READ_ONLY = 2,    // read-only views
};

struct IRv_FileMapping : IUnknown {
    // A view of uSize bytes at ullOffset; uSize 0 means up to the end of the
    // file (the rest must be above 0 and fit 32 bits). The range must lie
    // inside the file.
    virtual HRESULT MapView(uint64_t ullOffset, uint32_t uSize, IRv_FileBuffer** ppRetBuffer) = 0;
    virtual HRESULT GetFileInfo(Rv_FileInfo* pRetFileInfo) = 0;
    // Copies uSize bytes at ullOffset out of the file or into it through the
    // file itself, not a view: where the bytes are only copied, this costs
    // no page faults, and a file cut under the caller gives E_FAIL instead
    // of a fault. The range must lie inside the file as it was opened, and
    // inside the file as it is now; writes need the read-write mode.
    virtual HRESULT Read(uint64_t ullOffset, uint32_t uSize, void* pvRetData) = 0;
    virtual HRESULT Write(uint64_t ullOffset, uint32_t uSize, const void* pvData) = 0;
};

struct IRv_FileManager : IUnknown {
    // Opens an existing file and maps it whole in the given mode. A relative
    // path is taken against the manager's root (or the current folder when
    // the root is empty); an absolute path is taken unchanged.
    virtual HRESULT CreateFileMapping(const char16_t* cszFilePath, uint32_t uMode, IRv_FileMapping** ppRetFileMapping) = 0;
    // *pbRetExist := whether the path exists; returns true (1) or false (0).
    virtual int IsFileExists(const char16_t* cszFilePath, int* pbRetExist) = 0;
};

// A new file manager with reference count 1. The root (at most 259
// characters) is copied; null or empty means none.
HRESULT Rv_CreateOutsidePackageFileManager(const char16_t* cpszRootDirectory, IRv_FileManager** ppRetFileManager);

// How a file manager resolves a path: an absolute path ("/..." or "\...", or
// one with a drive letter) unchanged; otherwise "<root>/<path>", or
// "<current folder>/<path>" when the root is null or empty. The result of
// joining must be shorter than RV_OUTSIDE_PACKAGE_PATH_LEN.
int Rv_GetOutsidePackageRealPath(const char16_t* pcszRootDirectory, const char16_t* pcszPath, std::u16string* pwstrRetPath);

// The idle objects held by the caches of mappings and of view buffers.
unsigned Rv_GetIdleFileMappingCount();
unsigned Rv_GetIdleFileBufferCount();
