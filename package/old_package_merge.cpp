// The merge of two "PACK" packages: the second one's data block appended to
// the first, the indexes merged, the merged index appended, the header last.
#include "package/old_package_merge.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <new>
#include <vector>

#include "foundation/log.h"
#include "package/single_file_package.h"
#include "platform/crash_point.h"
#include "platform/file.h"
#include "platform/stream.h"
#include "platform/stream_length.h"

namespace {

const size_t s_uCopyChunkSize = 1048576;

// Puts each entry of the second index into the merged one: at the first entry
// of a greater id it is inserted, an entry of equal id takes its offset and
// words, behind the last one it is appended.
void _MergeIndex(std::vector<PackFileIndexEntry>* pMerged, const std::vector<PackFileIndexEntry>& AddIndex,
                 uint32_t uAddDataOffset, uint32_t uOldEnd)
{
    bool bSorted = std::is_sorted(pMerged->begin(), pMerged->end(),
        [](const PackFileIndexEntry& A, const PackFileIndexEntry& B) { return A.uFileId < B.uFileId; });
    for (const PackFileIndexEntry& AddEntry : AddIndex) {
        PackFileIndexEntry NewEntry = AddEntry;
        NewEntry.uOffset = AddEntry.uOffset - uAddDataOffset + uOldEnd;
        auto IsAtOrAbove = [&](const PackFileIndexEntry& E) { return E.uFileId >= NewEntry.uFileId; };
        // A sorted list stays sorted, and its first entry at or above the id
        // is found by halving instead of scanning.
        auto it = bSorted
            ? std::lower_bound(pMerged->begin(), pMerged->end(), NewEntry,
                  [](const PackFileIndexEntry& A, const PackFileIndexEntry& B) { return A.uFileId < B.uFileId; })
            : std::find_if(pMerged->begin(), pMerged->end(), IsAtOrAbove);
        if (it != pMerged->end() && it->uFileId == NewEntry.uFileId)
            *it = NewEntry;
        else
            pMerged->insert(it, NewEntry);
    }
}

} // namespace

