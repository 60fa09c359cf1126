// File mappings over mmap, with views checked against the file's size.
#include "platform/mapping.h"
#include "platform/file.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

struct Pf_MapFile {
    int nFd;
    int bWritable;
};

struct Pf_Mapping {
    int nFd;            // a descriptor of its own, so the file may be closed first
    int bWritable;
    uint64_t ullSize;
};

static const uint32_t s_uGranularity = 65536;

uint32_t Pf_GetAllocationGranularity()
{
    return s_uGranularity;
}

static int _FdSize(int nFd, uint64_t* pullRetSize)
{
    struct stat st;
    if (fstat(nFd, &st) != 0)
        return 0;
    if (!S_ISREG(st.st_mode)) {
        errno = EINVAL;
        return 0;
    }
    *pullRetSize = (uint64_t)st.st_size;
    return 1;
}

Pf_MapFile* Pf_OpenMapFile(const std::string& strPath, int bWritable)
{
    int nFd = Pf_Open(strPath, bWritable ? O_RDWR : O_RDONLY);
    if (nFd < 0)
        return nullptr;
    uint64_t ullSize = 0;
    if (!_FdSize(nFd, &ullSize)) {
        int nError = errno;
        close(nFd);
        errno = nError;
        return nullptr;
    }
    return new Pf_MapFile{nFd, bWritable ? 1 : 0};
}

int Pf_GetMapFileSize(Pf_MapFile* pFile, uint64_t* pullRetSize)
{
    if (!pFile || !pullRetSize) {
        errno = EINVAL;
        return 0;
    }
    return _FdSize(pFile->nFd, pullRetSize);
}

// Reads into pbyRead, or writes pbyWrite, uSize bytes at ullOffset,
// retrying short transfers. A read that meets the file's end fails (ERANGE).
static int _TransferAt(int nFd, uint64_t ullOffset, unsigned char* pbyRead, const unsigned char* pbyWrite, size_t uSize)
{
    while (uSize) {
        ssize_t nDone = pbyRead ? pread(nFd, pbyRead, uSize, (off_t)ullOffset)
                                : pwrite(nFd, pbyWrite, uSize, (off_t)ullOffset);
        if (nDone < 0 && errno == EINTR)
            continue;
        if (nDone < 0)
            return 0;
        if (nDone == 0) {
            errno = pbyRead ? ERANGE : EIO;   // a read: the file ends before the range does
            return 0;
        }
        if (pbyRead)
            pbyRead += nDone;
        else
            pbyWrite += nDone;
        ullOffset += (uint64_t)nDone;
        uSize -= (size_t)nDone;
    }
    return 1;
}

int Pf_ReadMapFile(Pf_MapFile* pFile, uint64_t ullOffset, void* pvData, size_t uSize)
{
    if (!pFile || (!pvData && uSize) || ullOffset > (uint64_t)INT64_MAX || uSize > (uint64_t)INT64_MAX - ullOffset) {
        errno = EINVAL;
        return 0;
    }
    return _TransferAt(pFile->nFd, ullOffset, (unsigned char*)pvData, nullptr, uSize);
}

int Pf_WriteMapFile(Pf_MapFile* pFile, uint64_t ullOffset, const void* pvData, size_t uSize)
{
    uint64_t ullFileSize = 0;
    if (!pFile || !pFile->bWritable || (!pvData && uSize)) {
        errno = pFile && !pFile->bWritable ? EACCES : EINVAL;
        return 0;
    }
    if (!_FdSize(pFile->nFd, &ullFileSize))
        return 0;
    if (ullOffset > ullFileSize || uSize > ullFileSize - ullOffset) {
        errno = ERANGE;
        return 0;
    }
    return _TransferAt(pFile->nFd, ullOffset, nullptr, (const unsigned char*)pvData, uSize);
}

void Pf_CloseMapFile(Pf_MapFile* pFile)
{
    if (!pFile)
        return;
    close(pFile->nFd);
    delete pFile;
}

Pf_Mapping* Pf_CreateMapping(Pf_MapFile* pFile, int bWritable, uint64_t ullSize)
{
    uint64_t ullFileSize = 0;
    if (!pFile || (bWritable && !pFile->bWritable)) {
        errno = pFile ? EACCES : EINVAL;
        return nullptr;
    }
    if (!_FdSize(pFile->nFd, &ullFileSize))
        return nullptr;
    if (ullSize == 0)
        ullSize = ullFileSize;
    if (ullSize == 0) {
        errno = EINVAL;
        return nullptr;
    }
    if (ullSize > ullFileSize) {
        if (!bWritable) {
            errno = EINVAL;
            return nullptr;
        }
        if (ftruncate(pFile->nFd, (off_t)ullSize) != 0)
            return nullptr;
    }
    int nFd = fcntl(pFile->nFd, F_DUPFD_CLOEXEC, 0);
    if (nFd < 0)
        return nullptr;
    return new Pf_Mapping{nFd, bWritable ? 1 : 0, ullSize};
}

void Pf_CloseMapping(Pf_Mapping* pMapping)
{
    if (!pMapping)
        return;
    close(pMapping->nFd);
    delete pMapping;
}

static int _MapView(Pf_Mapping* pMapping, uint64_t ullOffset, size_t uSize, int bWritable, int bCopyOnWrite, void** ppvRetView)
{
    uint64_t ullFileSize = 0;
    if (!pMapping || !ppvRetView || uSize == 0 || ullOffset % s_uGranularity != 0 ||
        (bWritable && !pMapping->bWritable)) {
        errno = EINVAL;
        return 0;
    }
    *ppvRetView = nullptr;
    if (ullOffset > pMapping->ullSize || uSize > pMapping->ullSize - ullOffset) {
        errno = ERANGE;
        return 0;
    }
    // Pages past the file's end would fault on access: refuse them now.
    if (!_FdSize(pMapping->nFd, &ullFileSize))
        return 0;
    if (ullOffset > ullFileSize || uSize > ullFileSize - ullOffset) {
        errno = ERANGE;
        return 0;
    }
    // A page of a shared writable view that has no block behind it faults
    // when the disk is full; reserved now, that is an error of this call.
    if (bWritable && !Pf_ReserveBlocks(pMapping->nFd, ullOffset, uSize))
        return 0;
    void* pvView = mmap(nullptr, uSize, (bWritable || bCopyOnWrite) ? (PROT_READ | PROT_WRITE) : PROT_READ,
                        bCopyOnWrite ? MAP_PRIVATE : MAP_SHARED, pMapping->nFd, (off_t)ullOffset);
    if (pvView == MAP_FAILED)
        return 0;
    *ppvRetView = pvView;
    return 1;
}

int Pf_MapView(Pf_Mapping* pMapping, uint64_t ullOffset, size_t uSize, int bWritable, void** ppvRetView)
{
    return _MapView(pMapping, ullOffset, uSize, bWritable, 0, ppvRetView);
}

int Pf_MapViewCopyOnWrite(Pf_Mapping* pMapping, uint64_t ullOffset, size_t uSize, void** ppvRetView)
{
    return _MapView(pMapping, ullOffset, uSize, 0, 1, ppvRetView);
}

int Pf_FlushView(void* pvView, size_t uSize)
{
    if (!pvView) {
        errno = EINVAL;
        return 0;
    }
    return msync(pvView, uSize, MS_SYNC) == 0;
}

int Pf_UnmapView(void* pvView, size_t uSize)
{
    if (!pvView) {
        errno = EINVAL;
        return 0;
    }
    return munmap(pvView, uSize) == 0;
}
