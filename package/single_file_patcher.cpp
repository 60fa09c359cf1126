// The single-file package patcher: package open and backed up in Init, data
// of patches appended by Patch, entries merged and areas and header
// rewritten by UnInit.
#include "package/single_file_patcher.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>
#include <set>
#include <vector>

#include "foundation/crc32.h"
#include "package/mini_backup.h"
#include "package/single_file_package.h"
#include "platform/crash_point.h"
#include "platform/file.h"
#include "platform/stream.h"
#include "platform/stream_length.h"

namespace {

const uint64_t s_uWorkBufferSize = 4194304;

struct _MergeRecord {
    int32_t nSource;
    int32_t nPosition;
    Rv_PackageIndexEntry IndexEntry;
    Rv_PackageDirectoryEntry DirectoryEntry;
};

// Key ascending; the newest source first; then the position in the source.
bool _MergeOrder(const _MergeRecord& A, const _MergeRecord& B)
{
    if (A.IndexEntry.uKey != B.IndexEntry.uKey)
        return A.IndexEntry.uKey < B.IndexEntry.uKey;
    if (A.nSource != B.nSource)
        return A.nSource > B.nSource;
    return A.nPosition < B.nPosition;
}

struct _PackageAreas {
    uint32_t uEntryCount = 0;
    std::unique_ptr<Rv_PackageIndexEntry[]> pIndexArea;
    std::unique_ptr<Rv_PackageDirectoryEntry[]> pDirectoryArea;
};

// Reads both areas of a package whose header passed its checks.
int _ReadPackageAreas(FILE* pFile, const Rv_PackageHeader& Header, _PackageAreas* pRetAreas)
{
    int nResult = 0;
    int nRetCode = 0;
    size_t uReadCount = 0;
    uint64_t uIndexEntryCount = Header.uIndexAreaSize / sizeof(Rv_PackageIndexEntry);
    uint64_t uDirectoryEntryCount = Header.uDirectoryAreaSize / sizeof(Rv_PackageDirectoryEntry);

    RVLOG_PROCESS_ERROR(uIndexEntryCount > 0);
    RVLOG_PROCESS_ERROR(uDirectoryEntryCount > 0);
    RVLOG_PROCESS_ERROR(uIndexEntryCount == uDirectoryEntryCount);

    pRetAreas->pIndexArea.reset(new (std::nothrow) Rv_PackageIndexEntry[uIndexEntryCount]);
    RVLOG_PROCESS_ERROR(pRetAreas->pIndexArea);
    nRetCode = fseek(pFile, (long)Header.uIndexAreaOffset, SEEK_SET);
    RVLOG_PROCESS_ERROR(nRetCode == 0);
    uReadCount = fread(pRetAreas->pIndexArea.get(), sizeof(Rv_PackageIndexEntry), (size_t)uIndexEntryCount, pFile);
    RVLOG_PROCESS_ERROR(uReadCount == uIndexEntryCount);

    pRetAreas->pDirectoryArea.reset(new (std::nothrow) Rv_PackageDirectoryEntry[uDirectoryEntryCount]);
    RVLOG_PROCESS_ERROR(pRetAreas->pDirectoryArea);
    nRetCode = fseek(pFile, (long)Header.uDirectoryAreaOffset, SEEK_SET);
    RVLOG_PROCESS_ERROR(nRetCode == 0);
    uReadCount = fread(pRetAreas->pDirectoryArea.get(), sizeof(Rv_PackageDirectoryEntry), (size_t)uDirectoryEntryCount, pFile);
    RVLOG_PROCESS_ERROR(uReadCount == uDirectoryEntryCount);

    pRetAreas->uEntryCount = (uint32_t)uIndexEntryCount;
    nResult = 1;
Exit0:
    return nResult;
}

// The C run-time's 32-bit time, sign-extended; -1 when now does not fit.
int64_t _Now32()
{
    time_t tNow = time(nullptr);
    if (tNow < (time_t)INT32_MIN || tNow > (time_t)INT32_MAX)
        return -1;
    return (int64_t)(int32_t)tNow;
}

class RvPack_PackageFilePatcher : public IRvPack_PackageFilePatcher {
public:
    RvPack_PackageFilePatcher() {}
    ~RvPack_PackageFilePatcher() override
    {
        if (m_pBePatchedFile)
            fclose(m_pBePatchedFile);
    }

