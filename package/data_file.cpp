// The data files of a package: their names, new empty data files, plain
// reads for backups, and the mapped writes of an update.
#include "package/data_file.h"

#include "package/folder_helpers.h"
#include "package/log_stream.h"
#include "package/wide_format.h"
#include "package/wide_string.h"
#include "platform/clock.h"
#include "platform/crash_point.h"
#include "platform/file.h"

#include <algorithm>
#include <cstring>
#include <new>

static const uint64_t s_ullViewChunkSize = 10 * 1024 * 1024;   // views that fill a new file

int Rv_GetDataFilePath(char16_t* pszRetFilePath, unsigned uRetFilePathLen, const char16_t* pcszDirectory,
                       const char16_t* pcszFileNamePrefix, uint32_t uIndex)
{
    int nResult = 0;
    int nRetCode = 0;

    RVPK_ASSERT_EXIT(pszRetFilePath);
    RVPK_ASSERT_EXIT(pcszDirectory);
    RVPK_ASSERT_EXIT(pcszFileNamePrefix);
    nRetCode = Rv_Format(pszRetFilePath, uRetFilePathLen, u"%s/%s%u.%s", pcszDirectory, pcszFileNamePrefix, (unsigned)uIndex, u"DAT");
    RVPK_PROCESS_ERROR(nRetCode != -1);
    if (!Rv_IsFileExist(pszRetFilePath)) {
        nRetCode = Rv_Format(pszRetFilePath, uRetFilePathLen, u"%s/%s%u.%s", pcszDirectory, pcszFileNamePrefix, (unsigned)uIndex, u"DATA");
        RVPK_PROCESS_ERROR(nRetCode != -1);
    }
    nResult = 1;
Exit0:
    return nResult;
}

static std::u16string _FolderOf(const std::u16string& strPath)
{
    size_t uPos = strPath.find_last_of(u"/\\");
    if (uPos == std::u16string::npos)
        return u".";
    return uPos == 0 ? u"/" : strPath.substr(0, uPos);
}

// Fills [0, size) of a read-write mapping with 0xCE through views of 10 MiB.
static int _FillMappingWithEmptyBytes(IRv_FileMapping* piFileMapping, uint64_t ullSize)
{
    int nResult = 0;
    HRESULT hrRetCode = E_FAIL;
    IRv_FileBuffer* piFileBuffer = nullptr;
    uint64_t ullOffset = 0;

    while (ullOffset < ullSize) {
        // No view for an empty remainder: size 0 would mean "to the end".
        uint64_t ullChunk = std::min(s_ullViewChunkSize, ullSize - ullOffset);
        hrRetCode = piFileMapping->MapView(ullOffset, (uint32_t)ullChunk, &piFileBuffer);
        RVPK_COM_PROCESS_ERROR(hrRetCode);
        RVPK_PROCESS_ERROR(piFileBuffer->GetData() && "pbyFileBuffer");
        memset(piFileBuffer->GetData(), RVPK_EMPTY_BYTE, (size_t)ullChunk);
        Rv_ComRelease(piFileBuffer);
        ullOffset += ullChunk;
    }
    nResult = 1;
Exit0:
    Rv_ComRelease(piFileBuffer);
    return nResult;
}

int Rv_CreateEmptyDataFile(const char16_t* pcszDataFilePath, uint64_t ullEmptyDataSize)
{
    int nResult = 0;
    int nRetCode = 0;
    HRESULT hrRetCode = E_FAIL;
    std::u16string strTempPath;
    FILE* fpDataFile = nullptr;
    IRv_FileManager* piFileManager = nullptr;
    IRv_FileMapping* piFileMapping = nullptr;
    int bTempCreated = 0;

    RVPK_ASSERT_EXIT(pcszDataFilePath);
    RVPK_ASSERT_EXIT(ullEmptyDataSize > 0 && "uEmptyDataSize > 0");
    RVPK_ASSERT_EXIT(ullEmptyDataSize <= UINT32_MAX);
    // Made aside and renamed into place, so that a kill never leaves a data
    // file of the final name that is short or not yet filled.
    strTempPath = std::u16string(pcszDataFilePath) + u".tmp";
    Pf_CrashPoint();
    fpDataFile = Rv_FOpen(strTempPath.c_str(), "wb");
    if (!fpDataFile)
        Rv_LogPrintf(u"Error: open file failed. pcszDataFilePath = %s", strTempPath.c_str());
    RVPK_PROCESS_ERROR(fpDataFile);
    bTempCreated = 1;
    nRetCode = fseeko(fpDataFile, (off_t)(ullEmptyDataSize - 1), SEEK_SET) == 0 && fputc(0, fpDataFile) != EOF;
    RVPK_PROCESS_ERROR(nRetCode && "nRetCode == 0");
    nRetCode = Rv_CloseWrittenFile(&fpDataFile, 0);
    RVPK_PROCESS_ERROR(nRetCode);

    hrRetCode = Rv_CreateOutsidePackageFileManager(nullptr, &piFileManager);
    RVPK_COM_PROCESS_ERROR(hrRetCode);
    hrRetCode = piFileManager->CreateFileMapping(strTempPath.c_str(), RV_FILE_MAPPING_MODE_READ_WRITE, &piFileMapping);
    if (FAILED(hrRetCode))
        Rv_LogPrintf(u"ERROR: CreateFileMapping failed. pcszDataFilePath = %s", strTempPath.c_str());
    RVPK_COM_PROCESS_ERROR(hrRetCode);
    nRetCode = _FillMappingWithEmptyBytes(piFileMapping, ullEmptyDataSize);
    RVPK_PROCESS_ERROR(nRetCode);
    Rv_ComRelease(piFileMapping);
    nRetCode = Rv_SyncFile(strTempPath.c_str());
    RVPK_PROCESS_ERROR(nRetCode && "Rv_SyncFile");
    Pf_CrashPoint();
    nRetCode = Rv_MoveFileOverwrite(strTempPath.c_str(), pcszDataFilePath);
    RVPK_PROCESS_ERROR(nRetCode && "Rv_MoveFileOverwrite");
    bTempCreated = 0;
    nRetCode = Rv_SyncDirectory(_FolderOf(pcszDataFilePath).c_str());
    RVPK_PROCESS_ERROR(nRetCode && "Rv_SyncDirectory");
    nResult = 1;
Exit0:
    Rv_ComRelease(piFileMapping);
    Rv_ComRelease(piFileManager);
    if (fpDataFile)
        fclose(fpDataFile);
    if (bTempCreated)
        Rv_DeleteFile(strTempPath.c_str());
    return nResult;
}

