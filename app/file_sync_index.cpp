// Reading the synchronisation index: the header CRC and checks, and the
// check-info and dir-info blocks, each read only inside the bytes given.
#include "app/file_sync_index.h"

#include "app/patch_extractor_names.h"
#include "foundation/crc32.h"
#include "foundation/log.h"

#include <cstring>

namespace {

// A block of uSize bytes at uOffset lies inside 32-bit offsets.
bool _IsBlockInside32Bits(uint32_t uOffset, uint32_t uSize)
{
    return (uint64_t)uOffset + uSize <= 0x100000000ull;
}

uint32_t _ReadU32(const uint8_t* pbyPos)
{
    uint32_t uValue = 0;
    memcpy(&uValue, pbyPos, sizeof(uValue));
    return uValue;
}

// One name field at *ppbyReadPos: its size (counting the terminating zero,
// below 260) and its bytes, which must end in their only zero.
int _ReadNameField(const uint8_t** ppbyReadPos, const uint8_t* pbyTailPos, std::string* pstrRetName)
{
    int nResult = 0;
    const uint8_t* pbyReadPos = *ppbyReadPos;
    uint32_t uNameSize = 0;
    char szName[RV_SYNC_NAME_BUFFER_SIZE];

    RVLOG_PROCESS_ERROR(pbyReadPos + sizeof(uNameSize) <= pbyTailPos);
    uNameSize = _ReadU32(pbyReadPos);
    pbyReadPos += sizeof(uNameSize);
    RVLOG_PROCESS_ERROR(uNameSize < sizeof(szName));
    RVLOG_PROCESS_ERROR(pbyReadPos + uNameSize <= pbyTailPos);
    RVLOG_PROCESS_ERROR(uNameSize > 0);
    memcpy(szName, pbyReadPos, uNameSize);
    RVLOG_PROCESS_ERROR(szName[uNameSize - 1] == '\0');
    // A zero byte inside the name would cut it short of what the index says.
    RVLOG_PROCESS_ERROR(strlen(szName) == uNameSize - 1);
    *pstrRetName = szName;
    *ppbyReadPos = pbyReadPos + uNameSize;
    nResult = 1;
Exit0:
    return nResult;
}

} // namespace

int Rv_GetSyncIndexFileHeaderCRC(const Rv_SyncIndexFileHeader* pHeader, uint32_t* puRetCRC)
{
    int nResult = 0;
    Rv_SyncIndexFileHeader Copy;

    RVLOG_PROCESS_ERROR(puRetCRC);
    RVLOG_PROCESS_ERROR(pHeader);
    memcpy(&Copy, pHeader, sizeof(Copy));
    Copy.uHeaderCRC = 0;
    *puRetCRC = Rv_CRC32(0, &Copy, sizeof(Copy));
    nResult = 1;
Exit0:
    return nResult;
}

int Rv_CheckSyncIndexHeader(const Rv_SyncIndexFileHeader& Header)
{
    int nResult = 0;
    int nRetCode = 0;
    uint32_t uCheckCRC = 0;

    nRetCode = Rv_GetSyncIndexFileHeaderCRC(&Header, &uCheckCRC);
    RVLOG_PROCESS_ERROR(nRetCode && "Rv_GetRepairFileHeaderCRC()");
    RVLOG_PROCESS_ERROR(uCheckCRC == Header.uHeaderCRC);
    RVLOG_PROCESS_ERROR(Header.uType == RV_SYNC_INDEX_FILE_TYPE);
    RVLOG_PROCESS_ERROR(Header.uVersion == RV_SYNC_INDEX_FILE_VERSION);

    RVLOG_PROCESS_ERROR(Header.uFileCheckInfoSize >= sizeof(uint32_t));
    RVLOG_PROCESS_ERROR(Header.uFileCheckInfoSize <= RV_SYNC_MAX_CHECK_INFO_SIZE);
    RVLOG_PROCESS_ERROR(_IsBlockInside32Bits(Header.uFileCheckInfoOffset, Header.uFileCheckInfoSize));
    RVLOG_PROCESS_ERROR(Header.uDirInfoSize >= sizeof(uint32_t));
    RVLOG_PROCESS_ERROR(Header.uDirInfoSize <= RV_SYNC_MAX_DIR_INFO_SIZE);
    RVLOG_PROCESS_ERROR(_IsBlockInside32Bits(Header.uDirInfoOffset, Header.uDirInfoSize));
    RVLOG_PROCESS_ERROR(_IsBlockInside32Bits(Header.uFileSyncInfoOffset, Header.uFileSyncInfoSize));
    nResult = 1;
Exit0:
    return nResult;
}

int Rv_IsSafeSyncFileName(const std::string& strName)
{
    return Rv_IsSafeRelativeItemName(strName);
}

