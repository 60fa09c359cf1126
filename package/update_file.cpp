// Reading update files: header, operation stream, overwrite segments and
// data sources, with every count bounded by the file's length.
#include "package/update_file.h"

#include "package/folder_helpers.h"
#include "package/log_stream.h"
#include "package/wide_string.h"

#include <cstring>

Rv_UpdateFileReader::Rv_UpdateFileReader()
    : m_fpUpdateFile(nullptr), m_uReadOperationCount(0), m_ullFileSize(0)
{
    memset(&m_Header, 0, sizeof(m_Header));
}

Rv_UpdateFileReader::~Rv_UpdateFileReader()
{
    Close();
}

int Rv_UpdateFileReader::Init(const char16_t* pcszUpdateFileName)
{
    int nResult = 0;

    RVPK_ASSERT_EXIT(pcszUpdateFileName);
    RVPK_ASSERT_EXIT(pcszUpdateFileName[0]);
    m_szUpdateFilePath = pcszUpdateFileName;
    RVPK_PROCESS_ERROR_QUOTING(m_szUpdateFilePath.size() < 260, "nRetCode");
    nResult = 1;
Exit0:
    return nResult;
}

int Rv_UpdateFileReader::BeginRead(RVPK_UPDATE_FILE_HEADER* pRetHeader)
{
    int nResult = 0;
    size_t uReadCount = 0;
    off_t llSize = -1;
    std::u16string strBranchName;

    RVPK_ASSERT_EXIT(pRetHeader);
    RVPK_PROCESS_ERROR(!m_fpUpdateFile);
    m_fpUpdateFile = Rv_FOpen(m_szUpdateFilePath.c_str(), "rb");
    if (!m_fpUpdateFile)
        Rv_LogPrintf(u"Error: open file failed. m_szUpdateFilePath = %s", m_szUpdateFilePath.c_str());
    RVPK_PROCESS_ERROR(m_fpUpdateFile);
    RVPK_PROCESS_ERROR(fseeko(m_fpUpdateFile, 0, SEEK_END) == 0);
    llSize = ftello(m_fpUpdateFile);
    RVPK_PROCESS_ERROR(llSize >= 0);
    m_ullFileSize = (uint64_t)llSize;
    RVPK_PROCESS_ERROR(fseeko(m_fpUpdateFile, 0, SEEK_SET) == 0);
    uReadCount = fread(&m_Header, sizeof(m_Header), 1, m_fpUpdateFile);
    RVPK_PROCESS_ERROR(uReadCount == 1);
    RVPK_PROCESS_ERROR_QUOTING(Rv_ReadFixedString(m_Header.szBranchName, 64, &strBranchName), "szBranchName terminated");
    RVPK_PROCESS_ERROR_QUOTING(Rv_IsSafeFileName(strBranchName), "szBranchName is a plain name");
    m_uReadOperationCount = 0;
    *pRetHeader = m_Header;
    nResult = 1;
Exit0:
    if (!nResult)
        Close();
    return nResult;
}

int Rv_UpdateFileReader::GetNextOpeartionType(int8_t* pcRetOperationType, int* pbRetNoMoreOperation)
{
    int nResult = 0;
    size_t uReadCount = 0;
    int8_t cType = 0;

    RVPK_ASSERT_EXIT(pcRetOperationType);
    RVPK_ASSERT_EXIT(pbRetNoMoreOperation);
    RVPK_PROCESS_ERROR(m_fpUpdateFile);
    if (m_uReadOperationCount == m_Header.uOperationCount) {
        *pbRetNoMoreOperation = 1;
        nResult = 1;
        goto Exit0;
    }
    uReadCount = fread(&cType, 1, 1, m_fpUpdateFile);
    RVPK_PROCESS_ERROR(uReadCount == 1);
    ++m_uReadOperationCount;
    *pcRetOperationType = cType;
    *pbRetNoMoreOperation = 0;
    nResult = 1;
Exit0:
    return nResult;
}

int Rv_UpdateFileReader::GetNextData(void* pvRetDataBuffer, uint32_t uDataSize)
{
    int nResult = 0;
    size_t uReadCount = 0;

    RVPK_ASSERT_EXIT(pvRetDataBuffer);
    RVPK_PROCESS_ERROR(uDataSize > 0);
    RVPK_PROCESS_ERROR(m_fpUpdateFile);
    uReadCount = fread(pvRetDataBuffer, uDataSize, 1, m_fpUpdateFile);
    RVPK_PROCESS_ERROR(uReadCount == 1);
    nResult = 1;
Exit0:
    return nResult;
}

int Rv_UpdateFileReader::CheckDataAvailable(uint64_t ullSize)
{
    int nResult = 0;
    off_t llPos = -1;

    RVPK_PROCESS_ERROR(m_fpUpdateFile);
    llPos = ftello(m_fpUpdateFile);
    RVPK_PROCESS_ERROR(llPos >= 0);
    RVPK_PROCESS_ERROR((uint64_t)llPos <= m_ullFileSize && ullSize <= m_ullFileSize - (uint64_t)llPos);
    nResult = 1;
Exit0:
    return nResult;
}

int Rv_UpdateFileReader::EndRead()
{
    int nResult = 0;

    RVPK_ASSERT_EXIT(m_uReadOperationCount == m_Header.uOperationCount);
    nResult = 1;
Exit0:
    Close();
    return nResult;
}

