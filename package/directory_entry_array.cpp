// The packed entry array of a directory file: fields of 2, 4 or 8 bytes read
// and written by index, the hash table length and the hash-bucket order.
#include "package/directory_file.h"

#include "package/log_stream.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

int Rv_GetHashTableLen(uint32_t uEntryCount, uint32_t* puRetHashTableLen)
{
    int nResult = 0;
    uint64_t ullHashTableLen = 0;

    if (uEntryCount == 0 || !puRetHashTableLen)
        return 0;
    // Single precision, as the files on disk were laid out; truncated in 64
    // bits so that the largest counts cannot overflow the conversion.
    ullHashTableLen = (uint64_t)((float)uEntryCount / 0.75f);
    RVPK_PROCESS_ERROR_QUOTING(ullHashTableLen >= uEntryCount, "uHashTableLen >= uEntryCount");
    RVPK_PROCESS_ERROR(ullHashTableLen <= UINT32_MAX);
    *puRetHashTableLen = (uint32_t)ullHashTableLen;
    nResult = 1;
Exit0:
    return nResult;
}

static uint32_t _WidthOfSizeType(uint32_t uSizeType)
{
    return uSizeType == 0 ? 2 : uSizeType == 1 ? 4 : uSizeType == 2 ? 8 : 0;
}

int RVPK_DirectoryEntryArray::Init(uint32_t uEntryCount, uint32_t uFileNameHashSizeType, uint32_t uFileAddressSizeType,
                                   uint32_t uFileBufferSizeSizeType, uint64_t* pRetArrayBufferSize)
{
    int nResult = 0;
    int nRetCode = 0;
    const uint32_t auSizeType[FIELD_COUNT] = {uFileNameHashSizeType, uFileAddressSizeType, uFileBufferSizeSizeType};
    uint32_t auWidth[FIELD_COUNT] = {};
    uint32_t uOffset = 0;

    RVPK_ASSERT_EXIT(pRetArrayBufferSize);
    for (int i = 0; i < FIELD_COUNT; ++i) {
        auWidth[i] = _WidthOfSizeType(auSizeType[i]);
        nRetCode = auWidth[i] != 0;
        if (!nRetCode)
            Rv_LogPrintf(u"Size type error. SizeType = %u", auSizeType[i]);
        RVPK_PROCESS_ERROR(nRetCode);
    }
    m_pbyArrayBuffer = nullptr;
    m_uEntryCount = uEntryCount;
    for (int i = 0; i < FIELD_COUNT; ++i) {
        m_auFieldOffset[i] = uOffset;
        uOffset += auWidth[i];
        m_auFieldWidth[i] = auWidth[i];
    }
    m_uEntryWidth = uOffset;
    m_uBufferSize = (uint64_t)m_uEntryWidth * uEntryCount;
    *pRetArrayBufferSize = m_uBufferSize;
    nResult = 1;
Exit0:
    return nResult;
}

int RVPK_DirectoryEntryArray::AttachToBuffer(unsigned char* pbyArrayBuffer, uint64_t uBufferSize)
{
    int nResult = 0;

    RVPK_ASSERT_EXIT(pbyArrayBuffer);
    RVPK_PROCESS_ERROR(m_uBufferSize == uBufferSize);
    m_pbyArrayBuffer = pbyArrayBuffer;
    nResult = 1;
Exit0:
    return nResult;
}

unsigned char* RVPK_DirectoryEntryArray::_FieldAddress(uint32_t uIndex, uint32_t uFieldOffset, uint32_t uFieldWidth)
{
    // The whole field must lie inside the buffer, not only its first byte.
    uint64_t ullOffset = (uint64_t)uIndex * m_uEntryWidth + uFieldOffset;
    if (!m_pbyArrayBuffer || ullOffset + uFieldWidth > m_uBufferSize)
        return nullptr;
    return m_pbyArrayBuffer + ullOffset;
}

