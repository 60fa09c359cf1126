// The data-file writer: every write of an update goes to the data files
// opened as read-write mappings, with plain reads and writes of large chunks
// (the bytes are only copied, so views would add nothing but page faults);
// changed files are synced and stamped.
#include "package/data_file.h"

#include "package/folder_helpers.h"
#include "package/log_stream.h"
#include "package/wide_format.h"
#include "package/wide_string.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "platform/text.h"

#include <algorithm>
#include <cstring>

static const uint64_t s_ullEmptyBlockSize = 16 * 1024 * 1024;

Rv_DataFileWriter::~Rv_DataFileWriter()
{
    _ReleaseAll();
}

void Rv_DataFileWriter::_ReleaseAll()
{
    for (IRv_FileMapping*& piMapping : m_FileMappingArray)
        Rv_ComRelease(piMapping);
    m_FileMappingArray.clear();
    Rv_ComRelease(m_piFileManager);
    m_EmptyBuffer.Free();
    m_CopyBuffer.Free();
    m_bOpenDataFiles = 0;
}

int Rv_DataFileWriter::_OpenMapping(uint32_t uIndex, const std::u16string& strPath)
{
    int nResult = 0;
    HRESULT hrRetCode = E_FAIL;
    IRv_FileMapping* piMapping = nullptr;
    Pf_FILETIME ftWrite{};

    (void)uIndex;
    Pf_SetReadOnly(Rv_ToNarrow(strPath), 0);   // a read-only data file becomes writable
    hrRetCode = m_piFileManager->CreateFileMapping(strPath.c_str(), RV_FILE_MAPPING_MODE_READ_WRITE, &piMapping);
    if (FAILED(hrRetCode))
        Rv_LogPrintf(u"ERROR: CreateFileMapping failed. szDataFilePath = %s", strPath.c_str());
    RVPK_COM_PROCESS_ERROR(hrRetCode);
    Pf_GetFileTimes(Rv_ToNarrow(strPath), nullptr, nullptr, &ftWrite);
    m_FileMappingArray.push_back(piMapping);
    piMapping = nullptr;
    m_vecDataFilePaths.push_back(strPath);
    m_vecChangedFlags.push_back(0);
    m_vecDirtyFlags.push_back(0);
    m_vecWriteTimes.push_back(Pf_FileTimeToU64(ftWrite));
    nResult = 1;
Exit0:
    Rv_ComRelease(piMapping);
    return nResult;
}

int Rv_DataFileWriter::Init(const char16_t* pcszDirectory, const char16_t* pcszFileNamePrefix, uint64_t ullMaxSizePerDataFile,
                            uint32_t uFileCount)
{
    int nResult = 0;
    int nRetCode = 0;
    HRESULT hrRetCode = E_FAIL;
    char16_t szDataFilePath[RVPK_DATA_FILE_PATH_LEN];

    RVPK_ASSERT_EXIT(pcszDirectory);
    RVPK_ASSERT_EXIT(pcszFileNamePrefix);
    RVPK_ASSERT_EXIT(m_FileMappingArray.empty());
    RVPK_ASSERT_EXIT_QUOTING(Rv_IsSafeFileName(pcszFileNamePrefix), "pcszFileNamePrefix");
    // 0 would divide by zero in the address split; above 32 bits the data
    // files could not be created at their size.
    RVPK_ASSERT_EXIT(ullMaxSizePerDataFile > 0);
    RVPK_ASSERT_EXIT(ullMaxSizePerDataFile <= UINT32_MAX);
    m_uFileCount = uFileCount;
    m_ullMaxSizePerDataFile = ullMaxSizePerDataFile;
    m_wstrDirectory = pcszDirectory;
    m_wstrFileNamePrefix = pcszFileNamePrefix;
    // Paths are handed over whole: a manager without root takes an absolute
    // one unchanged and a relative one against the current folder, as the
    // directory itself would be.
    hrRetCode = Rv_CreateOutsidePackageFileManager(nullptr, &m_piFileManager);
    RVPK_COM_PROCESS_ERROR(hrRetCode);
    m_vecDataFilePaths.clear();
    m_vecChangedFlags.clear();
    m_vecDirtyFlags.clear();
    m_vecWriteTimes.clear();
    for (uint32_t i = 0; i < uFileCount; ++i) {
        nRetCode = Rv_GetDataFilePath(szDataFilePath, RVPK_DATA_FILE_PATH_LEN, pcszDirectory, pcszFileNamePrefix, i);
        RVPK_PROCESS_ERROR(nRetCode);
        nRetCode = _OpenMapping(i, szDataFilePath);
        RVPK_PROCESS_ERROR(nRetCode);
    }
    m_bOpenDataFiles = 1;
    nResult = 1;
Exit0:
    if (!nResult)
        _ReleaseAll();
    return nResult;
}

