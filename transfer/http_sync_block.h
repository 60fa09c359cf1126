// Ranged block reader: chosen byte ranges of one remote file read straight
// into the caller's buffers in one blocking call, adjacent ranges fetched
// together with a single ranged GET. Used by one thread at a time.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct Rv_HttpBlockInfo {
    uint32_t uOffset;       // in the remote file
    uint32_t uSize;         // above 0
    void* pvRetBuffer;      // the caller's, at least uSize bytes, valid until Download returns
};

class Rv_HttpSyncBlock {
public:
    // Sets the URL and empties the block list.
    int Init(const char* cszFileURL);
    // Appends a block; overlapping or repeated blocks are kept as they are.
    int AddBlock(uint32_t uOffset, uint32_t uSize, void* pvRetBuffer);
    // Fetches every block in offset order: 1 when all arrived complete, 0 at
    // the first failure (buffers of the blocks before it keep their data).
    int Download();

private:
    // Fetches the run of exactly adjacent blocks that starts at *puIndex and
    // moves *puIndex past it.
    int _DownloadContinuousBlock(size_t* puIndex);

    std::string m_strFileURL;
    std::vector<Rv_HttpBlockInfo> m_BlockInfoVector;
};
