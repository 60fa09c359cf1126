// The synchronisation index "qv7_sync.info" that the server publishes beside
// the synchronised files: its 64-byte header, the header CRC, and the readers
// of its check-info and dir-info blocks. Every count and size is bounded by
// the bytes that hold it, and every file name is checked before it may be
// joined to the client folder.
#pragma once
#include <bit>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/file.h"

static_assert(std::endian::native == std::endian::little, "the index is read as little-endian records");

enum : uint32_t {
    // The four bytes "QSYN".
    RV_SYNC_INDEX_FILE_TYPE = 'Q' | ('S' << 8) | ('Y' << 16) | ((uint32_t)'N' << 24),
    RV_SYNC_INDEX_FILE_VERSION = 0,
    // A name's size counts its terminating zero and stays below 260.
    RV_SYNC_NAME_BUFFER_SIZE = 260,
    // Allocation caps for the blocks read from the server.
    RV_SYNC_MAX_CHECK_INFO_SIZE = 128u * 1024u * 1024u,
    RV_SYNC_MAX_DIR_INFO_SIZE = 16u * 1024u * 1024u,
};

#pragma pack(push, 1)
struct Rv_SyncIndexFileHeader {
    uint32_t uType;
    uint32_t uVersion;
    uint32_t uHeaderCRC;
    uint32_t uFileCheckInfoOffset;
    uint32_t uFileCheckInfoSize;
    uint32_t uFileCheckInfoCRC;
    uint32_t uDirInfoOffset;
    uint32_t uDirInfoSize;
    uint32_t uDirInfoCRC;
    uint32_t uFileSyncInfoOffset;
    uint32_t uFileSyncInfoSize;
    uint8_t byReserved[20];
};
#pragma pack(pop)
static_assert(sizeof(Rv_SyncIndexFileHeader) == 64, "the index header is 64 bytes");

// The smallest check-info entry: name size, a one-byte name, CRC, file time.
enum : uint32_t { RV_SYNC_MIN_CHECK_ENTRY_SIZE = 4 + 1 + 4 + 8, RV_SYNC_MIN_DIR_ENTRY_SIZE = 4 + 1 };

struct Rv_FileCheckInfo {
    std::string strName;        // relative to the client folder, '\' separated
    uint32_t uCRC = 0;
    Pf_FILETIME ftLastModifyTime{};
};

struct Rv_CorruptFileInfo {
    Rv_FileCheckInfo CheckInfo;
    uint32_t uDirID = 0;        // 0 until the file-sync info is read
    uint32_t uIndex = 0;        // the entry's index in the check info
};

// Gives 1 when the running operation is to stop.
typedef std::function<int()> Rv_SyncAbortTest;

// The CRC-32 of the 64 header bytes with uHeaderCRC taken as 0.
int Rv_GetSyncIndexFileHeaderCRC(const Rv_SyncIndexFileHeader* pHeader, uint32_t* puRetCRC);
// The header's CRC, type and version, and every block inside 32 bits and
// below its allocation cap.
int Rv_CheckSyncIndexHeader(const Rv_SyncIndexFileHeader& Header);
// The check-info block: every entry, in index order. A name that is empty,
// holds a zero byte before its end, or could leave the client folder fails
// the whole block.
int Rv_ParseSyncCheckInfo(const uint8_t* pbyBuffer, uint32_t uSize, const Rv_SyncAbortTest& fnAborted,
                          std::vector<Rv_FileCheckInfo>* pvecRetEntries);
// The dir-info block: the server folder names, in index order.
int Rv_ParseSyncDirInfo(const uint8_t* pbyBuffer, uint32_t uSize, const Rv_SyncAbortTest& fnAborted,
                        std::vector<std::string>* pvecRetNames);
// A synchronised file's name as a path below the client folder.
int Rv_IsSafeSyncFileName(const std::string& strName);
