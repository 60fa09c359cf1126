// The numbered data files of a package and the classes that read and write
// them. Every byte of a package has a 64-bit global address:
//     address = data-file index * maximum size per data file + offset in that file
// Data file N is "<folder>/<prefix>N.DAT" (the legacy extension "DATA" is used
// only while no ".DAT" of that name exists). Empty space is filled with 0xCE.
//
// The maximum size per data file must be between 1 and UINT32_MAX; the
// prefix must be a single safe name (no separators, no "..", not empty).
#pragma once
#include "package/buffer.h"
#include "package/file_mapping.h"
#include "platform/large_buffer.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

enum {
    RVPK_DATA_FILE_PATH_LEN = 260,
    RVPK_EMPTY_BYTE = 0xCE,
};

// One block move: the batch move takes a list of these (24 bytes each, laid
// out like the update file's move record).
#pragma pack(push, 1)
struct RVPK_MOVE_DATA_BLOCK {
    uint64_t ullSrcAddress;
    uint64_t ullDestAddress;
    uint64_t ullSize;
};
#pragma pack(pop)
static_assert(sizeof(RVPK_MOVE_DATA_BLOCK) == 24, "move record is 24 bytes");

// The path of data file uIndex: "%s/%s%u.DAT" when that file exists, else "%s/%s%u.DATA".
int Rv_GetDataFilePath(char16_t* pszRetFilePath, unsigned uRetFilePathLen, const char16_t* pcszDirectory,
                       const char16_t* pcszFileNamePrefix, uint32_t uIndex);

// Creates (or truncates) a data file of ullEmptyDataSize bytes (1 .. UINT32_MAX),
// every byte 0xCE, synced to the disk.
int Rv_CreateEmptyDataFile(const char16_t* pcszDataFilePath, uint64_t ullEmptyDataSize);

// Plain reads, used to copy data out for a backup.
class Rv_DataFileReader {
public:
    Rv_DataFileReader() = default;
    ~Rv_DataFileReader();
    Rv_DataFileReader(const Rv_DataFileReader&) = delete;
    Rv_DataFileReader& operator=(const Rv_DataFileReader&) = delete;

    int Init(const char16_t* pcszDirectory, const char16_t* pcszFileNamePrefix, uint64_t ullMaxSizePerDataFile, uint32_t uFileCount);
    int Uninit();
    // A new buffer (reference count 1, the caller releases it) with ullSize
    // bytes (1 .. the maximum size per data file) at the address. A range that
    // runs past the end of its data file fails.
    int ReadRawData(uint64_t ullAddress, uint64_t ullSize, IRv_Buffer** ppRetBuffer);

private:
    uint64_t m_ullMaxSizePerDataFile = 0;
    std::u16string m_wstrDirectory;
    std::u16string m_wstrFileNamePrefix;
    std::vector<FILE*> m_fpDataFileArray;
};

// All writes of an update, to the data files opened as read-write mappings,
// with plain reads and writes (IRv_FileMapping::Read and Write).
class Rv_DataFileWriter {
public:
    Rv_DataFileWriter() = default;
    ~Rv_DataFileWriter();
    Rv_DataFileWriter(const Rv_DataFileWriter&) = delete;
    Rv_DataFileWriter& operator=(const Rv_DataFileWriter&) = delete;

    // Opens a read-write mapping of data files 0 .. uFileCount-1 (uFileCount
    // may be 0). pcszDirectory is the package folder, absolute.
    int Init(const char16_t* pcszDirectory, const char16_t* pcszFileNamePrefix, uint64_t ullMaxSizePerDataFile, uint32_t uFileCount);
    // Releases the mappings and stamps the changed files with the current time.
    int Uninit();
    // Appends data file uDataFileIndex (must equal the current count) as
    // "<prefix><index>.DAT", full of 0xCE.
    int AddEmptyDataFile(uint32_t uDataFileIndex);
    int WriteData(uint64_t ullAddress, uint64_t ullSize, const void* pbyDataBuffer);
    // Overwrites the range with 0xCE.
    int RemoveData(uint64_t ullAddress, uint64_t ullSize);
    // Moves a block (source and destination must not overlap); the source
    // then reads 0xCE.
    int MoveDataBlock(uint64_t ullSrcAddress, uint64_t ullSize, uint64_t ullDestAddress);
    // Applies all moves at once: every destination receives the bytes its
    // source held before the batch, even when other moves of the batch write
    // over that source (chains A->B->C, compaction); afterwards the source
    // bytes that no destination covers read 0xCE.
    int BatchMoveMoveDataBlock(const std::vector<RVPK_MOVE_DATA_BLOCK>& rMoveList);
    // Flushes every data file changed so far, and the folder, to the disk
    // (call before the package is marked as no longer updating).
    int SyncDataFiles();

    uint32_t GetFileCount() const { return m_uFileCount; }

private:
    // The mapping of the data file holding [address, address + size): the
    // range must lie inside one data file and fit one view. cszIndexText is
    // the caller's words for the check of the file's index.
    int _GetMapping(uint64_t ullAddress, uint64_t ullSize, const char* cszIndexText, IRv_FileMapping** ppiRetMapping, uint64_t* pullRetOffset,
                    uint32_t* puRetIndex);
    int _FillEmpty(uint64_t ullAddress, uint64_t ullSize);
    // Moves copy through one buffer of this size, made on first use.
    static constexpr uint64_t s_ullMoveChunkSize = 10 * 1024 * 1024;
    unsigned char* _CopyBuffer();
    int _CopyBetween(IRv_FileMapping* piSrc, uint64_t ullSrcOffset, IRv_FileMapping* piDest, uint64_t ullDestOffset, uint64_t ullSize);
    int _OpenMapping(uint32_t uIndex, const std::u16string& strPath);
    int _SetAllDataFileToCurrentTime();
    void _ReleaseAll();

    uint32_t m_uFileCount = 0;
    std::u16string m_wstrFileNamePrefix;
    std::u16string m_wstrDirectory;
    uint64_t m_ullMaxSizePerDataFile = 0;
    int m_bOpenDataFiles = 0;
    IRv_FileManager* m_piFileManager = nullptr;
    std::vector<IRv_FileMapping*> m_FileMappingArray;
    std::vector<std::u16string> m_vecDataFilePaths;
    std::vector<int> m_vecChangedFlags;   // stamped with the current time at Uninit
    std::vector<int> m_vecDirtyFlags;     // written in any way: synced by SyncDataFiles
    std::vector<uint64_t> m_vecWriteTimes;   // last-write times when opened (FILETIME)
    Pf_LargeBuffer m_EmptyBuffer;   // 0xCE, made on first use
    Pf_LargeBuffer m_CopyBuffer;
};