int Rv_DataFileWriter::Uninit()
{
    int nResult = 0;
    int nRetCode = 0;

    for (IRv_FileMapping*& piMapping : m_FileMappingArray)
        Rv_ComRelease(piMapping);
    nRetCode = _SetAllDataFileToCurrentTime();
    _ReleaseAll();
    RVPK_PROCESS_ERROR(nRetCode);
    nResult = 1;
Exit0:
    return nResult;
}

int Rv_DataFileWriter::_SetAllDataFileToCurrentTime()
{
    int nResult = 0;
    int nRetCode = 0;
    Pf_FILETIME ftNow = Pf_UnixToFileTime(Pf_GetUnixTime(), 0);

    for (size_t i = 0; i < m_vecDataFilePaths.size(); ++i) {
        if (m_vecChangedFlags[i]) {
            nRetCode = Pf_SetFileTimes(Rv_ToNarrow(m_vecDataFilePaths[i]), nullptr, &ftNow);
            RVPK_PROCESS_ERROR(nRetCode);
        } else if (m_vecDirtyFlags[i]) {
            // Written only as a batch-move source: the system moved its time
            // on; it keeps the time it had.
            Pf_FILETIME ftOld = Pf_U64ToFileTime(m_vecWriteTimes[i]);
            nRetCode = Pf_SetFileTimes(Rv_ToNarrow(m_vecDataFilePaths[i]), nullptr, &ftOld);
            RVPK_PROCESS_ERROR(nRetCode);
        }
    }
    nResult = 1;
Exit0:
    return nResult;
}

int Rv_DataFileWriter::SyncDataFiles()
{
    int nResult = 0;
    int nRetCode = 0;

    // Every changed file is on its way to the disk before the first wait.
    for (size_t i = 0; i < m_vecDataFilePaths.size(); ++i)
        if (m_vecDirtyFlags[i])
            Pf_StartWriteback(Rv_ToNarrow(m_vecDataFilePaths[i]));
    for (size_t i = 0; i < m_vecDataFilePaths.size(); ++i) {
        if (!m_vecDirtyFlags[i])
            continue;
        nRetCode = Rv_SyncFile(m_vecDataFilePaths[i].c_str());
        RVPK_PROCESS_ERROR_QUOTING(nRetCode, "Rv_SyncFile(data file)");
    }
    nRetCode = Rv_SyncDirectory(m_wstrDirectory.c_str());
    RVPK_PROCESS_ERROR_QUOTING(nRetCode, "Rv_SyncDirectory");
    nResult = 1;
Exit0:
    return nResult;
}

int Rv_DataFileWriter::AddEmptyDataFile(uint32_t uDataFileIndex)
{
    int nResult = 0;
    int nRetCode = 0;
    char16_t szDataFilePath[RVPK_DATA_FILE_PATH_LEN];

    RVPK_ASSERT_EXIT(m_bOpenDataFiles);
    RVPK_ASSERT_EXIT(uDataFileIndex == m_uFileCount);
    RVPK_ASSERT_EXIT(m_uFileCount < UINT32_MAX);
    nRetCode = Rv_Format(szDataFilePath, RVPK_DATA_FILE_PATH_LEN, u"%s/%s%u.%s", m_wstrDirectory.c_str(), m_wstrFileNamePrefix.c_str(),
                         (unsigned)uDataFileIndex, u"DAT");
    RVPK_PROCESS_ERROR(nRetCode != -1);
    nRetCode = Rv_CreateEmptyDataFile(szDataFilePath, m_ullMaxSizePerDataFile);
    RVPK_PROCESS_ERROR(nRetCode);
    nRetCode = _OpenMapping(uDataFileIndex, szDataFilePath);
    RVPK_PROCESS_ERROR(nRetCode);
    m_uFileCount++;
    nResult = 1;
Exit0:
    return nResult;
}

