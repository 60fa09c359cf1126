// The batch addition of an update: many items whose bytes come from the data
// sources, read one contiguous run of a source at a time and written one
// contiguous run inside a data file at a time.
#include "package/update_operations.h"

#include "package/log_stream.h"
#include "platform/large_buffer.h"

#include <algorithm>
#include <vector>

namespace {
struct Rv_BatchAddDataHandle {
    RVPK_BATCH_ADD_DATA_ITEM Item;
    unsigned char* pbyData;
};
typedef std::vector<Rv_BatchAddDataHandle> RV_BATCH_ADD_DATA_HANDLE_LIST;
}

// Walks the handles in list order and hands each run of handles that join
// the run before them to pfnFlush (first handle of the run, run size).
template <class JOINS, class FLUSH>
static int _ForEachRun(const RV_BATCH_ADD_DATA_HANDLE_LIST& rHandleList, JOINS pfnJoins, FLUSH pfnFlush)
{
    size_t uRunStart = 0;
    uint64_t ullRunSize = 0;

    for (size_t i = 0; i < rHandleList.size(); ++i) {
        if (i > uRunStart && pfnJoins(rHandleList[uRunStart].Item, ullRunSize, rHandleList[i].Item)) {
            ullRunSize += rHandleList[i].Item.ullSize;
            continue;
        }
        if (i > uRunStart && !pfnFlush(rHandleList[uRunStart], ullRunSize))
            return 0;
        uRunStart = i;
        ullRunSize = rHandleList[i].Item.ullSize;
    }
    return rHandleList.empty() || pfnFlush(rHandleList[uRunStart], ullRunSize);
}

// In file order, each run of one source at contiguous offsets is read with
// one request into the handles' consecutive slices.
static int _ReadBatchData(Rv_DataSourceFileReader* pDataSourceFileReader, RV_BATCH_ADD_DATA_HANDLE_LIST& rBatchAddDataHandleList)
{
    int nResult = 0;
    int nRetCode = 0;

    RVPK_PROCESS_ERROR(!rBatchAddDataHandleList.empty());
    nRetCode = _ForEachRun(
        rBatchAddDataHandleList,
        [](const RVPK_BATCH_ADD_DATA_ITEM& Run, uint64_t ullRunSize, const RVPK_BATCH_ADD_DATA_ITEM& Item) {
            return Item.uDataSourceId == Run.uDataSourceId && Item.ullOffsetInDataSource == Run.ullOffsetInDataSource + ullRunSize;
        },
        [pDataSourceFileReader](const Rv_BatchAddDataHandle& Run, uint64_t ullRunSize) {
            return pDataSourceFileReader->ReadData(Run.Item.uDataSourceId, Run.Item.ullOffsetInDataSource, (uint32_t)ullRunSize,
                                                   Run.pbyData);
        });
    RVPK_PROCESS_ERROR(nRetCode);
    nResult = 1;
Exit0:
    return nResult;
}

// Sorted by target address, the items are laid out one after another in the
// write buffer; each run of contiguous targets inside one data file is
// written with one request.
static int _WriteBatchData(Rv_DataFileWriter* pDataFileWriter, uint64_t ullMaxSizePerDataFile,
                           RV_BATCH_ADD_DATA_HANDLE_LIST& rBatchAddDataHandleList, unsigned char* pbyWriteBuffer)
{
    int nResult = 0;
    int nRetCode = 0;
    unsigned char* pbyNext = pbyWriteBuffer;
    bool bInPlace = true;

    RVPK_PROCESS_ERROR(!rBatchAddDataHandleList.empty());
    std::stable_sort(rBatchAddDataHandleList.begin(), rBatchAddDataHandleList.end(),
                     [](const Rv_BatchAddDataHandle& A, const Rv_BatchAddDataHandle& B) { return A.Item.ullAddress < B.Item.ullAddress; });
    // Items that already lie in target order in the read buffer are written
    // from there: copying them would only move the same bytes.
    for (size_t i = 1; i < rBatchAddDataHandleList.size() && bInPlace; ++i)
        bInPlace = rBatchAddDataHandleList[i].pbyData == rBatchAddDataHandleList[i - 1].pbyData + rBatchAddDataHandleList[i - 1].Item.ullSize;
    for (size_t i = 0; i < rBatchAddDataHandleList.size() && !bInPlace; ++i) {
        Rv_BatchAddDataHandle& Handle = rBatchAddDataHandleList[i];
        std::copy(Handle.pbyData, Handle.pbyData + Handle.Item.ullSize, pbyNext);
        Handle.pbyData = pbyNext;
        pbyNext += Handle.Item.ullSize;
    }
    nRetCode = _ForEachRun(
        rBatchAddDataHandleList,
        [ullMaxSizePerDataFile](const RVPK_BATCH_ADD_DATA_ITEM& Run, uint64_t ullRunSize, const RVPK_BATCH_ADD_DATA_ITEM& Item) {
            return Item.ullAddress == Run.ullAddress + ullRunSize &&
                   Item.ullAddress / ullMaxSizePerDataFile == Run.ullAddress / ullMaxSizePerDataFile;
        },
        [pDataFileWriter](const Rv_BatchAddDataHandle& Run, uint64_t ullRunSize) {
            return pDataFileWriter->WriteData(Run.Item.ullAddress, ullRunSize, Run.pbyData);
        });
    RVPK_PROCESS_ERROR(nRetCode);
    nResult = 1;
Exit0:
    return nResult;
}