int RVPK_DirectoryEntryArray::_SetUint16Value(uint32_t uIndex, uint32_t uFieldOffset, uint64_t ullValue)
{
    int nResult = 0;
    unsigned char* pbyAddress = _FieldAddress(uIndex, uFieldOffset, 2);
    uint16_t usValue = (uint16_t)ullValue;

    RVPK_PROCESS_ERROR_QUOTING(pbyAddress, "pbyAddress < m_pbyArrayBuffer + m_uBufferSize");
    RVPK_PROCESS_ERROR(ullValue <= UINT16_MAX);
    memcpy(pbyAddress, &usValue, sizeof(usValue));
    nResult = 1;
Exit0:
    return nResult;
}

int RVPK_DirectoryEntryArray::_SetUint32Value(uint32_t uIndex, uint32_t uFieldOffset, uint64_t ullValue)
{
    int nResult = 0;
    unsigned char* pbyAddress = _FieldAddress(uIndex, uFieldOffset, 4);
    uint32_t uValue = (uint32_t)ullValue;

    RVPK_PROCESS_ERROR_QUOTING(pbyAddress, "pbyAddress < m_pbyArrayBuffer + m_uBufferSize");
    RVPK_PROCESS_ERROR(ullValue <= UINT32_MAX);
    memcpy(pbyAddress, &uValue, sizeof(uValue));
    nResult = 1;
Exit0:
    return nResult;
}

int RVPK_DirectoryEntryArray::_SetUint64Value(uint32_t uIndex, uint32_t uFieldOffset, uint64_t ullValue)
{
    int nResult = 0;
    unsigned char* pbyAddress = _FieldAddress(uIndex, uFieldOffset, 8);

    RVPK_PROCESS_ERROR_QUOTING(pbyAddress, "pbyAddress < m_pbyArrayBuffer + m_uBufferSize");
    memcpy(pbyAddress, &ullValue, sizeof(ullValue));
    nResult = 1;
Exit0:
    return nResult;
}

int RVPK_DirectoryEntryArray::_GetUint16Value(uint32_t uIndex, uint32_t uFieldOffset, uint64_t* pullRetValue)
{
    int nResult = 0;
    unsigned char* pbyAddress = _FieldAddress(uIndex, uFieldOffset, 2);
    uint16_t usValue = 0;

    RVPK_PROCESS_ERROR_QUOTING(pbyAddress, "pbyAddress < m_pbyArrayBuffer + m_uBufferSize");
    memcpy(&usValue, pbyAddress, sizeof(usValue));
    *pullRetValue = usValue;
    nResult = 1;
Exit0:
    return nResult;
}

int RVPK_DirectoryEntryArray::_GetUint32Value(uint32_t uIndex, uint32_t uFieldOffset, uint64_t* pullRetValue)
{
    int nResult = 0;
    unsigned char* pbyAddress = _FieldAddress(uIndex, uFieldOffset, 4);
    uint32_t uValue = 0;

    RVPK_PROCESS_ERROR_QUOTING(pbyAddress, "pbyAddress < m_pbyArrayBuffer + m_uBufferSize");
    memcpy(&uValue, pbyAddress, sizeof(uValue));
    *pullRetValue = uValue;
    nResult = 1;
Exit0:
    return nResult;
}

int RVPK_DirectoryEntryArray::_GetUint64Value(uint32_t uIndex, uint32_t uFieldOffset, uint64_t* pullRetValue)
{
    int nResult = 0;
    unsigned char* pbyAddress = _FieldAddress(uIndex, uFieldOffset, 8);

    RVPK_PROCESS_ERROR_QUOTING(pbyAddress, "pbyAddress < m_pbyArrayBuffer + m_uBufferSize");
    memcpy(pullRetValue, pbyAddress, sizeof(*pullRetValue));
    nResult = 1;
Exit0:
    return nResult;
}

int RVPK_DirectoryEntryArray::_Set(int nField, uint32_t uIndex, uint64_t ullValue)
{
    int nResult = 0;
    int nRetCode = 0;

    RVPK_ASSERT_EXIT(m_pbyArrayBuffer);
    switch (m_auFieldWidth[nField]) {
    case 2:
        nRetCode = _SetUint16Value(uIndex, m_auFieldOffset[nField], ullValue);
        break;
    case 4:
        nRetCode = _SetUint32Value(uIndex, m_auFieldOffset[nField], ullValue);
        break;
    default:
        nRetCode = _SetUint64Value(uIndex, m_auFieldOffset[nField], ullValue);
        break;
    }
    RVPK_PROCESS_ERROR(nRetCode);
    nResult = 1;
Exit0:
    return nResult;
}