int Rv_DataFileWriter::_GetMapping(uint64_t ullAddress, uint64_t ullSize, const char* cszIndexText, IRv_FileMapping** ppiRetMapping,
                                   uint64_t* pullRetOffset, uint32_t* puRetIndex)
{
    int nResult = 0;
    uint64_t ullIndex = 0;
    uint64_t ullOffset = 0;

    RVPK_ASSERT_EXIT(m_ullMaxSizePerDataFile > 0);
    ullIndex = ullAddress / m_ullMaxSizePerDataFile;
    ullOffset = ullAddress % m_ullMaxSizePerDataFile;
    RVPK_PROCESS_ERROR_QUOTING(ullIndex < m_FileMappingArray.size(), cszIndexText);
    RVPK_PROCESS_ERROR_QUOTING(m_FileMappingArray[ullIndex], "piFileMapping");
    // A range never spills into the next data file: it fails as a view past
    // the file's end would.
    RVPK_ASSERT_EXIT_QUOTING(ullSize <= m_ullMaxSizePerDataFile - ullOffset, "ullOffset + uSize <= m_ullFileSize");
    *ppiRetMapping = m_FileMappingArray[ullIndex];
    *pullRetOffset = ullOffset;
    *puRetIndex = (uint32_t)ullIndex;
    nResult = 1;
Exit0:
    return nResult;
}

unsigned char* Rv_DataFileWriter::_CopyBuffer()
{
    if (!m_CopyBuffer.Data())
        m_CopyBuffer.Allocate(s_ullMoveChunkSize);
    return m_CopyBuffer.Data();
}

// Copies a range into the data file (pvIn) or out of it (pvOut) with plain
// reads and writes: a view would only add page faults to the copy.
static int _CopyData(IRv_FileMapping* piMapping, uint64_t ullOffset, uint64_t ullSize, const void* pvIn, void* pvOut)
{
    int nResult = 0;
    HRESULT hrRetCode = E_FAIL;

    RVPK_ASSERT_EXIT(ullSize > 0 && ullSize <= UINT32_MAX);
    RVPK_ASSERT_EXIT(pvIn || pvOut);
    if (pvIn)
        hrRetCode = piMapping->Write(ullOffset, (uint32_t)ullSize, pvIn);
    else
        hrRetCode = piMapping->Read(ullOffset, (uint32_t)ullSize, pvOut);
    RVPK_COM_PROCESS_ERROR(hrRetCode);
    nResult = 1;
Exit0:
    return nResult;
}

int Rv_DataFileWriter::WriteData(uint64_t ullAddress, uint64_t ullSize, const void* pbyDataBuffer)
{
    int nResult = 0;
    int nRetCode = 0;
    IRv_FileMapping* piMapping = nullptr;
    uint64_t ullOffset = 0;
    uint32_t uIndex = 0;

    RVPK_ASSERT_EXIT(!m_FileMappingArray.empty());
    RVPK_ASSERT_EXIT(ullSize > 0);
    RVPK_ASSERT_EXIT(pbyDataBuffer);
    nRetCode = _GetMapping(ullAddress, ullSize, "uDataFielIndex < m_FileMappingArray.size()", &piMapping, &ullOffset, &uIndex);
    RVPK_PROCESS_ERROR(nRetCode);
    m_vecDirtyFlags[uIndex] = 1;
    nRetCode = _CopyData(piMapping, ullOffset, ullSize, pbyDataBuffer, nullptr);
    RVPK_PROCESS_ERROR(nRetCode);
    m_vecChangedFlags[uIndex] = 1;
    nResult = 1;
Exit0:
    return nResult;
}

int Rv_DataFileWriter::_FillEmpty(uint64_t ullAddress, uint64_t ullSize)
{
    int nResult = 0;
    int nRetCode = 0;
    IRv_FileMapping* piMapping = nullptr;
    uint64_t ullOffset = 0;
    uint32_t uIndex = 0;
    uint64_t ullDone = 0;

    if (!m_EmptyBuffer.Data()) {
        RVPK_PROCESS_ERROR_QUOTING(m_EmptyBuffer.Allocate(s_ullEmptyBlockSize), "m_pbyEmptyBuffer");
        memset(m_EmptyBuffer.Data(), RVPK_EMPTY_BYTE, s_ullEmptyBlockSize);
    }
    nRetCode = _GetMapping(ullAddress, ullSize, "uDataFielIndex < m_FileMappingArray.size()", &piMapping, &ullOffset, &uIndex);
    RVPK_PROCESS_ERROR(nRetCode);
    m_vecDirtyFlags[uIndex] = 1;
    while (ullDone < ullSize) {
        uint64_t ullChunk = std::min(s_ullEmptyBlockSize, ullSize - ullDone);
        nRetCode = _CopyData(piMapping, ullOffset + ullDone, ullChunk, m_EmptyBuffer.Data(), nullptr);
        RVPK_PROCESS_ERROR(nRetCode);
        ullDone += ullChunk;
    }
    nResult = 1;
Exit0:
    return nResult;
}

