// Outside data-source files of an update file: the 152-byte data-source
// record of the update file's data-source list (the update-file reader fills
// a map of these records, keyed by id), and the reader that opens the sources
// and reads bytes from them for batch additions.
#pragma once
#include "package/update_file.h"

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>

// The record and its map are those of the update-file reader.

class Rv_DataSourceFileReader {
public:
    Rv_DataSourceFileReader() = default;
    ~Rv_DataSourceFileReader();
    Rv_DataSourceFileReader(const Rv_DataSourceFileReader&) = delete;
    Rv_DataSourceFileReader& operator=(const Rv_DataSourceFileReader&) = delete;

    // Opens every source in ascending id order: a record whose uIsUpdateFileItself
    // is set opens pcszExplicitFilePath when one is given; otherwise the
    // record's file name (a terminated relative path inside pcszDirectory:
    // sub-folders allowed, no "..", nothing rooted, no drive). An empty map
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