int _BatchAddData(Rv_UpdateTargets& rTargets)
{
    int nResult = 0;
    int nRetCode = 0;
    RVPK_BATCH_ADD_DATA_HEAD Head;
    uint64_t ullItemListSize = 0;
    uint64_t ullSumOfItemSizes = 0;
    std::vector<RVPK_BATCH_ADD_DATA_ITEM> vecItems;
    RV_BATCH_ADD_DATA_HANDLE_LIST BatchAddDataHandleList;
    Pf_LargeBuffer ReadBuffer;
    Pf_LargeBuffer WriteBuffer;
    unsigned char* pbyNext = nullptr;

    RVPK_ASSERT_EXIT(rTargets.pDataConfig && rTargets.pDataConfig->ullMaxSizePerDataFile > 0);
    nRetCode = rTargets.pUpdateFileReader->GetNextData(&Head, sizeof(Head));
    RVPK_PROCESS_ERROR(nRetCode);
    ullItemListSize = (uint64_t)Head.uItemCount * sizeof(RVPK_BATCH_ADD_DATA_ITEM);
    RVPK_PROCESS_ERROR(ullItemListSize <= UINT32_MAX);
    nRetCode = rTargets.pUpdateFileReader->CheckDataAvailable(ullItemListSize);
    RVPK_PROCESS_ERROR(nRetCode);
    vecItems.resize(Head.uItemCount);
    // A count of 0 fails here ("uDataSize > 0").
    nRetCode = rTargets.pUpdateFileReader->GetNextData(vecItems.data(), (uint32_t)ullItemListSize);
    RVPK_PROCESS_ERROR(nRetCode);

    // The items' bytes lie one after another in a buffer of the total size:
    // a total below their sum would let the slices run past it.
    for (const RVPK_BATCH_ADD_DATA_ITEM& Item : vecItems) {
        RVPK_PROCESS_ERROR(Item.ullSize > 0 && Item.ullSize <= UINT32_MAX);
        ullSumOfItemSizes += Item.ullSize;
    }
    RVPK_PROCESS_ERROR_QUOTING(ullSumOfItemSizes <= Head.uTotalDataSize, "uTotalDataSize >= sum of the item sizes");
    RVPK_PROCESS_ERROR_QUOTING(ullSumOfItemSizes <= SIZE_MAX && ReadBuffer.Allocate((size_t)ullSumOfItemSizes), "pbyReadBuffer");
    RVPK_PROCESS_ERROR_QUOTING(WriteBuffer.Allocate((size_t)ullSumOfItemSizes), "pbyWriteBuffer");

    pbyNext = ReadBuffer.Data();
    for (const RVPK_BATCH_ADD_DATA_ITEM& Item : vecItems) {
        BatchAddDataHandleList.push_back(Rv_BatchAddDataHandle{Item, pbyNext});
        pbyNext += Item.ullSize;
    }
    nRetCode = _ReadBatchData(rTargets.pDataSourceFileReader, BatchAddDataHandleList);
    RVPK_PROCESS_ERROR(nRetCode);
    nRetCode = _WriteBatchData(rTargets.pDataFileWriter, rTargets.pDataConfig->ullMaxSizePerDataFile, BatchAddDataHandleList,
                               WriteBuffer.Data());
    RVPK_PROCESS_ERROR(nRetCode);
    nResult = 1;
Exit0:
    return nResult;
}
