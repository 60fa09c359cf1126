// The data files of a package: their names, new empty data files (blocks
// reserved, then filled by plain writes), and plain reads for backups.
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

static const uint64_t s_ullFillChunkSize = 4 * 1024 * 1024;   // writes that fill a new file

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

int Rv_CreateEmptyDataFile(const char16_t* pcszDataFilePath, uint64_t ullEmptyDataSize)
{
    int nResult = 0;
    int nRetCode = 0;
    std::u16string strTempPath;
    FILE* fpDataFile = nullptr;
    Pf_LargeBuffer EmptyChunk;
    uint64_t ullDone = 0;
    int bTempCreated = 0;

    RVPK_ASSERT_EXIT(pcszDataFilePath);
    RVPK_ASSERT_EXIT_QUOTING(ullEmptyDataSize > 0, "uEmptyDataSize > 0");
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
    // Every block is reserved first: a disk without room for the whole file
    // fails here, before a byte is written.
    nRetCode = Pf_ReserveStream(fpDataFile, ullEmptyDataSize);
    if (!nRetCode)
        Rv_LogPrintf(u"ERROR: no room for the data file. pcszDataFilePath = %s, ErrCode = %u", strTempPath.c_str(),
                     (unsigned)Pf_GetLastError());
    RVPK_PROCESS_ERROR_QUOTING(nRetCode, "nRetCode == 0");
    // Filled with 0xCE by plain writes of large chunks.
    RVPK_PROCESS_ERROR_QUOTING(EmptyChunk.Allocate((size_t)std::min(ullEmptyDataSize, s_ullFillChunkSize)), "pbyFileBuffer");
    memset(EmptyChunk.Data(), RVPK_EMPTY_BYTE, EmptyChunk.Size());
    while (ullDone < ullEmptyDataSize) {
        size_t uChunk = (size_t)std::min(s_ullFillChunkSize, ullEmptyDataSize - ullDone);
        nRetCode = fwrite(EmptyChunk.Data(), uChunk, 1, fpDataFile) == 1;
        RVPK_PROCESS_ERROR_QUOTING(nRetCode, "uRetCode == 1");
        Pf_StartStreamWriteback(fpDataFile, ullDone, uChunk);   // the disk works while the next chunk is filled
        ullDone += uChunk;
    }
    nRetCode = Rv_CloseWrittenFile(&fpDataFile, 1);
    RVPK_PROCESS_ERROR_QUOTING(nRetCode, "Rv_SyncFile");
    Pf_CrashPoint();
    nRetCode = Rv_MoveFileOverwrite(strTempPath.c_str(), pcszDataFilePath);
    RVPK_PROCESS_ERROR_QUOTING(nRetCode, "Rv_MoveFileOverwrite");
    bTempCreated = 0;
    nRetCode = Rv_SyncDirectory(_FolderOf(pcszDataFilePath).c_str());
    RVPK_PROCESS_ERROR_QUOTING(nRetCode, "Rv_SyncDirectory");
    nResult = 1;
Exit0:
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
    RVPK_ASSERT_EXIT(uFileCount > 0);
    RVPK_ASSERT_EXIT(m_fpDataFileArray.empty());
    RVPK_ASSERT_EXIT(ullMaxSizePerDataFile <= UINT32_MAX);
    RVPK_ASSERT_EXIT_QUOTING(Rv_IsSafeFileName(pcszFileNamePrefix), "pcszFileNamePrefix");
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
    // Checked before the buffer is sized: the range stays inside its data
    // file, and one that runs past its end fails as the read would.
    RVPK_PROCESS_ERROR(ullSize <= m_ullMaxSizePerDataFile);
    RVPK_PROCESS_ERROR_QUOTING(ullSize <= m_ullMaxSizePerDataFile - ullOffset, "uReadCount == 1");
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
