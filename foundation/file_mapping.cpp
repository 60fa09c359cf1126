// Views of a read-only file mapping, and the CRC-32 of a file chained over them.
#include "foundation/file_mapping.h"

#include "foundation/crc32.h"
#include "foundation/log.h"
#include "platform/file.h"
#include "platform/mapping.h"

// The largest view tried first; smaller ones follow when the system refuses.
static const uint32_t s_uMaxViewSize = 0x20000000;

Rv_FileMapping::Rv_FileMapping()
    : m_hFile(nullptr), m_hMapping(nullptr), m_uFileSize(0), m_uGranularity(0), m_uOffset(0),
      m_uMappingSize(0), m_pbyData(nullptr)
{
}

Rv_FileMapping::~Rv_FileMapping()
{
    UnInit();
}

void Rv_FileMapping::_ReleaseView()
{
    if (m_pbyData)
        Pf_UnmapView(m_pbyData, m_uMappingSize);
    m_pbyData = nullptr;
    m_uOffset = 0;
    m_uMappingSize = 0;
}

void Rv_FileMapping::UnInit()
{
    _ReleaseView();
    if (m_hMapping)
        Pf_CloseMapping(m_hMapping);
    m_hMapping = nullptr;
    if (m_hFile)
        Pf_CloseMapFile(m_hFile);
    m_hFile = nullptr;
    m_uFileSize = 0;
}

int Rv_FileMapping::Init(const char* cszFileName)
{
    int nResult = 0;
    uint64_t ullSize = 0;
    uint32_t uFileSizeHigh = 0;
    bool bOwnState = false;   // a failure releases only what this call opened

    RVLOG_PROCESS_ERROR(cszFileName && cszFileName[0]);
    RVLOG_PROCESS_ERROR(!m_hFile);
    bOwnState = true;

    m_hFile = Pf_OpenMapFile(cszFileName, 0);
    RVLOG_PROCESS_ERROR(m_hFile);

    RVLOG_PROCESS_ERROR(Pf_GetMapFileSize(m_hFile, &ullSize));
    uFileSizeHigh = (uint32_t)(ullSize >> 32);
    RVLOG_PROCESS_ERROR(uFileSizeHigh == 0 && "Not support the file that size bigger than 2G.");
    m_uFileSize = (uint32_t)ullSize;

    m_uGranularity = Pf_GetAllocationGranularity();
    // An empty file has nothing to map; every range of it is outside.
    if (m_uFileSize) {
        RVLOG_PROCESS_ERROR(!m_hMapping);
        m_hMapping = Pf_CreateMapping(m_hFile, 0, m_uFileSize);
        RVLOG_PROCESS_ERROR(m_hMapping);

        RVLOG_PROCESS_ERROR(_ReMappingData(0));
    }

    nResult = 1;
Exit0:
    if (!nResult) {
        RvLog_Write(RVLOG_DEBUG, "Failed to open file %s, GetLastError() = %d", cszFileName ? cszFileName : "",
                    Pf_GetLastError());
        if (bOwnState)
            UnInit();
    }
    return nResult;
}

int Rv_FileMapping::_ReMappingData(uint32_t uOffset)
{
    int nResult = 0;
    uint32_t uWindow = s_uMaxViewSize;
    uint32_t uViewOffset = 0;
    uint32_t uLength = 0;
    void* pvView = nullptr;

    _ReleaseView();
    RVLOG_PROCESS_ERROR(m_uGranularity);
    uViewOffset = uOffset - uOffset % m_uGranularity;
    while (uWindow >= m_uGranularity) {
        uLength = uWindow;
        if ((uint64_t)uViewOffset + uWindow >= m_uFileSize)
            uLength = (uViewOffset < m_uFileSize) ? (m_uFileSize - uViewOffset) : 0;
        if (uLength && Pf_MapView(m_hMapping, uViewOffset, uLength, 0, &pvView)) {
            m_pbyData = (unsigned char*)pvView;
            m_uOffset = uViewOffset;
            m_uMappingSize = uLength;
            break;
        }
        uWindow /= 2;
    }
    RVLOG_PROCESS_ERROR(m_pbyData);

    nResult = 1;
Exit0:
    return nResult;
}

int Rv_FileMapping::GetData(uint32_t uOffset, uint32_t uSize, void** ppvRetData)
{
    int nResult = 0;
    bool bInside = false;

    RVLOG_PROCESS_ERROR(ppvRetData);
    *ppvRetData = nullptr;

    bInside = m_pbyData && uOffset >= m_uOffset &&
              (uint64_t)uOffset + uSize <= (uint64_t)m_uOffset + m_uMappingSize;
    if (!bInside)
        RVLOG_PROCESS_ERROR(_ReMappingData(uOffset));

    RVLOG_PROCESS_ERROR(uOffset >= m_uOffset);
    RVLOG_PROCESS_ERROR(uOffset < m_uOffset + m_uMappingSize);
    RVLOG_PROCESS_ERROR(m_uOffset + m_uMappingSize - uOffset >= uSize);

    *ppvRetData = m_pbyData + (uOffset - m_uOffset);
    nResult = 1;
Exit0:
    return nResult;
}

int Rv_GetFileCRC(const char* cszFileName, uint32_t* puRetCRC)
{
    int nResult = 0;
    Rv_FileMapping fileMapping;
    uint32_t uCRC = 0;
    uint32_t uDone = 0;
    uint32_t uPart = 0;
    void* pvData = nullptr;

    RVLOG_PROCESS_ERROR(cszFileName && cszFileName[0]);
    RVLOG_PROCESS_ERROR(puRetCRC);

    RVLOG_PROCESS_ERROR(fileMapping.Init(cszFileName));
    // Chained over views of at most the largest view size, so every size works.
    while (uDone < fileMapping.GetFileSize()) {
        uPart = fileMapping.GetFileSize() - uDone;
        if (uPart > s_uMaxViewSize)
            uPart = s_uMaxViewSize;
        RVLOG_PROCESS_ERROR(fileMapping.GetData(uDone, uPart, &pvData));
        uCRC = Rv_CRC32(uCRC, pvData, uPart);
        uDone += uPart;
    }
    *puRetCRC = uCRC;

    nResult = 1;
Exit0:
    fileMapping.UnInit();
    return nResult;
}
