// The records of a single-file package (a fixed header, then the data,
// directory and index areas), the checks every reader of one makes on its
// header, and the limits it lives under. Little-endian, packed.
#pragma once
#include <bit>
#include <cstdint>
#include <cstdio>

#include "foundation/log.h"

static_assert(std::endian::native == std::endian::little, "the package records are little-endian");

#define RV_PACKAGE_SIGNATURE ((uint32_t)('R' | ('V' << 8) | ('P' << 16) | ('K' << 24)))
// Packages and patches are below 2 GiB: positions are 32-bit signed offsets.
#define RVPK_MAX_PACKAGE_FILE_SIZE ((uint64_t)0x80000000u)

#pragma pack(push, 1)
struct Rv_PackageHeader {
    uint32_t uSignature;            // RV_PACKAGE_SIGNATURE
    uint8_t byReserved1[80];        // carried as read
    uint32_t uAreaCRC;              // CRC-32 of the directory area (byte 4 of each entry as 0), then the index area
    int64_t llRewriteTime;          // seconds since 1970 of the last rewrite, -1 when out of 32-bit range
    uint64_t uFileSize;
    uint8_t byReserved2[16];        // carried as read
    uint64_t uDataAreaOffset;
    uint64_t uDataAreaSize;
    uint64_t uDirectoryAreaOffset;
    uint64_t uDirectoryAreaSize;
    uint64_t uIndexAreaOffset;
    uint64_t uIndexAreaSize;
};
struct Rv_PackageIndexEntry {
    uint32_t uKey;                  // the merge key
    uint32_t uValue;                // carried unchanged
};
struct Rv_PackageDirectoryEntry {
    uint64_t uInfo;                 // carried unchanged (byte 4 counts as 0 in the header checksum)
    uint64_t uDataOffset;           // relative to the start of the data area
};
#pragma pack(pop)
static_assert(sizeof(Rv_PackageHeader) == 168, "package header is 168 bytes");
static_assert(sizeof(Rv_PackageIndexEntry) == 8, "index entry is 8 bytes");
static_assert(sizeof(Rv_PackageDirectoryEntry) == 16, "directory entry is 16 bytes");

// The field checks of a package header read into the variable Header; a
// failed one logs its expression and jumps to Exit0.
#define RVPK_PROCESS_PACKAGE_HEADER_ERROR(Header)                                                     \
    do {                                                                                               \
        RVLOG_PROCESS_ERROR(Header.uSignature == RV_PACKAGE_SIGNATURE);                                \
        RVLOG_PROCESS_ERROR(Header.uDataAreaOffset >= sizeof(Rv_PackageHeader));                       \
        RVLOG_PROCESS_ERROR(Header.uDataAreaSize > 0);                                                 \
        RVLOG_PROCESS_ERROR(Header.uIndexAreaOffset >= sizeof(Rv_PackageHeader));                      \
        RVLOG_PROCESS_ERROR(Header.uIndexAreaSize > 0);                                                \
        RVLOG_PROCESS_ERROR((Header.uIndexAreaSize % sizeof(Rv_PackageIndexEntry)) == 0);             \
        RVLOG_PROCESS_ERROR(Header.uDirectoryAreaOffset >= sizeof(Rv_PackageHeader));                  \
        RVLOG_PROCESS_ERROR(Header.uDirectoryAreaSize > 0);                                            \
        RVLOG_PROCESS_ERROR((Header.uDirectoryAreaSize % sizeof(Rv_PackageDirectoryEntry)) == 0);     \
    } while (0)

// 1 when [uOffset, uOffset + uSize) lies within a file of uFileLength bytes.
int RvPack_IsAreaInFile(uint64_t uOffset, uint64_t uSize, uint64_t uFileLength);
// 1 when the file is below 2 GiB and the three areas of the header lie in it.
int RvPack_IsPackageAreasInFile(const Rv_PackageHeader& Header, uint64_t uFileLength);
// 1 when a mini backup of the package can bring it back after any
// interrupted patch: its areas lie in the file and within the header's file
// size, to which a restore cuts the package. Bytes behind the areas (an
// interrupted older updater leaves some) are allowed.
int RvPack_IsPackageLayoutRestorable(const Rv_PackageHeader& Header, uint64_t uFileLength);

// Syncs the folder that holds the file (its entries: a created or removed name).
int RvPack_SyncParentDir(const char* cszFileName);
// Closes a file only read; null is fine.
void RvPack_CloseRead(FILE* pFile);
