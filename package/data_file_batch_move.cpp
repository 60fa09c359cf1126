// The batch move of the data-file writer: all moves of a batch take effect
// at once, like the directory side's address moves.
#include "package/data_file.h"

#include "package/log_stream.h"
#include "package/wide_string.h"
#include "platform/file.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

namespace {
struct Rv_BatchMoveItem {
    RVPK_MOVE_DATA_BLOCK Move;
    IRv_FileMapping* piSrc;
    uint64_t ullSrcOffset;
    uint32_t uSrcIndex;
    IRv_FileMapping* piDest;
    uint64_t ullDestOffset;
    uint32_t uDestIndex;
    std::unique_ptr<unsigned char[]> pbySnapshot;   // the source bytes before the batch, when a destination covers them
};

struct Rv_AddressRange {
    uint64_t ullBegin;
    uint64_t ullEnd;
};

// The first range of the sorted, merged list that ends after ullAddress.
std::vector<Rv_AddressRange>::const_iterator _FirstEndingAfter(const std::vector<Rv_AddressRange>& rRanges, uint64_t ullAddress)
{
    return std::upper_bound(rRanges.begin(), rRanges.end(), ullAddress,
                            [](uint64_t ullValue, const Rv_AddressRange& Range) { return ullValue < Range.ullEnd; });
}
}

// Copies a range from one data file to another with plain reads and writes,
// through the writer's copy buffer.
int Rv_DataFileWriter::_CopyBetween(IRv_FileMapping* piSrc, uint64_t ullSrcOffset, IRv_FileMapping* piDest, uint64_t ullDestOffset,
                                    uint64_t ullSize)
{
    int nResult = 0;
    HRESULT hrRetCode = E_FAIL;
    unsigned char* pbyChunk = _CopyBuffer();
    uint64_t ullDone = 0;

    RVPK_PROCESS_ERROR_QUOTING(pbyChunk, "pbyChunk");
    while (ullDone < ullSize) {
        uint32_t uChunk = (uint32_t)std::min(s_ullMoveChunkSize, ullSize - ullDone);
        hrRetCode = piSrc->Read(ullSrcOffset + ullDone, uChunk, pbyChunk);
        RVPK_COM_PROCESS_ERROR(hrRetCode);
        hrRetCode = piDest->Write(ullDestOffset + ullDone, uChunk, pbyChunk);
        RVPK_COM_PROCESS_ERROR(hrRetCode);
        ullDone += uChunk;
    }
    nResult = 1;
Exit0:
    return nResult;
}