void Rv_UpdateFileReader::Close()
{
    if (m_fpUpdateFile) {
        fclose(m_fpUpdateFile);
        m_fpUpdateFile = nullptr;
    }
}

// Reads uCount records of uRecordSize bytes at ullOffset and comes back to
// the stream position; the list must lie inside the file. cszReadCheck is
// what a failed read logs.
int Rv_UpdateFileReader::_ReadList(uint64_t ullOffset, uint64_t ullCount, size_t uRecordSize, void* pvRet, const char* cszReadCheck)
{
    int nResult = 0;
    off_t llOldPos = -1;
    size_t uReadCount = 0;
    uint64_t ullBytes = ullCount * uRecordSize;

    RVPK_PROCESS_ERROR(m_fpUpdateFile);
    RVPK_PROCESS_ERROR_QUOTING(ullOffset <= m_ullFileSize && ullBytes <= m_ullFileSize - ullOffset, "list inside the file");
    llOldPos = ftello(m_fpUpdateFile);
    RVPK_PROCESS_ERROR(llOldPos != -1L);
    RVPK_PROCESS_ERROR_QUOTING(fseeko(m_fpUpdateFile, (off_t)ullOffset, SEEK_SET) == 0, "nRetCode == 0");
    uReadCount = fread(pvRet, (size_t)ullBytes, 1, m_fpUpdateFile);
    RVPK_PROCESS_ERROR_QUOTING(uReadCount == 1, cszReadCheck);
    RVPK_PROCESS_ERROR_QUOTING(fseeko(m_fpUpdateFile, llOldPos, SEEK_SET) == 0, "nRetCode == 0");
    nResult = 1;
Exit0:
    return nResult;
}

int Rv_UpdateFileReader::GetBackupDataSegmentRegion(std::vector<RVPK_DATA_SEGMENT>* pRetOverwriteDataSegmentList)
{
    int nResult = 0;
    int nRetCode = 0;
    uint64_t ullCount = m_Header.uOverwriteDataSegmentCount;
    std::vector<RVPK_DATA_SEGMENT> vecSegments;

    RVPK_ASSERT_EXIT(pRetOverwriteDataSegmentList);
    if (m_Header.ullOverwriteDataSegmentListOffset == 0) {
        nResult = 1;
        goto Exit0;
    }
    RVPK_PROCESS_ERROR_QUOTING(ullCount > 0, "uReadCount == 1");
    // The list must lie inside the file before it is sized into memory.
    RVPK_PROCESS_ERROR_QUOTING(m_Header.ullOverwriteDataSegmentListOffset <= m_ullFileSize &&
                                   ullCount * sizeof(RVPK_DATA_SEGMENT) <= m_ullFileSize - m_Header.ullOverwriteDataSegmentListOffset,
                               "list inside the file");
    vecSegments.resize((size_t)ullCount);
    nRetCode = _ReadList(m_Header.ullOverwriteDataSegmentListOffset, ullCount, sizeof(RVPK_DATA_SEGMENT), vecSegments.data(),
                         "uReadCount == 1");
    RVPK_PROCESS_ERROR(nRetCode);
    pRetOverwriteDataSegmentList->swap(vecSegments);
    nResult = 1;
Exit0:
    return nResult;
}

int Rv_UpdateFileReader::GetDataSourceFileInforMap(RVPK_DATA_SOURCE_FILE_INFO_MAP* pRetDataSourceFileInfoMap)
{
    int nResult = 0;
    int nRetCode = 0;
    uint64_t ullCount = m_Header.uDataSourceFileCount;
    std::vector<RVPK_DATA_SOURCE_FILE_INFO> vecInfos;
    RVPK_DATA_SOURCE_FILE_INFO_MAP mapInfos;
    std::u16string strName;

    RVPK_ASSERT_EXIT(pRetDataSourceFileInfoMap);
    if (ullCount == 0) {
        nResult = 1;
        goto Exit0;
    }
    RVPK_PROCESS_ERROR_QUOTING(m_Header.ullDataSourceFileListOffset <= m_ullFileSize &&
                                   ullCount * sizeof(RVPK_DATA_SOURCE_FILE_INFO) <= m_ullFileSize - m_Header.ullDataSourceFileListOffset,
                               "list inside the file");
    vecInfos.resize((size_t)ullCount);
    nRetCode = _ReadList(m_Header.ullDataSourceFileListOffset, ullCount, sizeof(RVPK_DATA_SOURCE_FILE_INFO), vecInfos.data(),
                         "uRetCode == 1");
    RVPK_PROCESS_ERROR(nRetCode);
    for (const RVPK_DATA_SOURCE_FILE_INFO& Info : vecInfos) {
        RVPK_PROCESS_ERROR_QUOTING(Rv_ReadFixedString(Info.szFileName, 64, &strName), "szFileName terminated");
        // The update file itself needs no name; any other source is a file of the working folder.
        RVPK_PROCESS_ERROR_QUOTING(Info.uIsUpdateFileItself || Rv_IsSafeRelativePath(strName), "szFileName is a safe relative path");
        RVPK_PROCESS_ERROR_QUOTING(mapInfos.emplace(Info.uDataSourceId, Info).second, "ibRetCode.second");
    }
    pRetDataSourceFileInfoMap->insert(mapInfos.begin(), mapInfos.end());
    nResult = 1;
Exit0:
    return nResult;
}