int Rv_ParseSyncCheckInfo(const uint8_t* pbyBuffer, uint32_t uSize, const Rv_SyncAbortTest& fnAborted,
                          std::vector<Rv_FileCheckInfo>* pvecRetEntries)
{
    int nResult = 0;
    int nRetCode = 0;
    const uint8_t* pbyReadPos = pbyBuffer;
    const uint8_t* pbyTailPos = pbyBuffer + uSize;
    uint32_t uFileCount = 0;
    Rv_FileCheckInfo CheckInfo;

    RVLOG_PROCESS_ERROR(pbyBuffer);
    RVLOG_PROCESS_ERROR(pvecRetEntries);
    pvecRetEntries->clear();

    RVLOG_PROCESS_ERROR(pbyReadPos + sizeof(uFileCount) <= pbyTailPos);
    uFileCount = _ReadU32(pbyReadPos);
    pbyReadPos += sizeof(uFileCount);
    // Every entry takes bytes of the block: a count beyond them is refused
    // before anything is reserved for it.
    RVLOG_PROCESS_ERROR(uFileCount <= (uint32_t)(pbyTailPos - pbyReadPos) / RV_SYNC_MIN_CHECK_ENTRY_SIZE);
    pvecRetEntries->reserve(uFileCount);

    RvLog_Write(RVLOG_INFO, "Check files ...");
    for (uint32_t i = 0; i < uFileCount; ++i) {
        RVLOG_PROCESS_ERROR(!fnAborted() && "m_nStatusCode != RV_RFSC_ERROR_ABROT");
        nRetCode = _ReadNameField(&pbyReadPos, pbyTailPos, &CheckInfo.strName);
        RVLOG_PROCESS_ERROR(nRetCode && "szFileName");
        if (!Rv_IsSafeSyncFileName(CheckInfo.strName)) {
            RvLog_Write(RVLOG_ERROR, "Refused file name in the sync index: `%s`", CheckInfo.strName.c_str());
            RVLOG_PROCESS_ERROR(false && "Rv_IsSafeSyncFileName()");
        }
        RVLOG_PROCESS_ERROR(pbyReadPos + sizeof(CheckInfo.uCRC) <= pbyTailPos);
        CheckInfo.uCRC = _ReadU32(pbyReadPos);
        pbyReadPos += sizeof(CheckInfo.uCRC);
        RVLOG_PROCESS_ERROR(pbyReadPos + sizeof(CheckInfo.ftLastModifyTime) <= pbyTailPos);
        CheckInfo.ftLastModifyTime.dwLowDateTime = _ReadU32(pbyReadPos);
        CheckInfo.ftLastModifyTime.dwHighDateTime = _ReadU32(pbyReadPos + 4);
        pbyReadPos += sizeof(CheckInfo.ftLastModifyTime);
        pvecRetEntries->push_back(CheckInfo);
    }
    nResult = 1;
Exit0:
    if (!nResult && pvecRetEntries)
        pvecRetEntries->clear();
    return nResult;
}

int Rv_ParseSyncDirInfo(const uint8_t* pbyBuffer, uint32_t uSize, const Rv_SyncAbortTest& fnAborted,
                        std::vector<std::string>* pvecRetNames)
{
    int nResult = 0;
    int nRetCode = 0;
    const uint8_t* pbyReadPos = pbyBuffer;
    const uint8_t* pbyTailPos = pbyBuffer + uSize;
    uint32_t uDirCount = 0;
    std::string strName;

    RVLOG_PROCESS_ERROR(pbyBuffer);
    RVLOG_PROCESS_ERROR(pvecRetNames);
    pvecRetNames->clear();

    RVLOG_PROCESS_ERROR(pbyReadPos + sizeof(uDirCount) <= pbyTailPos);
    uDirCount = _ReadU32(pbyReadPos);
    pbyReadPos += sizeof(uDirCount);
    RVLOG_PROCESS_ERROR(uDirCount <= (uint32_t)(pbyTailPos - pbyReadPos) / RV_SYNC_MIN_DIR_ENTRY_SIZE);
    pvecRetNames->reserve(uDirCount);

    for (uint32_t i = 0; i < uDirCount; ++i) {
        RVLOG_PROCESS_ERROR(!fnAborted() && "m_nStatusCode != RV_RFSC_ERROR_ABROT");
        nRetCode = _ReadNameField(&pbyReadPos, pbyTailPos, &strName);
        RVLOG_PROCESS_ERROR(nRetCode && "szDirName");
        pvecRetNames->push_back(strName);
    }
    nResult = 1;
Exit0:
    if (!nResult && pvecRetNames)
        pvecRetNames->clear();
    return nResult;
}