int Rv_DataFileWriter::BatchMoveMoveDataBlock(const std::vector<RVPK_MOVE_DATA_BLOCK>& rMoveList)
{
    int nResult = 0;
    int nRetCode = 0;
    HRESULT hrRetCode = E_FAIL;
    std::vector<Rv_BatchMoveItem> vecItems;
    std::vector<Rv_AddressRange> vecDestRanges;

    RVPK_ASSERT_EXIT(!m_FileMappingArray.empty());
    // Every move is checked before anything is written: the sources in
    // source order, then the destinations in destination order.
    for (const RVPK_MOVE_DATA_BLOCK& Move : rMoveList)
        vecItems.push_back(Rv_BatchMoveItem{Move, nullptr, 0, 0, nullptr, 0, 0, nullptr});
    std::stable_sort(vecItems.begin(), vecItems.end(), [](const Rv_BatchMoveItem& A, const Rv_BatchMoveItem& B) {
        return A.Move.ullSrcAddress < B.Move.ullSrcAddress;
    });
    for (Rv_BatchMoveItem& Item : vecItems) {
        // A move of nothing has no range to check, and a caller would still
        // move its directory entries.
        RVPK_PROCESS_ERROR_QUOTING(Item.Move.ullSize != 0, "ullSize != 0");
        RVPK_PROCESS_ERROR_QUOTING(Item.Move.ullSrcAddress != Item.Move.ullDestAddress,
                                   "itMoveDataItem->ullSrcAddress != itMoveDataItem->ullDestAddress");
        nRetCode = _GetMapping(Item.Move.ullSrcAddress, Item.Move.ullSize, "uSrcDataFielIndex < m_FileMappingArray.size()", &Item.piSrc,
                               &Item.ullSrcOffset, &Item.uSrcIndex);
        RVPK_PROCESS_ERROR(nRetCode);
    }
    std::stable_sort(vecItems.begin(), vecItems.end(), [](const Rv_BatchMoveItem& A, const Rv_BatchMoveItem& B) {
        return A.Move.ullDestAddress < B.Move.ullDestAddress;
    });
    for (Rv_BatchMoveItem& Item : vecItems) {
        nRetCode = _GetMapping(Item.Move.ullDestAddress, Item.Move.ullSize, "uDestDataFileIndex < m_FileMappingArray.size()", &Item.piDest,
                               &Item.ullDestOffset, &Item.uDestIndex);
        RVPK_PROCESS_ERROR(nRetCode);
        vecDestRanges.push_back({Item.Move.ullDestAddress, Item.Move.ullDestAddress + Item.Move.ullSize});
    }
    // The union of the destinations, sorted and merged.
    std::sort(vecDestRanges.begin(), vecDestRanges.end(),
              [](const Rv_AddressRange& A, const Rv_AddressRange& B) { return A.ullBegin < B.ullBegin; });
    {
        std::vector<Rv_AddressRange> vecMerged;
        for (const Rv_AddressRange& Range : vecDestRanges) {
            if (!vecMerged.empty() && Range.ullBegin <= vecMerged.back().ullEnd)
                vecMerged.back().ullEnd = std::max(vecMerged.back().ullEnd, Range.ullEnd);
            else
                vecMerged.push_back(Range);
        }
        vecDestRanges.swap(vecMerged);
    }

    // A source that some destination writes over is copied out first.
    for (Rv_BatchMoveItem& Item : vecItems) {
        uint64_t ullEnd = Item.Move.ullSrcAddress + Item.Move.ullSize;
        auto itRange = _FirstEndingAfter(vecDestRanges, Item.Move.ullSrcAddress);
        if (itRange == vecDestRanges.end() || itRange->ullBegin >= ullEnd)
            continue;
        Item.pbySnapshot.reset(new (std::nothrow) unsigned char[Item.Move.ullSize]);
        RVPK_PROCESS_ERROR_QUOTING(Item.pbySnapshot, "snapshot of an overwritten source");
        hrRetCode = Item.piSrc->Read(Item.ullSrcOffset, (uint32_t)Item.Move.ullSize, Item.pbySnapshot.get());
        RVPK_COM_PROCESS_ERROR(hrRetCode);
    }

    // The destinations, in address order (as the list already is).
    for (Rv_BatchMoveItem& Item : vecItems) {
        m_vecDirtyFlags[Item.uDestIndex] = 1;
        if (Item.pbySnapshot) {
            hrRetCode = Item.piDest->Write(Item.ullDestOffset, (uint32_t)Item.Move.ullSize, Item.pbySnapshot.get());
            RVPK_COM_PROCESS_ERROR(hrRetCode);
        } else {
            nRetCode = _CopyBetween(Item.piSrc, Item.ullSrcOffset, Item.piDest, Item.ullDestOffset, Item.Move.ullSize);
            RVPK_PROCESS_ERROR(nRetCode);
        }
        m_vecChangedFlags[Item.uDestIndex] = 1;
    }
    // The disk writes the moved bytes out while the sources are emptied.
    for (size_t i = 0; i < vecItems.size(); ++i)
        if (i == 0 || vecItems[i].uDestIndex != vecItems[i - 1].uDestIndex)
            Pf_StartWriteback(Rv_ToNarrow(m_vecDataFilePaths[vecItems[i].uDestIndex]));

    // The source bytes that no destination covers become empty. Sources are
    // not stamped as changed.
    for (Rv_BatchMoveItem& Item : vecItems) {
        uint64_t ullPos = Item.Move.ullSrcAddress;
        uint64_t ullEnd = Item.Move.ullSrcAddress + Item.Move.ullSize;
        auto itRange = _FirstEndingAfter(vecDestRanges, ullPos);
        m_vecDirtyFlags[Item.uSrcIndex] = 1;
        while (ullPos < ullEnd) {
            uint64_t ullGapEnd = (itRange == vecDestRanges.end()) ? ullEnd : std::min(ullEnd, std::max(ullPos, itRange->ullBegin));
            if (ullGapEnd > ullPos) {
                nRetCode = _FillEmpty(ullPos, ullGapEnd - ullPos);
                RVPK_PROCESS_ERROR(nRetCode);
            }
            if (itRange == vecDestRanges.end())
                break;
            ullPos = std::max(ullGapEnd, itRange->ullEnd);
            ++itRange;
        }
    }
    nResult = 1;
Exit0:
    return nResult;
}