    HRESULT QueryInterface(const void*, void** ppvRetObject) override
    {
        if (ppvRetObject)
            *ppvRetObject = nullptr;
        return E_FAIL;
    }
    uint32_t AddRef() override { return (uint32_t)++m_lRefCount; }
    uint32_t Release() override
    {
        int32_t lCount = --m_lRefCount;
        if (lCount == 0) {
            if (m_pBePatchedFile)
                UnInit();
            delete this;
        }
        return (uint32_t)lCount;
    }

    int Patch(const char* cszPatchPackageFileName) override;
    int Init(const char* cszBePatchedPackageFileName) override;
    int UnInit() override;

private:
    std::atomic<int32_t> m_lRefCount {1};
    FILE* m_pBePatchedFile = nullptr;
    uint32_t m_uSourceCount = 0;
    Rv_PackageHeader m_PackageHeader {};
    std::vector<_MergeRecord> m_MergeRecords;
    char m_szBePatchedFileName[260] = {};
};

int RvPack_PackageFilePatcher::Init(const char* cszBePatchedPackageFileName)
{
    int nResult = 0;
    int nRetCode = 0;
    int bBackupMade = 0;
    size_t uReadCount = 0;
    uint64_t uFileLength = 0;
    _PackageAreas Areas;

    RVLOG_PROCESS_ERROR(cszBePatchedPackageFileName);
    RVLOG_PROCESS_ERROR(strlen(cszBePatchedPackageFileName) < sizeof(m_szBePatchedFileName));
    strcpy(m_szBePatchedFileName, cszBePatchedPackageFileName);

    nRetCode = RvPack_CreateMiniBackup(m_szBePatchedFileName);
    RVLOG_PROCESS_ERROR(nRetCode);
    bBackupMade = 1;

    m_pBePatchedFile = Pf_FOpen(m_szBePatchedFileName, "r+b");
    RVLOG_PROCESS_ERROR(m_pBePatchedFile);
    uReadCount = fread(&m_PackageHeader, sizeof(m_PackageHeader), 1, m_pBePatchedFile);
    RVLOG_PROCESS_ERROR(uReadCount == 1);

    RVPK_PROCESS_PACKAGE_HEADER_ERROR(m_PackageHeader);
    nRetCode = Pf_GetStreamLength(m_pBePatchedFile, &uFileLength);
    RVLOG_PROCESS_ERROR(nRetCode);
    nRetCode = RvPack_IsPackageLayoutRestorable(m_PackageHeader, uFileLength);
    RVLOG_PROCESS_ERROR(nRetCode);

    nRetCode = _ReadPackageAreas(m_pBePatchedFile, m_PackageHeader, &Areas);
    RVLOG_PROCESS_ERROR(nRetCode);

    m_MergeRecords.clear();
    m_MergeRecords.reserve(Areas.uEntryCount);
    for (uint32_t i = 0; i < Areas.uEntryCount; i++)
        m_MergeRecords.push_back({0, (int32_t)i, Areas.pIndexArea[i], Areas.pDirectoryArea[i]});
    m_uSourceCount = 1;

    nResult = 1;
Exit0:
    if (!nResult) {
        if (m_pBePatchedFile) {
            fclose(m_pBePatchedFile);
            m_pBePatchedFile = nullptr;
        }
        m_MergeRecords.clear();
        // Nothing has been changed yet: the backup is not needed.
        if (bBackupMade)
            RvPack_RemoveMiniBackup(m_szBePatchedFileName);
    }
    return nResult;
}

int RvPack_PackageFilePatcher::Patch(const char* cszPatchPackageFileName)
{
    int nResult = 0;
    int nRetCode = 0;
    FILE* pPatchFile = nullptr;
    size_t uReadCount = 0;
    size_t uWriteCount = 0;
    uint64_t uPatchLength = 0;
    uint64_t uSizeLeft = 0;
    uint64_t uCurrentSizeToCopy = 0;
    uint64_t uNewDataAreaEnd = 0;
    uint64_t uMaxEntryCount = 0;
    Rv_PackageHeader PatchPackageHeader {};
    _PackageAreas Areas;
    std::unique_ptr<uint8_t[]> pbyWorkBuffer;

    RVLOG_PROCESS_ERROR(m_pBePatchedFile);
    RVLOG_PROCESS_ERROR(cszPatchPackageFileName);
    pPatchFile = Pf_FOpen(cszPatchPackageFileName, "rb");
    RVLOG_PROCESS_ERROR(pPatchFile);
    uReadCount = fread(&PatchPackageHeader, sizeof(PatchPackageHeader), 1, pPatchFile);
    RVLOG_PROCESS_ERROR(uReadCount == 1);

    RVPK_PROCESS_PACKAGE_HEADER_ERROR(PatchPackageHeader);
    nRetCode = Pf_GetStreamLength(pPatchFile, &uPatchLength);
    RVLOG_PROCESS_ERROR(nRetCode);
    nRetCode = RvPack_IsPackageAreasInFile(PatchPackageHeader, uPatchLength);
    RVLOG_PROCESS_ERROR(nRetCode);
    nRetCode = _ReadPackageAreas(pPatchFile, PatchPackageHeader, &Areas);
    RVLOG_PROCESS_ERROR(nRetCode);

    // The package must stay below 2 GiB with the merged areas behind the data.
    uNewDataAreaEnd = m_PackageHeader.uDataAreaOffset + m_PackageHeader.uDataAreaSize + PatchPackageHeader.uDataAreaSize;
    uMaxEntryCount = (uint64_t)m_MergeRecords.size() + Areas.uEntryCount;
    RVLOG_PROCESS_ERROR(uNewDataAreaEnd + uMaxEntryCount * (sizeof(Rv_PackageIndexEntry) + sizeof(Rv_PackageDirectoryEntry)) < RVPK_MAX_PACKAGE_FILE_SIZE);
    RVLOG_PROCESS_ERROR(m_uSourceCount < (uint32_t)INT32_MAX);

    pbyWorkBuffer.reset(new (std::nothrow) uint8_t[s_uWorkBufferSize]);
    RVLOG_PROCESS_ERROR(pbyWorkBuffer);

    nRetCode = fseek(pPatchFile, (long)PatchPackageHeader.uDataAreaOffset, SEEK_SET);
    RVLOG_PROCESS_ERROR(nRetCode == 0);
    nRetCode = fseek(m_pBePatchedFile, (long)(m_PackageHeader.uDataAreaOffset + m_PackageHeader.uDataAreaSize), SEEK_SET);
    RVLOG_PROCESS_ERROR(nRetCode == 0);

    uSizeLeft = PatchPackageHeader.uDataAreaSize;
    while (uSizeLeft > 0) {
        uCurrentSizeToCopy = std::min(uSizeLeft, s_uWorkBufferSize);
        uReadCount = fread(pbyWorkBuffer.get(), 1, (size_t)uCurrentSizeToCopy, pPatchFile);
        RVLOG_PROCESS_ERROR(uReadCount == uCurrentSizeToCopy);
        Pf_CrashPoint();
        uWriteCount = fwrite(pbyWorkBuffer.get(), 1, (size_t)uCurrentSizeToCopy, m_pBePatchedFile);
        RVLOG_PROCESS_ERROR(uWriteCount == uCurrentSizeToCopy);
        uSizeLeft -= uCurrentSizeToCopy;
    }

    for (uint32_t i = 0; i < Areas.uEntryCount; i++) {
        _MergeRecord Record {(int32_t)m_uSourceCount, (int32_t)i, Areas.pIndexArea[i], Areas.pDirectoryArea[i]};
        Record.DirectoryEntry.uDataOffset += m_PackageHeader.uDataAreaSize;
        m_MergeRecords.push_back(Record);
    }
    m_PackageHeader.uDataAreaSize += PatchPackageHeader.uDataAreaSize;
    m_uSourceCount++;

    nResult = 1;
Exit0:
    RvPack_CloseRead(pPatchFile);
    return nResult;
}

int RvPack_PackageFilePatcher::UnInit()
{
    int nResult = 0;
    int nRetCode = 0;
    long lOffset = 0;
    size_t uWriteCount = 0;
    size_t uCount = 0;
    size_t uEntryCount = 0;
    uint32_t uCRC = 0;
    std::set<uint32_t> KeyRunValues;
    std::unique_ptr<Rv_PackageIndexEntry[]> pIndexAreaBuffer;
    std::unique_ptr<Rv_PackageDirectoryEntry[]> pDirectoryAreaBuffer;

    RVLOG_PROCESS_ERROR(m_pBePatchedFile);

    std::sort(m_MergeRecords.begin(), m_MergeRecords.end(), _MergeOrder);
    uCount = m_MergeRecords.size();
    RVLOG_PROCESS_ERROR(uCount);

    pIndexAreaBuffer.reset(new (std::nothrow) Rv_PackageIndexEntry[uCount]);
    RVLOG_PROCESS_ERROR(pIndexAreaBuffer);
    pDirectoryAreaBuffer.reset(new (std::nothrow) Rv_PackageDirectoryEntry[uCount]);
    RVLOG_PROCESS_ERROR(pDirectoryAreaBuffer);

    // Within a run of one key the newest source comes first; a later record
    // whose whole index entry was already written in the run is stale.
    for (size_t i = 0; i < uCount; i++) {
        const _MergeRecord& Record = m_MergeRecords[i];
        if (uEntryCount == 0 || pIndexAreaBuffer[uEntryCount - 1].uKey != Record.IndexEntry.uKey)
            KeyRunValues.clear();
        if (!KeyRunValues.insert(Record.IndexEntry.uValue).second)
            continue;
        pIndexAreaBuffer[uEntryCount] = Record.IndexEntry;
        pDirectoryAreaBuffer[uEntryCount] = Record.DirectoryEntry;
        uEntryCount++;
    }

    nRetCode = fseek(m_pBePatchedFile, (long)(m_PackageHeader.uDataAreaOffset + m_PackageHeader.uDataAreaSize), SEEK_SET);
    RVLOG_PROCESS_ERROR(nRetCode == 0);
    lOffset = ftell(m_pBePatchedFile);
    RVLOG_PROCESS_ERROR(lOffset > 0);
    m_PackageHeader.uDirectoryAreaOffset = (uint64_t)lOffset;
    m_PackageHeader.uDirectoryAreaSize = uEntryCount * sizeof(Rv_PackageDirectoryEntry);
    Pf_CrashPoint();
    uWriteCount = fwrite(pDirectoryAreaBuffer.get(), sizeof(Rv_PackageDirectoryEntry), uEntryCount, m_pBePatchedFile);
    RVLOG_PROCESS_ERROR(uWriteCount == uEntryCount);

    lOffset = ftell(m_pBePatchedFile);
    RVLOG_PROCESS_ERROR(lOffset > 0);
    m_PackageHeader.uIndexAreaOffset = (uint64_t)lOffset;
    m_PackageHeader.uIndexAreaSize = uEntryCount * sizeof(Rv_PackageIndexEntry);
    Pf_CrashPoint();
    uWriteCount = fwrite(pIndexAreaBuffer.get(), sizeof(Rv_PackageIndexEntry), uEntryCount, m_pBePatchedFile);
    RVLOG_PROCESS_ERROR(uWriteCount == uEntryCount);

    for (size_t i = 0; i < uEntryCount; i++) {
        Rv_PackageDirectoryEntry Entry = pDirectoryAreaBuffer[i];
        reinterpret_cast<uint8_t*>(&Entry)[4] = 0;
        uCRC = Rv_CRC32(uCRC, reinterpret_cast<const uint8_t*>(&Entry), sizeof(Entry));
    }
    uCRC = Rv_CRC32(uCRC, reinterpret_cast<const uint8_t*>(pIndexAreaBuffer.get()), uEntryCount * sizeof(Rv_PackageIndexEntry));
    m_PackageHeader.uAreaCRC = uCRC;
    m_PackageHeader.llRewriteTime = _Now32();

    // Whatever a failed patch copied behind the new areas goes.
    Pf_CrashPoint();
    nRetCode = Pf_TruncateStream(m_pBePatchedFile, m_PackageHeader.uIndexAreaOffset + m_PackageHeader.uIndexAreaSize);
    RVLOG_PROCESS_ERROR(nRetCode && "Pf_TruncateStream(m_pBePatchedFile, uIndexAreaEnd)");
    nRetCode = fseek(m_pBePatchedFile, 0, SEEK_END);
    RVLOG_PROCESS_ERROR(nRetCode == 0);
    lOffset = ftell(m_pBePatchedFile);
    RVLOG_PROCESS_ERROR(lOffset > 0);
    m_PackageHeader.uFileSize = (uint64_t)lOffset;

    nRetCode = fseek(m_pBePatchedFile, 0, SEEK_SET);
    RVLOG_PROCESS_ERROR(nRetCode == 0);
    Pf_CrashPoint();
    uWriteCount = fwrite(&m_PackageHeader, sizeof(m_PackageHeader), 1, m_pBePatchedFile);
    RVLOG_PROCESS_ERROR(uWriteCount == 1);

    // The package is on the disk before the backup that guards it goes.
    Pf_CrashPoint();
    nRetCode = Pf_CloseWrittenStream(m_pBePatchedFile, 1);
    m_pBePatchedFile = nullptr;
    RVLOG_PROCESS_ERROR(nRetCode && "Pf_CloseWrittenStream(m_pBePatchedFile, 1)");

    RVLOG_PROCESS_ERROR(m_szBePatchedFileName[0]);
    nRetCode = RvPack_RemoveMiniBackup(m_szBePatchedFileName);
    RVLOG_PROCESS_ERROR(nRetCode);

    nResult = 1;
Exit0:
    m_MergeRecords.clear();
    if (m_pBePatchedFile) {
        fclose(m_pBePatchedFile);
        m_pBePatchedFile = nullptr;
    }
    return nResult;
}

} // namespace

int RvPack_CreatePackageFilePatcher(const char* cszBePatchedPackageFileName,
                                    IRvPack_PackageFilePatcher** ppiRetPackageFilePatcher)
{
    int nResult = 0;
    int nRetCode = 0;
    RvPack_PackageFilePatcher* pPatcher = nullptr;

    RVLOG_PROCESS_ERROR(cszBePatchedPackageFileName);
    RVLOG_PROCESS_ERROR(ppiRetPackageFilePatcher);

    // A backup left behind means the last run did not finish.
    nRetCode = RvPack_RecoverFromMiniBackup(cszBePatchedPackageFileName);
    RVLOG_PROCESS_ERROR(nRetCode);

    pPatcher = new (std::nothrow) RvPack_PackageFilePatcher;
    RVLOG_PROCESS_ERROR(pPatcher);
    nRetCode = pPatcher->Init(cszBePatchedPackageFileName);
    RVLOG_PROCESS_ERROR(nRetCode);

    *ppiRetPackageFilePatcher = pPatcher;
    pPatcher = nullptr;
    nResult = 1;
Exit0:
    delete pPatcher;
    return nResult;
}
