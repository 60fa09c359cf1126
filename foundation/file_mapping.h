// A read-only memory mapping of a whole file, viewed piece by piece, and the
// CRC-32 of a whole file.
#pragma once
#include <cstdint>

struct Pf_MapFile;
struct Pf_Mapping;

class Rv_FileMapping {
public:
    Rv_FileMapping();
    ~Rv_FileMapping();
    Rv_FileMapping(const Rv_FileMapping&) = delete;
    Rv_FileMapping& operator=(const Rv_FileMapping&) = delete;

    // Opens the file and maps its first view. Files of 4 GiB and more are
    // refused; an empty file opens without a mapping (it has no data).
    int Init(const char* cszFileName);
    // Points *ppvRetData at uSize bytes from uOffset, mapping another view
    // when the range is outside the current one. A range past the file's
    // current end fails, also inside the current view; the bytes are good
    // only while the file keeps its size (a touch past a new end faults).
    int GetData(uint32_t uOffset, uint32_t uSize, void** ppvRetData);
    uint32_t GetFileSize() const { return m_uFileSize; }
    // Releases the view, the mapping and the file, in this order.
    void UnInit();

private:
    int _ReMappingData(uint32_t uOffset);
    void _ReleaseView();

    Pf_MapFile* m_hFile;
    Pf_Mapping* m_hMapping;
    uint32_t m_uFileSize;
    uint32_t m_uGranularity;
    uint32_t m_uOffset;
    uint32_t m_uMappingSize;
    unsigned char* m_pbyData;
};

// The CRC-32 of a whole file (below 4 GiB; an empty file gives 0), read in
// chunks without a mapping: a file that shrinks while it is read fails.
int Rv_GetFileCRC(const char* cszFileName, uint32_t* puRetCRC);
