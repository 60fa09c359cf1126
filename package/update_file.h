// The update file of a current-format package: a 256-byte header, a stream
// of typed operations, the list of data ranges that the operations overwrite
// and the list of outside files that operations may take data from; and the
// reader that walks it. Every count and size read from the file is checked
// against the bytes the file holds before anything is sized by it.
#pragma once
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

static_assert(std::endian::native == std::endian::little, "on-disk records are little-endian");

enum : uint32_t { RVPK_UPD_SIGNATURE = 0x20445055 };   // "UPD "

enum RVPK_UPDATE_OPERATION_TYPE : int8_t {
    RVPK_OP_ADD_DIR_INDEX = 0,
    RVPK_OP_MODIFY_DIRECTORY_ENTRY = 2,
    RVPK_OP_ADD_DATA = 3,
    RVPK_OP_REMOVE_DATA = 4,
    RVPK_OP_ADD_EMPTY_DATA_FILE = 5,
    RVPK_OP_MOVE_DATA = 6,
    RVPK_OP_ADD_ALONE_FILE = 7,
    RVPK_OP_ADD_DIRECTORY_FILE = 8,
    RVPK_OP_BATCH_MOVE_DATA = 9,
    RVPK_OP_BATCH_ADD_DATA = 10,
};

#pragma pack(push, 1)
struct RVPK_UPDATE_FILE_HEADER {
    uint32_t uSignature;
    uint8_t byReserved0[24];
    uint32_t uFromDataVersion;
    uint32_t uToDataVersion;
    uint32_t uOperationCount;
    char16_t szBranchName[64];
    uint64_t ullOverwriteDataSegmentListOffset;
    uint32_t uOverwriteDataSegmentCount;
    uint32_t uUpdateKeyInUpdateFile;
    uint32_t uNewUpdateKey;
    uint64_t ullDataSourceFileListOffset;
    uint32_t uDataSourceFileCount;
    uint8_t byReserved1[56];
};

// Types 0 and 2.
struct RVPK_DIRECTORY_ENTRY_OPERATION {
    uint64_t ullFileNameHash;
    uint64_t ullAddress;
    uint64_t ullSize;
};
// Types 3 and 4; also an overwrite segment.
struct RVPK_DATA_SEGMENT {
    uint64_t ullAddress;
    uint64_t ullSize;
};
// Type 5.
struct RVPK_ADD_EMPTY_DATA_FILE_OPERATION {
    uint32_t uFirstDataFileIndex;
    uint32_t uDataFileCount;
};
// Type 6, and each record of type 9.
struct RVPK_MOVE_DATA_OPERATION {
    uint64_t ullSrcAddress;
    uint64_t ullDestAddress;
    uint64_t ullSize;
};
// Types 7 (relative file path) and 8 (branch name); the content follows.
struct RVPK_ADD_FILE_OPERATION {
    char16_t szName[64];
    uint32_t uSize;
    uint8_t byReserved[4];
};
// Type 10 head; the items follow.
struct RVPK_BATCH_ADD_DATA_HEAD {
    uint32_t uItemCount;
    uint32_t uTotalDataSize;
    uint8_t byReserved[4];
};
struct RVPK_BATCH_ADD_DATA_ITEM {
    uint64_t ullAddress;
    uint64_t ullSize;
    uint32_t uDataSourceId;
    uint64_t ullOffsetInDataSource;
};
struct RVPK_DATA_SOURCE_FILE_INFO {
    uint32_t uDataSourceId;
    uint32_t uIsUpdateFileItself;
    char16_t szFileName[64];
    uint64_t ullBaseOffset;
    uint8_t byReserved[8];
};
#pragma pack(pop)
static_assert(sizeof(RVPK_UPDATE_FILE_HEADER) == 256, "RVPK_UPDATE_FILE_HEADER is 256 bytes");
static_assert(offsetof(RVPK_UPDATE_FILE_HEADER, uFromDataVersion) == 28);
static_assert(offsetof(RVPK_UPDATE_FILE_HEADER, szBranchName) == 40);
static_assert(offsetof(RVPK_UPDATE_FILE_HEADER, ullOverwriteDataSegmentListOffset) == 168);
static_assert(offsetof(RVPK_UPDATE_FILE_HEADER, uUpdateKeyInUpdateFile) == 180);
static_assert(offsetof(RVPK_UPDATE_FILE_HEADER, ullDataSourceFileListOffset) == 188);
static_assert(offsetof(RVPK_UPDATE_FILE_HEADER, uDataSourceFileCount) == 196);
static_assert(sizeof(RVPK_DIRECTORY_ENTRY_OPERATION) == 24);
static_assert(sizeof(RVPK_DATA_SEGMENT) == 16);
static_assert(sizeof(RVPK_ADD_EMPTY_DATA_FILE_OPERATION) == 8);
static_assert(sizeof(RVPK_MOVE_DATA_OPERATION) == 24);
static_assert(sizeof(RVPK_ADD_FILE_OPERATION) == 136);
static_assert(offsetof(RVPK_ADD_FILE_OPERATION, uSize) == 128);
static_assert(sizeof(RVPK_BATCH_ADD_DATA_HEAD) == 12);
static_assert(sizeof(RVPK_BATCH_ADD_DATA_ITEM) == 28);
static_assert(offsetof(RVPK_BATCH_ADD_DATA_ITEM, ullOffsetInDataSource) == 20);
static_assert(sizeof(RVPK_DATA_SOURCE_FILE_INFO) == 152);
static_assert(offsetof(RVPK_DATA_SOURCE_FILE_INFO, ullBaseOffset) == 136);

typedef std::map<uint32_t, RVPK_DATA_SOURCE_FILE_INFO> RVPK_DATA_SOURCE_FILE_INFO_MAP;

class Rv_UpdateFileReader {
public:
    Rv_UpdateFileReader();
    ~Rv_UpdateFileReader();
    Rv_UpdateFileReader(const Rv_UpdateFileReader&) = delete;
    Rv_UpdateFileReader& operator=(const Rv_UpdateFileReader&) = delete;

    int Init(const char16_t* pcszUpdateFileName);
    // Opens the file and reads the header; the stream then stands at 256.
    // The header's branch name must be a terminated plain name.
    int BeginRead(RVPK_UPDATE_FILE_HEADER* pRetHeader);
    int GetNextOpeartionType(int8_t* pcRetOperationType, int* pbRetNoMoreOperation);
    int GetNextData(void* pvRetDataBuffer, uint32_t uDataSize);
    // Fails when fewer than ullSize bytes follow the stream position; callers
    // check this before they allocate a buffer of a size read from the file.
    int CheckDataAvailable(uint64_t ullSize);
    // Closes the file; fails when not every operation was read.
    int EndRead();
    // Closes the file without the operation count check.
    void Close();
    int GetBackupDataSegmentRegion(std::vector<RVPK_DATA_SEGMENT>* pRetOverwriteDataSegmentList);
    // Every record's file name must be a terminated safe relative path.
    int GetDataSourceFileInforMap(RVPK_DATA_SOURCE_FILE_INFO_MAP* pRetDataSourceFileInfoMap);

private:
    int _ReadList(uint64_t ullOffset, uint64_t ullCount, size_t uRecordSize, void* pvRet, const char* cszReadCheck);

    std::u16string m_szUpdateFilePath;
    FILE* m_fpUpdateFile;
    RVPK_UPDATE_FILE_HEADER m_Header;
    uint32_t m_uReadOperationCount;
    uint64_t m_ullFileSize;
};