// The address split shared by reader and writer.
static void _SplitAddress(uint64_t ullAddress, uint64_t ullMaxSizePerDataFile, uint32_t* puRetIndex, uint64_t* pullRetOffset)
{
    uint64_t ullIndex = ullAddress / ullMaxSizePerDataFile;
    *puRetIndex = ullIndex > UINT32_MAX ? UINT32_MAX : (uint32_t)ullIndex;
    *pullRetOffset = ullAddress % ullMaxSizePerDataFile;
}

// ------------------------------------------------------------------ reader

Rv_DataFileReader::~Rv_DataFileReader()
{
    for (FILE* fp : m_fpDataFileArray)
        if (fp)
            fclose(fp);
}

int Rv_DataFileReader::Init(const char16_t* pcszDirectory, const char16_t* pcszFileNamePrefix, uint64_t ullMaxSizePerDataFile,
                            uint32_t uFileCount)
{
    int nResult = 0;
    int nRetCode = 0;
    char16_t szPath[RVPK_DATA_FILE_PATH_LEN];
    FILE* fpFile = nullptr;

    RVPK_ASSERT_EXIT(pcszDirectory);
    RVPK_ASSERT_EXIT(pcszFileNamePrefix);
    RVPK_ASSERT_EXIT(ullMaxSizePerDataFile > 0);
    RVPK_ASSERT_EXIT(ullMaxSizePerDataFile <= UINT32_MAX);
    RVPK_ASSERT_EXIT(uFileCount > 0);
    RVPK_ASSERT_EXIT(m_fpDataFileArray.empty());
    RVPK_ASSERT_EXIT(Rv_IsSafeFileName(pcszFileNamePrefix) && "pcszFileNamePrefix");
    m_wstrDirectory = pcszDirectory;
    m_wstrFileNamePrefix = pcszFileNamePrefix;
    m_ullMaxSizePerDataFile = ullMaxSizePerDataFile;
    for (uint32_t i = 0; i < uFileCount; ++i) {
        nRetCode = Rv_GetDataFilePath(szPath, RVPK_DATA_FILE_PATH_LEN, pcszDirectory, pcszFileNamePrefix, i);
        RVPK_PROCESS_ERROR(nRetCode);
        fpFile = Rv_FOpen(szPath, "rb");
        if (!fpFile)
            Rv_LogPrintf(u"Open DATA file error. File Path = %s", szPath);
        RVPK_PROCESS_ERROR(fpFile);
        m_fpDataFileArray.push_back(fpFile);
    }
    nResult = 1;
Exit0:
    if (!nResult)
        Uninit();
    return nResult;
}

int Rv_DataFileReader::Uninit()
{
    for (FILE* fp : m_fpDataFileArray)
        if (fp)
            fclose(fp);
    m_fpDataFileArray.clear();
    return 1;
}

int Rv_DataFileReader::ReadRawData(uint64_t ullAddress, uint64_t ullSize, IRv_Buffer** ppRetBuffer)
{
    int nResult = 0;
    HRESULT hrRetCode = E_FAIL;
    uint32_t uDataFielIndex = 0;
    uint64_t ullOffset = 0;
    IRv_Buffer* piBuffer = nullptr;

    RVPK_ASSERT_EXIT(!m_fpDataFileArray.empty());
    RVPK_ASSERT_EXIT(ullSize > 0);
    RVPK_ASSERT_EXIT(ppRetBuffer);
    _SplitAddress(ullAddress, m_ullMaxSizePerDataFile, &uDataFielIndex, &ullOffset);
    RVPK_PROCESS_ERROR(uDataFielIndex < m_fpDataFileArray.size());
    // Checked before the buffer is sized: the range stays inside its data file.
    RVPK_PROCESS_ERROR(ullSize <= m_ullMaxSizePerDataFile);
    RVPK_PROCESS_ERROR(ullSize <= m_ullMaxSizePerDataFile - ullOffset);
    hrRetCode = Rv_CreateBuffer((uint32_t)ullSize, &piBuffer);
    RVPK_COM_PROCESS_ERROR(hrRetCode);
    RVPK_PROCESS_ERROR_QUOTING(fseeko(m_fpDataFileArray[uDataFielIndex], (off_t)ullOffset, SEEK_SET) == 0, "nRetCode == 0");
    RVPK_PROCESS_ERROR_QUOTING(fread(piBuffer->GetData(), (size_t)ullSize, 1, m_fpDataFileArray[uDataFielIndex]) == 1, "uReadCount == 1");
    *ppRetBuffer = piBuffer;
    piBuffer = nullptr;
    nResult = 1;
Exit0:
    Rv_ComRelease(piBuffer);
    return nResult;
}