bool PackComb(const char* stdFilePath, const char* addFilePath)
{
    bool bResult = false;
    int nRetCode = 0;
    int bAppended = 0;
    FILE* stdFile = nullptr;
    FILE* addFile = nullptr;
    size_t uReadCount = 0;
    size_t uWriteCount = 0;
    uint64_t uStdLength = 0;
    uint64_t uAddLength = 0;
    uint64_t uOldEnd = 0;
    uint64_t uBlockSize = 0;
    uint64_t uSizeLeft = 0;
    uint64_t uNewIndexOffset = 0;
    PackFileHeader stdHeader {};
    PackFileHeader addHeader {};
    PackFileHeader oldStdHeader {};
    std::vector<PackFileIndexEntry> stdIndex;
    std::vector<PackFileIndexEntry> addIndex;
    std::unique_ptr<uint8_t[]> pbyCopyBuffer;

    RVLOG_PROCESS_ERROR(stdFilePath);
    RVLOG_PROCESS_ERROR(addFilePath);

    stdFile = Pf_FOpen(stdFilePath, "r+b");
    RVLOG_PROCESS_ERROR(stdFile);
    addFile = Pf_FOpen(addFilePath, "rb");
    RVLOG_PROCESS_ERROR(addFile);
    uReadCount = fread(&stdHeader, sizeof(stdHeader), 1, stdFile);
    RVLOG_PROCESS_ERROR(uReadCount == 1);
    uReadCount = fread(&addHeader, sizeof(addHeader), 1, addFile);
    RVLOG_PROCESS_ERROR(uReadCount == 1);

    RVLOG_PROCESS_SUCCESS(addHeader.count == 0);
    oldStdHeader = stdHeader;

    RVLOG_PROCESS_ERROR(((uint64_t)stdHeader.count + addHeader.count) < MAX_FILE);

    nRetCode = Pf_GetStreamLength(stdFile, &uStdLength);
    RVLOG_PROCESS_ERROR(nRetCode);
    nRetCode = Pf_GetStreamLength(addFile, &uAddLength);
    RVLOG_PROCESS_ERROR(nRetCode);
    RVLOG_PROCESS_ERROR(RvPack_IsAreaInFile(stdHeader.uIndexOffset, (uint64_t)stdHeader.count * sizeof(PackFileIndexEntry), uStdLength));
    RVLOG_PROCESS_ERROR(RvPack_IsAreaInFile(addHeader.uIndexOffset, (uint64_t)addHeader.count * sizeof(PackFileIndexEntry), uAddLength));
    RVLOG_PROCESS_ERROR(addHeader.uDataOffset <= addHeader.uIndexOffset);

    stdIndex.reserve((size_t)stdHeader.count + addHeader.count);
    stdIndex.resize(stdHeader.count);
    addIndex.resize(addHeader.count);
    if (stdHeader.count > 0) {
        nRetCode = fseek(stdFile, (long)stdHeader.uIndexOffset, SEEK_SET);
        RVLOG_PROCESS_ERROR(nRetCode == 0);
        uReadCount = fread(stdIndex.data(), sizeof(PackFileIndexEntry), stdHeader.count, stdFile);
        RVLOG_PROCESS_ERROR(uReadCount == stdHeader.count);
    }
    nRetCode = fseek(addFile, (long)addHeader.uIndexOffset, SEEK_SET);
    RVLOG_PROCESS_ERROR(nRetCode == 0);
    uReadCount = fread(addIndex.data(), sizeof(PackFileIndexEntry), addHeader.count, addFile);
    RVLOG_PROCESS_ERROR(uReadCount == addHeader.count);

    // Every new entry must point into the appended block, and the offsets of
    // the merged file must stay 32-bit.
    uBlockSize = addHeader.uIndexOffset - addHeader.uDataOffset;
    for (const PackFileIndexEntry& Entry : addIndex)
        RVLOG_PROCESS_ERROR(Entry.uOffset >= addHeader.uDataOffset && Entry.uOffset <= addHeader.uIndexOffset);
    nRetCode = fseek(stdFile, 0, SEEK_END);
    RVLOG_PROCESS_ERROR(nRetCode == 0);
    uOldEnd = uStdLength;
    RVLOG_PROCESS_ERROR(uOldEnd + uBlockSize + ((uint64_t)stdHeader.count + addHeader.count) * sizeof(PackFileIndexEntry) <= UINT32_MAX);

    pbyCopyBuffer.reset(new (std::nothrow) uint8_t[s_uCopyChunkSize]);
    RVLOG_PROCESS_ERROR(pbyCopyBuffer);
    nRetCode = fseek(addFile, (long)addHeader.uDataOffset, SEEK_SET);
    RVLOG_PROCESS_ERROR(nRetCode == 0);
    bAppended = 1;
    uSizeLeft = uBlockSize;
    while (uSizeLeft > 0) {
        size_t uChunk = (size_t)std::min<uint64_t>(uSizeLeft, s_uCopyChunkSize);
        uReadCount = fread(pbyCopyBuffer.get(), 1, uChunk, addFile);
        RVLOG_PROCESS_ERROR(uReadCount == uChunk);
        Pf_CrashPoint();
        // fwrite retries short writes itself: a short count is an error, not progress to wait for.
        uWriteCount = fwrite(pbyCopyBuffer.get(), 1, uChunk, stdFile);
        RVLOG_PROCESS_ERROR(uWriteCount == uChunk);
        uSizeLeft -= uChunk;
    }

    _MergeIndex(&stdIndex, addIndex, addHeader.uDataOffset, (uint32_t)uOldEnd);

    uNewIndexOffset = uOldEnd + uBlockSize;
    Pf_CrashPoint();
    uWriteCount = fwrite(stdIndex.data(), sizeof(PackFileIndexEntry), stdIndex.size(), stdFile);
    RVLOG_PROCESS_ERROR(uWriteCount == stdIndex.size());

    // The data and the index are on the disk before the header points at them.
    Pf_CrashPoint();
    nRetCode = Pf_SyncStream(stdFile);
    RVLOG_PROCESS_ERROR(nRetCode && "Pf_SyncStream(stdFile)");

    stdHeader.uIndexOffset = (uint32_t)uNewIndexOffset;
    stdHeader.count = (uint32_t)stdIndex.size();
    nRetCode = fseek(stdFile, 0, SEEK_SET);
    RVLOG_PROCESS_ERROR(nRetCode == 0);
    Pf_CrashPoint();
    uWriteCount = fwrite(&stdHeader, sizeof(stdHeader), 1, stdFile);
    RVLOG_PROCESS_ERROR(uWriteCount == 1);
    bAppended = 0;

    Pf_CrashPoint();
    nRetCode = Pf_CloseWrittenStream(stdFile, 1);
    stdFile = nullptr;
    RVLOG_PROCESS_ERROR(nRetCode && "Pf_CloseWrittenStream(stdFile, 1)");

Exit1:
    bResult = true;
Exit0:
    // A failed merge puts the old header back and leaves no dead bytes behind the old end.
    if (stdFile && bAppended) {
        if (fseek(stdFile, 0, SEEK_SET) != 0 || fwrite(&oldStdHeader, sizeof(oldStdHeader), 1, stdFile) != 1 ||
            !Pf_TruncateStream(stdFile, uOldEnd))
            RvLog_Write(RVLOG_DEBUG, "cannot bring %s back to its %llu bytes\n", stdFilePath, (unsigned long long)uOldEnd);
    }
    if (stdFile)
        fclose(stdFile);
    if (addFile)
        fclose(addFile);
    return bResult;
}
