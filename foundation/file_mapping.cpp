// Views of a read-only file mapping, and the CRC-32 of a file read in chunks.
#include "foundation/file_mapping.h"

#include "foundation/crc32.h"
#include "foundation/log.h"
#include "platform/file.h"
#include "platform/mapping.h"

#include <algorithm>
#include <memory>
#include <new>

// The largest view tried first; smaller ones follow when the system refuses.
static const uint32_t s_uMaxViewSize = 0x20000000;
// The file CRC reads this much at a time: small enough to stay in the cache
// between the read and the CRC.
static const uint32_t s_uReadChunkSize = 256 * 1024;

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
    uint64_t ullCurrentSize = 0;

    RVLOG_PROCESS_ERROR(ppvRetData);
    *ppvRetData = nullptr;

    bInside = m_pbyData && uOffset >= m_uOffset &&
              (uint64_t)uOffset + uSize <= (uint64_t)m_uOffset + m_uMappingSize;
    if (!bInside)
        RVLOG_PROCESS_ERROR(_ReMappingData(uOffset));

    RVLOG_PROCESS_ERROR(uOffset >= m_uOffset);
    RVLOG_PROCESS_ERROR(uOffset < m_uOffset + m_uMappingSize);
    RVLOG_PROCESS_ERROR(m_uOffset + m_uMappingSize - uOffset >= uSize);
    // The file may have been cut since the view was made: pages past its
    // end would fault on the caller's first touch.
    RVLOG_PROCESS_ERROR(Pf_GetMapFileSize(m_hFile, &ullCurrentSize));
    RVLOG_PROCESS_ERROR((uint64_t)uOffset + uSize <= ullCurrentSize);

    *ppvRetData = m_pbyData + (uOffset - m_uOffset);
    nResult = 1;
Exit0:
    return nResult;
}

int Rv_GetFileCRC(const char* cszFileName, uint32_t* puRetCRC)
{
    int nResult = 0;
    int nRetCode = 0;
    Pf_MapFile* hFile = nullptr;
    uint64_t ullSize = 0;
    uint32_t uFileSizeHigh = 0;
    uint32_t uCRC = 0;
    uint64_t ullDone = 0;
    uint32_t uPart = 0;
    std::unique_ptr<unsigned char[]> pbyChunk;

    RVLOG_PROCESS_ERROR(cszFileName && cszFileName[0]);
    RVLOG_PROCESS_ERROR(puRetCRC);

    // Read in chunks, not mapped: a file that another program cuts while it
    // is read gives a failed read here, where a view would fault.
    hFile = Pf_OpenMapFile(cszFileName, 0);
    RVLOG_PROCESS_ERROR(hFile);
    RVLOG_PROCESS_ERROR(Pf_GetMapFileSize(hFile, &ullSize));
    uFileSizeHigh = (uint32_t)(ullSize >> 32);
    RVLOG_PROCESS_ERROR(uFileSizeHigh == 0 && "Not support the file that size bigger than 2G.");
    if (ullSize) {
        pbyChunk.reset(new (std::nothrow) unsigned char[s_uReadChunkSize]);
        RVLOG_PROCESS_ERROR(pbyChunk);
    }
    while (ullDone < ullSize) {
        uPart = (uint32_t)std::min<uint64_t>(ullSize - ullDone, s_uReadChunkSize);
        nRetCode = Pf_ReadMapFile(hFile, ullDone, pbyChunk.get(), uPart);
        if (!nRetCode)
            RvLog_Write(RVLOG_DEBUG, "Failed to read file %s at %llu, GetLastError() = %d", cszFileName, (unsigned long long)ullDone,
                        Pf_GetLastError());
        RVLOG_PROCESS_ERROR(nRetCode);
        uCRC = Rv_CRC32(uCRC, pbyChunk.get(), uPart);
        ullDone += uPart;
    }
    *puRetCRC = uCRC;

    nResult = 1;
Exit0:
    if (hFile)
        Pf_CloseMapFile(hFile);
    return nResult;
}