int Rv_DataFileWriter::RemoveData(uint64_t ullAddress, uint64_t ullSize)
{
    int nResult = 0;
    int nRetCode = 0;

    RVPK_ASSERT_EXIT(!m_FileMappingArray.empty());
    RVPK_ASSERT_EXIT(ullSize > 0);
    nRetCode = _FillEmpty(ullAddress, ullSize);
    RVPK_PROCESS_ERROR(nRetCode);
    m_vecChangedFlags[ullAddress / m_ullMaxSizePerDataFile] = 1;   // the range was checked by the fill
    nResult = 1;
Exit0:
    return nResult;
}

int Rv_DataFileWriter::MoveDataBlock(uint64_t ullSrcAddress, uint64_t ullSize, uint64_t ullDestAddress)
{
    int nResult = 0;
    int nRetCode = 0;
    IRv_FileMapping* piSrcFileMapping = nullptr;
    IRv_FileMapping* piDestFileMapping = nullptr;
    uint64_t ullSrcOffset = 0;
    uint64_t ullDestOffset = 0;
    uint32_t uSrcDataFielIndex = 0;
    uint32_t uDestDataFileIndex = 0;
    uint64_t ullDone = 0;

    RVPK_ASSERT_EXIT(ullSize != 0);
    RVPK_ASSERT_EXIT(ullSrcAddress != ullDestAddress);
    // The ranges may not overlap: the destination may not begin inside the
    // source, nor the source inside the destination (written so that no sum
    // wraps).
    RVPK_ASSERT_EXIT_QUOTING(ullDestAddress < ullSrcAddress || ullDestAddress - ullSrcAddress >= ullSize,
                             "ullDestAddress >= ullSrcAddress + ullSize || ullDestAddress < ullSrcAddress");
    RVPK_ASSERT_EXIT_QUOTING(ullSrcAddress < ullDestAddress || ullSrcAddress - ullDestAddress >= ullSize,
                             "ullSrcAddress >= ullDestAddress + ullSize || ullSrcAddress < ullDestAddress");
    // Both files are checked before either range.
    RVPK_ASSERT_EXIT(m_ullMaxSizePerDataFile > 0);
    RVPK_PROCESS_ERROR_QUOTING(ullSrcAddress / m_ullMaxSizePerDataFile < m_FileMappingArray.size(),
                               "uSrcDataFielIndex < m_FileMappingArray.size()");
    RVPK_PROCESS_ERROR_QUOTING(ullDestAddress / m_ullMaxSizePerDataFile < m_FileMappingArray.size(),
                               "uDestDataFileIndex < m_FileMappingArray.size()");
    RVPK_PROCESS_ERROR_QUOTING(m_FileMappingArray[ullSrcAddress / m_ullMaxSizePerDataFile], "piSrcFileMapping");
    RVPK_PROCESS_ERROR_QUOTING(m_FileMappingArray[ullDestAddress / m_ullMaxSizePerDataFile], "piDestFileMapping");
    nRetCode = _GetMapping(ullSrcAddress, ullSize, "uSrcDataFielIndex < m_FileMappingArray.size()", &piSrcFileMapping, &ullSrcOffset,
                           &uSrcDataFielIndex);
    RVPK_PROCESS_ERROR(nRetCode);
    nRetCode = _GetMapping(ullDestAddress, ullSize, "uDestDataFileIndex < m_FileMappingArray.size()", &piDestFileMapping, &ullDestOffset,
                           &uDestDataFileIndex);
    RVPK_PROCESS_ERROR(nRetCode);
    m_vecDirtyFlags[uSrcDataFielIndex] = 1;
    m_vecDirtyFlags[uDestDataFileIndex] = 1;
    while (ullDone < ullSize) {
        uint64_t ullChunk = std::min(s_ullMoveChunkSize, ullSize - ullDone);
        nRetCode = _CopyBetween(piSrcFileMapping, ullSrcOffset + ullDone, piDestFileMapping, ullDestOffset + ullDone, ullChunk);
        RVPK_PROCESS_ERROR(nRetCode);
        m_vecChangedFlags[uDestDataFileIndex] = 1;
        nRetCode = _FillEmpty(ullSrcAddress + ullDone, ullChunk);
        RVPK_PROCESS_ERROR(nRetCode);
        m_vecChangedFlags[uSrcDataFielIndex] = 1;
        ullDone += ullChunk;
    }
    nResult = 1;
Exit0:
    return nResult;
}
