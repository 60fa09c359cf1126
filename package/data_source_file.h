// Outside data-source files of an update file: the 152-byte data-source
// record of the update file's data-source list (the update-file reader fills
// a map of these records, keyed by id), and the reader that opens the sources
// and reads bytes from them for batch additions.
#pragma once
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>

#pragma pack(push, 1)
struct RVPK_DATA_SOURCE_FILE_INFO {
    uint32_t uDataSourceId;        // unique within the update file
    uint32_t uInUpdateFile;        // non-zero: the source is the update file itself; 0: a file of the working folder
    char16_t szFileName[64];       // UTF-16, zero-terminated, relative to the working folder
    uint64_t ullBaseOffset;        // where this source's bytes begin inside its file
    uint8_t byReserved[8];
};
#pragma pack(pop)
static_assert(sizeof(RVPK_DATA_SOURCE_FILE_INFO) == 152, "data-source record is 152 bytes");

typedef std::map<uint32_t, RVPK_DATA_SOURCE_FILE_INFO> RVPK_DATA_SOURCE_FILE_INFO_MAP;

class Rv_DataSourceFileReader {
public:
    Rv_DataSourceFileReader() = default;
    ~Rv_DataSourceFileReader();
    Rv_DataSourceFileReader(const Rv_DataSourceFileReader&) = delete;
    Rv_DataSourceFileReader& operator=(const Rv_DataSourceFileReader&) = delete;

    // Opens every source in ascending id order: a record whose uInUpdateFile
    // is set opens pcszExplicitFilePath when one is given; otherwise the
    // record's file name (a single safe name: no separators, no "..", not
    // empty, terminated inside its field) inside pcszDirectory. An empty map
    // succeeds at once. On failure everything opened is closed.
    int Init(const RVPK_DATA_SOURCE_FILE_INFO_MAP& rDataSourceFileInfoMap, const char16_t* pcszExplicitFilePath,
             const char16_t* pcszDirectory);
    // Closes every source; returns 1.
    int Uninit();
    // Reads exactly uDataSize bytes at the source's base offset + ullOffset.
    int ReadData(uint32_t uDataSourceId, uint64_t ullOffset, uint32_t uDataSize, void* pbyDataBuffer);

private:
    struct Rv_DataSourceFileHandle {
        RVPK_DATA_SOURCE_FILE_INFO Info;
        FILE* fpFile;
    };
    std::map<uint32_t, Rv_DataSourceFileHandle> m_DataSourceFileHandleMap;
};
