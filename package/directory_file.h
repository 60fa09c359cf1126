// Directory files: one "<branch>.DIR" per branch in the package folder, mapping
// the 64-bit hash of a file name to the file's global data address and size.
//
// On disk: the 512-byte header, then uEntryCount entries of W bytes each
// (hash, address, size; each field 2, 4 or 8 bytes by the package
// configuration's width codes 0, 1, 2), little-endian, in hash-bucket order:
// stably sorted by hash mod L, where L = (float)count / 0.75f truncated, and
// within a bucket by ascending hash.
//
// Loading refuses a bad signature or format version, a header text field
// without terminator, an entry count whose entries do not fit in the file, and
// duplicate hashes. Saving writes "<path>.tmp", syncs it and renames it over
// the path in one step, so the path always holds either the old or the new file.
#pragma once
#include "package/buffer.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

enum : uint32_t {
    RVPK_DIR_SIGNATURE = 0x20524944u,   // "DIR "
    RVPK_VERSION = 0x30000u,
};

#pragma pack(push, 1)
struct RVPK_DIRECTORY_HEADER {
    uint32_t uSignature;
    uint32_t uFileFormatVersion;
    uint32_t uDataVersion;          // data version of the package when last saved
    uint32_t uEntryCount;
    char16_t szBranchName[64];      // UTF-16, zero-terminated (read with Rv_ReadFixedString)
    char16_t szConfigFileName[64];  // "Package.CFG"
    uint8_t byReserved[240];        // zero in a new file; kept as loaded
};
#pragma pack(pop)
static_assert(sizeof(RVPK_DIRECTORY_HEADER) == 512, "directory header is 512 bytes");

struct RVPK_DIRECTORY_ENTRY {
    uint64_t ullFileNameHash;
    uint64_t ullAddress;
    uint64_t ullSize;
};

// The hash table length L for a count: false without a log line for a count
// of 0 or a null pointer. 1 -> 1, 2 -> 2, 3 -> 4, 4 -> 5, 10 -> 13, 100 -> 133.
int Rv_GetHashTableLen(uint32_t uEntryCount, uint32_t* puRetHashTableLen);

// A view over a packed entry buffer that it does not own.
class RVPK_DirectoryEntryArray {
public:
    // Width codes 0, 1, 2 (2, 4, 8 bytes); the buffer size W * count (0 for none).
    int Init(uint32_t uEntryCount, uint32_t uFileNameHashSizeType, uint32_t uFileAddressSizeType, uint32_t uFileBufferSizeSizeType,
             uint64_t* pRetArrayBufferSize);
    int AttachToBuffer(unsigned char* pbyArrayBuffer, uint64_t uBufferSize);

    int SetFileNameHash(uint32_t uIndex, uint64_t ullValue);
    int SetFileAddress(uint32_t uIndex, uint64_t ullValue);
    int SetFileBufferSize(uint32_t uIndex, uint64_t ullValue);
    int GetFileNameHash(uint32_t uIndex, uint64_t* pullRetValue);
    int GetFileAddress(uint32_t uIndex, uint64_t* pullRetValue);
    int GetFileBufferSize(uint32_t uIndex, uint64_t* pullRetValue);

    int SortByHashBucket();

private:
    enum { FIELD_HASH = 0, FIELD_ADDRESS = 1, FIELD_SIZE = 2, FIELD_COUNT = 3 };

    // The field's bytes when they lie wholly inside the buffer, else null.
    unsigned char* _FieldAddress(uint32_t uIndex, uint32_t uFieldOffset, uint32_t uFieldWidth);
    int _SetUint16Value(uint32_t uIndex, uint32_t uFieldOffset, uint64_t ullValue);
    int _SetUint32Value(uint32_t uIndex, uint32_t uFieldOffset, uint64_t ullValue);
    int _SetUint64Value(uint32_t uIndex, uint32_t uFieldOffset, uint64_t ullValue);
    int _GetUint16Value(uint32_t uIndex, uint32_t uFieldOffset, uint64_t* pullRetValue);
    int _GetUint32Value(uint32_t uIndex, uint32_t uFieldOffset, uint64_t* pullRetValue);
    int _GetUint64Value(uint32_t uIndex, uint32_t uFieldOffset, uint64_t* pullRetValue);
    int _Set(int nField, uint32_t uIndex, uint64_t ullValue);
    int _Get(int nField, uint32_t uIndex, uint64_t* pullRetValue);

