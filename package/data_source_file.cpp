// The reader of an update file's outside data sources.
#include "package/data_source_file.h"

#include "package/folder_helpers.h"
#include "package/log_stream.h"
#include "package/wide_string.h"

Rv_DataSourceFileReader::~Rv_DataSourceFileReader()
{
    Uninit();
}

int Rv_DataSourceFileReader::Init(const RVPK_DATA_SOURCE_FILE_INFO_MAP& rDataSourceFileInfoMap, const char16_t* pcszExplicitFilePath,
                                  const char16_t* pcszDirectory)
{
    int nResult = 0;
    int nRetCode = 0;
    std::u16string strFileName;
    std::u16string strPath;
    FILE* fpDataSourceFile = nullptr;

    for (const auto& Entry : rDataSourceFileInfoMap) {
        const RVPK_DATA_SOURCE_FILE_INFO& Info = Entry.second;
        if (pcszExplicitFilePath && Info.uIsUpdateFileItself) {
            strPath = pcszExplicitFilePath;
        } else {
            RVPK_ASSERT_EXIT(pcszDirectory);
            // The name comes from the update file: a terminated path relative
            // to the working folder that stays inside it (sub-folders allowed;
            // no "..", nothing rooted, no drive), as the update file reader checks.
            nRetCode = Rv_ReadFixedString(Info.szFileName, 64, &strFileName);
            RVPK_PROCESS_ERROR_QUOTING(nRetCode, "szFileName terminated");
            nRetCode = Rv_IsSafeRelativePath(strFileName);
            RVPK_PROCESS_ERROR_QUOTING(nRetCode, "Rv_IsSafeRelativePath(szFileName)");
            strPath = Rv_JoinPackagePath(pcszDirectory, strFileName);
        }
        fpDataSourceFile = Rv_FOpen(strPath.c_str(), "rb");
        if (!fpDataSourceFile)
            Rv_LogPrintf(u"Error: open file failed. szDataSourceFilePath = %s", strPath.c_str());
        RVPK_PROCESS_ERROR(fpDataSourceFile);
        auto ibRetCode = m_DataSourceFileHandleMap.insert({Entry.first, Rv_DataSourceFileHandle{Info, fpDataSourceFile}});
        if (!ibRetCode.second)
            fclose(fpDataSourceFile);
        fpDataSourceFile = nullptr;
        RVPK_PROCESS_ERROR(ibRetCode.second);
    }
    nResult = 1;
Exit0:
    if (!nResult)
        Uninit();
    return nResult;
}

int Rv_DataSourceFileReader::Uninit()
{
    for (auto& Entry : m_DataSourceFileHandleMap)
        if (Entry.second.fpFile)
            fclose(Entry.second.fpFile);
    m_DataSourceFileHandleMap.clear();
    return 1;
}

int Rv_DataSourceFileReader::ReadData(uint32_t uDataSourceId, uint64_t ullOffset, uint32_t uDataSize, void* pbyDataBuffer)
{
    int nResult = 0;
    uint64_t ullPosition = 0;
    auto it = m_DataSourceFileHandleMap.find(uDataSourceId);

    RVPK_ASSERT_EXIT(pbyDataBuffer);
    RVPK_ASSERT_EXIT(uDataSize > 0);
    RVPK_PROCESS_ERROR(it != m_DataSourceFileHandleMap.end());
    // A base offset and an offset from the file must not wrap past 63 bits.
    RVPK_PROCESS_ERROR(it->second.Info.ullBaseOffset <= (uint64_t)INT64_MAX &&
                       ullOffset <= (uint64_t)INT64_MAX - it->second.Info.ullBaseOffset);
    ullPosition = it->second.Info.ullBaseOffset + ullOffset;
    RVPK_PROCESS_ERROR_QUOTING(fseeko(it->second.fpFile, (off_t)ullPosition, SEEK_SET) == 0, "nRetCode == 0");
    RVPK_PROCESS_ERROR_QUOTING(fread(pbyDataBuffer, uDataSize, 1, it->second.fpFile) == 1, "uRetCode == 1");
    nResult = 1;
Exit0:
    return nResult;
}
