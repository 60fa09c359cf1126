// The merge of two packages of the oldest format ("PACK": a 32-byte header, a
// data block and an index of 16-byte entries sorted by file id): the second
// package's data is appended to the first, and its index merged into the
// first's, its entries replacing those of equal id.
#pragma once
#include <cstdint>

#pragma pack(push, 1)
struct PackFileHeader {
    uint8_t bySignature[4];         // "PACK"
    uint32_t count;                 // number of index entries
    uint32_t uIndexOffset;
    uint32_t uDataOffset;
    uint8_t byReserved[16];         // carried as read
};
struct PackFileIndexEntry {
    uint32_t uFileId;
    uint32_t uOffset;               // of the file's data in the package
    uint32_t uInfo1;                // carried with the offset
    uint32_t uInfo2;
};
#pragma pack(pop)
static_assert(sizeof(PackFileHeader) == 32, "PACK header is 32 bytes");
static_assert(sizeof(PackFileIndexEntry) == 16, "PACK index entry is 16 bytes");

// The merged count must stay below this.
#define MAX_FILE 2004800u

// Merges addFilePath into stdFilePath. True when merged (or nothing to
// merge); false otherwise, with the first file as it was.
bool PackComb(const char* stdFilePath, const char* addFilePath);