    unsigned char* m_pbyArrayBuffer = nullptr;
    uint32_t m_uEntryWidth = 0;
    uint32_t m_uEntryCount = 0;
    uint64_t m_uBufferSize = 0;   // W * count, in 64 bits so that a hostile count cannot wrap it
    uint32_t m_auFieldOffset[FIELD_COUNT] = {};
    uint32_t m_auFieldWidth[FIELD_COUNT] = {};   // 2, 4 or 8: picks the field's accessors
};

// An address move of the directory files: entries at ullSrcAddress move to ullDestAddress.
struct RVPK_DIRECTORY_MOVE {
    uint64_t ullSrcAddress;
    uint64_t ullDestAddress;
};

typedef std::map<uint64_t, RVPK_DIRECTORY_ENTRY> RVPK_DIRECTORY_ITEM_MAP;

class Rv_DirectoryFile {
public:
    // Path "<folder>\<branch>.DIR" (under 260 characters); the branch must be
    // a safe name of 1 to 63 characters.
    int Init(const char16_t* pcszDirectory, const char16_t* pcszBranchName, uint32_t uFileNameHashSizeType,
             uint32_t uFileAddressSizeType, uint32_t uFileBufferSizeSizeType);
    int Load();
    int AddDirectoryItem(uint64_t ullFileNameHash, uint64_t ullAddress, uint64_t ullSize);
    int ModifyDirectoryItem(uint64_t ullFileNameHash, uint64_t ullAddress, uint64_t ullSize);
    // rMoveList sorted by source address; every entry moves at most once.
    int MoveAddresses(const std::vector<RVPK_DIRECTORY_MOVE>& rMoveList);
    // Writes the file with the given data version (see the top of this file).
    int Save(uint32_t uDataVersion);

    const RVPK_DIRECTORY_ITEM_MAP& GetItemMap() const { return m_DirectoryItemMap; }
    const RVPK_DIRECTORY_HEADER& GetHeader() const { return m_DirectoryHeader; }
    const std::u16string& GetFilePath() const { return m_wstrFilePath; }

private:
    RVPK_DIRECTORY_ITEM_MAP m_DirectoryItemMap;
    RVPK_DIRECTORY_HEADER m_DirectoryHeader{};
    std::u16string m_wstrFilePath;
    std::u16string m_wstrDirectory;
    uint32_t m_uFileNameHashSizeType = 0;
    uint32_t m_uFileAddressSizeType = 0;
    uint32_t m_uFileBufferSizeSizeType = 0;
};

// The directory files of a package by branch name, and the address moves
// collected during an update.
class Rv_DirectoryFiles {
public:
    // Loads every "*.DIR" (extension without case) of the folder.
    int Init(const char16_t* pcszDirFilesDirectory, uint32_t uFileNameHashSizeType, uint32_t uFileAddressSizeType,
             uint32_t uFileBufferSizeSizeType);
    // Loads "<folder>\<branch>.DIR"; fails when the branch is already loaded
    // or the name is not a safe name.
    int Load(const char16_t* pcszDirectory, const char16_t* pcszBranchName);
    // Saves every directory file in branch-name order; the first failure stops.
    int Save(uint32_t uDataVersion);
    int GetDirectoryFile(const std::u16string& strBranchName, Rv_DirectoryFile** ppRetDirectoryFile);
    // Names are compared without case, as the file system finds the files.
    int IsBranchLoaded(const std::u16string& strBranchName) const;
    // Collects one move; nothing changes until FlushMoveDirectory.
    int MoveDirectoryAddress(uint64_t ullSrcAddress, uint64_t ullDestAddress);
    // Applies the collected moves to every directory file at once and empties the list.
    int FlushMoveDirectory();
    int UnInit();
    // Every loaded directory file's path (to sync or check them).
    std::vector<std::u16string> GetFilePaths() const;

private:
    std::map<std::u16string, std::unique_ptr<Rv_DirectoryFile>> m_DirectoryFilesMap;
    std::vector<RVPK_DIRECTORY_MOVE> m_MoveList;
    uint32_t m_uFileNameHashSizeType = 0;
    uint32_t m_uFileAddressSizeType = 0;
    uint32_t m_uFileBufferSizeSizeType = 0;
};

// The 512-byte header of an empty directory file (data version 0, no entries)
// in a new buffer of reference count 1.
int Rv_CreateEmptyDirectoryFileInMemory(const char16_t* pcszBranchName, const char16_t* pcszConfigFileName, IRv_Buffer** ppiRetBuffer);
// Writes "<folder>\<branch>.DIR" as an empty directory file (through a
// temporary name, synced).
int Rv_CreateEmptyDirectoryFile(const char16_t* pcszDirectory, const char16_t* pcszBranchName, const char16_t* pcszConfigFileName);