int RVPK_DirectoryEntryArray::_Get(int nField, uint32_t uIndex, uint64_t* pullRetValue)
{
    int nResult = 0;
    int nRetCode = 0;

    RVPK_ASSERT_EXIT(m_pbyArrayBuffer);
    RVPK_ASSERT_EXIT(pullRetValue);
    switch (m_auFieldWidth[nField]) {
    case 2:
        nRetCode = _GetUint16Value(uIndex, m_auFieldOffset[nField], pullRetValue);
        break;
    case 4:
        nRetCode = _GetUint32Value(uIndex, m_auFieldOffset[nField], pullRetValue);
        break;
    default:
        nRetCode = _GetUint64Value(uIndex, m_auFieldOffset[nField], pullRetValue);
        break;
    }
    RVPK_PROCESS_ERROR(nRetCode);
    nResult = 1;
Exit0:
    return nResult;
}

int RVPK_DirectoryEntryArray::SetFileNameHash(uint32_t uIndex, uint64_t ullValue) { return _Set(FIELD_HASH, uIndex, ullValue); }
int RVPK_DirectoryEntryArray::SetFileAddress(uint32_t uIndex, uint64_t ullValue) { return _Set(FIELD_ADDRESS, uIndex, ullValue); }
int RVPK_DirectoryEntryArray::SetFileBufferSize(uint32_t uIndex, uint64_t ullValue) { return _Set(FIELD_SIZE, uIndex, ullValue); }
int RVPK_DirectoryEntryArray::GetFileNameHash(uint32_t uIndex, uint64_t* pullRetValue) { return _Get(FIELD_HASH, uIndex, pullRetValue); }
int RVPK_DirectoryEntryArray::GetFileAddress(uint32_t uIndex, uint64_t* pullRetValue) { return _Get(FIELD_ADDRESS, uIndex, pullRetValue); }
int RVPK_DirectoryEntryArray::GetFileBufferSize(uint32_t uIndex, uint64_t* pullRetValue)
{
    return _Get(FIELD_SIZE, uIndex, pullRetValue);
}

int RVPK_DirectoryEntryArray::SortByHashBucket()
{
    int nResult = 0;
    int nRetCode = 0;
    uint32_t uHashTableLen = 0;
    std::unique_ptr<RVPK_DIRECTORY_ENTRY[]> pDirEntryArray;

    RVPK_PROCESS_ERROR(m_uEntryCount > 0);
    nRetCode = Rv_GetHashTableLen(m_uEntryCount, &uHashTableLen);
    RVPK_PROCESS_ERROR(nRetCode);
    pDirEntryArray.reset(new (std::nothrow) RVPK_DIRECTORY_ENTRY[m_uEntryCount]);
    RVPK_PROCESS_ERROR(pDirEntryArray);
    for (uint32_t i = 0; i < m_uEntryCount; ++i) {
        nRetCode = GetFileNameHash(i, &pDirEntryArray[i].ullFileNameHash) && GetFileAddress(i, &pDirEntryArray[i].ullAddress) &&
                   GetFileBufferSize(i, &pDirEntryArray[i].ullSize);
        RVPK_PROCESS_ERROR(nRetCode);
    }
    std::stable_sort(pDirEntryArray.get(), pDirEntryArray.get() + m_uEntryCount,
                     [uHashTableLen](const RVPK_DIRECTORY_ENTRY& A, const RVPK_DIRECTORY_ENTRY& B) {
                         return A.ullFileNameHash % uHashTableLen < B.ullFileNameHash % uHashTableLen;
                     });
    for (uint32_t i = 0; i < m_uEntryCount; ++i) {
        nRetCode = SetFileNameHash(i, pDirEntryArray[i].ullFileNameHash) && SetFileAddress(i, pDirEntryArray[i].ullAddress) &&
                   SetFileBufferSize(i, pDirEntryArray[i].ullSize);
        RVPK_PROCESS_ERROR(nRetCode);
    }
    nResult = 1;
Exit0:
    return nResult;
}
