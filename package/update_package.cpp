// The package update procedure: the main sequence from the rollback of an
// interrupted update to the deletion of the backup of a finished one.
#include "package/update_package.h"

#include "package/folder_helpers.h"
#include "package/log_stream.h"
#include "package/package_backup.h"
#include "package/update_operations.h"
#include "package/wide_string.h"

#include <vector>

enum { RVPK_SPLIT_PATH_LEN = 260 };

int Rv_UpdatePackage(const char16_t* pcszUpdateFilePath, const char16_t* pcszConfigFilePath, int* pRetNoNeedUpdate,
                     const char16_t* pcszWorkingDirectory)
{
    int nResult = 0;
    int nRetCode = 0;
    char16_t szUpdateFileDirectory[RVPK_SPLIT_PATH_LEN];
    char16_t szUpdateFileName[RVPK_SPLIT_PATH_LEN];
    char16_t szPackageDirectory[RVPK_SPLIT_PATH_LEN];
    char16_t szConfigFileName[RVPK_SPLIT_PATH_LEN];
    Rv_DataConfigFile DataConfigFile;
    RVPK_DATA_CONFIG DataConfig;
    Rv_UpdateFileReader UpdateFileReader;
    RVPK_UPDATE_FILE_HEADER UpdateHeader;
    std::u16string strBranchName;
    std::vector<RVPK_DATA_SEGMENT> OverwriteDataSegmentList;
    RVPK_DATA_SOURCE_FILE_INFO_MAP DataSourceFileInfoMap;
    Rv_DataSourceFileReader DataSourceFileReader;
    Rv_DataFileWriter DataFileWriter;
    Rv_DirectoryFiles DirectoryFiles;
    Rv_UpdateTargets Targets{};
    int bDataSourceReaderOpened = 0;
    int bDirectoryFilesOpened = 0;
    int bDataFileWriterOpened = 0;

    RVPK_ASSERT_EXIT(pcszUpdateFilePath);
    RVPK_ASSERT_EXIT(pcszConfigFilePath);
    RVPK_ASSERT_EXIT(pRetNoNeedUpdate);
    RVPK_ASSERT_EXIT(pcszWorkingDirectory);

    Rv_LogPrintf(u"The Rv_UpdatePackage is built at %hs, %hs.", __DATE__, __TIME__);
    Rv_LogPrintf(u"Rv_GetDirectoryAndFileName()");
    nRetCode = Rv_GetDirectoryAndFileName(pcszUpdateFilePath, szUpdateFileDirectory, RVPK_SPLIT_PATH_LEN, szUpdateFileName,
                                          RVPK_SPLIT_PATH_LEN) &&
               Rv_GetDirectoryAndFileName(pcszConfigFilePath, szPackageDirectory, RVPK_SPLIT_PATH_LEN, szConfigFileName,
                                          RVPK_SPLIT_PATH_LEN);
    RVPK_PROCESS_ERROR(nRetCode);

    nRetCode = _TransDataToDat(szPackageDirectory);
    RVPK_PROCESS_ERROR(nRetCode);

    Rv_LogPrintf(u"DataConfigFile.Init()");
    nRetCode = DataConfigFile.Init(pcszConfigFilePath);
    RVPK_PROCESS_ERROR(nRetCode);
    Rv_LogPrintf(u"DataConfigFile.LoadDataConfig()");
    nRetCode = DataConfigFile.LoadDataConfig(&DataConfig);
    RVPK_PROCESS_ERROR(nRetCode);

    if (DataConfig.PackageState == RVPK_PACKAGE_STATE_UPDATING) {
        Rv_LogPrintf(u"Rv_RollbackPackageIfNeeded()");
        nRetCode = Rv_RecoverPackageIfNeeded(szPackageDirectory, szConfigFileName);
        RVPK_PROCESS_ERROR(nRetCode);
        DataConfig.PackageState = RVPK_PACKAGE_STATE_NORMAL;
        nRetCode = DataConfigFile.SaveDataConfig(&DataConfig);
        RVPK_PROCESS_ERROR(nRetCode);
    }

    Rv_LogPrintf(u"UpdateFileReader.Init()");
    nRetCode = UpdateFileReader.Init(pcszUpdateFilePath);
    RVPK_PROCESS_ERROR(nRetCode);
    Rv_LogPrintf(u"UpdateFileReader.BeginRead()");
    nRetCode = UpdateFileReader.BeginRead(&UpdateHeader);
    RVPK_PROCESS_ERROR(nRetCode);
    nRetCode = Rv_ReadFixedString(UpdateHeader.szBranchName, 64, &strBranchName);
    RVPK_PROCESS_ERROR(nRetCode);   // a terminated plain name: the reader checked it

    Rv_LogPrintf(u"CleanPackageDirectoryForUpdate()");
    nRetCode = _CleanPackageDirectoryForUpdate(DataConfig, szPackageDirectory);
    RVPK_PROCESS_ERROR(nRetCode);
    // The package is in state 1 here, so a backup still present is stale (a
    // run stopped between the final save and the deletion of its backup):
    // it is removed with the other leftovers and can never be restored later.
    nRetCode = Rv_DeletePackageBackup(szPackageDirectory);
    RVPK_PROCESS_ERROR(nRetCode);

    Rv_LogPrintf(u"UpdateHeader.uFromDataVersion = %u , DataConfig.uDataVersion = %u", UpdateHeader.uFromDataVersion,
                 DataConfig.uDataVersion);
    if (UpdateHeader.uFromDataVersion < DataConfig.uDataVersion) {
        *pRetNoNeedUpdate = 1;
        nResult = 1;
        goto Exit0;
    }
    *pRetNoNeedUpdate = 0;
    RVPK_PROCESS_ERROR(UpdateHeader.uFromDataVersion == DataConfig.uDataVersion);

    nRetCode = _ValidateUpdateKey(UpdateHeader.uUpdateKeyInUpdateFile, DataConfig.uUpdateKey);
    RVPK_PROCESS_ERROR(nRetCode);
    nRetCode = UpdateFileReader.GetBackupDataSegmentRegion(&OverwriteDataSegmentList);
    RVPK_PROCESS_ERROR(nRetCode);

    // The backup and its folder are synced before the package is marked as updating.
    Rv_LogPrintf(u"Rv_BackupPackage()");
    nRetCode = Rv_BackupPackage(szPackageDirectory, OverwriteDataSegmentList, DataConfig);
    RVPK_PROCESS_ERROR(nRetCode);
    Rv_LogPrintf(u"_CreateDIRFilesIfNeeded()");
    nRetCode = _CreateDIRFilesIfNeeded(szPackageDirectory, strBranchName.c_str(), szConfigFileName);
    RVPK_PROCESS_ERROR(nRetCode);

    nRetCode = UpdateFileReader.GetDataSourceFileInforMap(&DataSourceFileInfoMap);
    RVPK_PROCESS_ERROR(nRetCode);
    nRetCode = DataSourceFileReader.Init(DataSourceFileInfoMap, pcszUpdateFilePath, pcszWorkingDirectory);
    RVPK_PROCESS_ERROR(nRetCode);
    bDataSourceReaderOpened = 1;

    DataConfig.PackageState = RVPK_PACKAGE_STATE_UPDATING;
    nRetCode = DataConfigFile.SaveDataConfig(&DataConfig);
    RVPK_PROCESS_ERROR(nRetCode);

    Rv_LogPrintf(u"DataFileWriter.Init()");
    nRetCode = DataFileWriter.Init(szPackageDirectory, DataConfig.szFileNamePrefix, DataConfig.ullMaxSizePerDataFile,
                                   DataConfig.uDataFileCount);
    RVPK_PROCESS_ERROR(nRetCode);
    bDataFileWriterOpened = 1;

    Rv_LogPrintf(u"DirectoryFile.Init()");
    nRetCode = DirectoryFiles.Init(szPackageDirectory, DataConfig.uFileNameHashSizeType, DataConfig.uFileAddressSizeType,
                                   DataConfig.uFileBufferSizeSizeType);
    RVPK_PROCESS_ERROR(nRetCode);
    bDirectoryFilesOpened = 1;
    Targets.pUpdateFileReader = &UpdateFileReader;
    Targets.pDataConfig = &DataConfig;
    Targets.pDataFileWriter = &DataFileWriter;
    Targets.pDataSourceFileReader = &DataSourceFileReader;
    Targets.pDirectoryFiles = &DirectoryFiles;
    Targets.strPackageDirectory = szPackageDirectory;
    Targets.strConfigFileName = szConfigFileName;
    nRetCode = DirectoryFiles.GetDirectoryFile(strBranchName, &Targets.pDirectoryFile);
    RVPK_PROCESS_ERROR(nRetCode);

    Rv_LogPrintf(u"_ExecuteOperation()");
    nRetCode = _ExecuteOperation(Targets);
    RVPK_PROCESS_ERROR(nRetCode);

    DataConfig.uDataVersion = UpdateHeader.uToDataVersion;
    DataConfig.uUpdateKey = UpdateHeader.uNewUpdateKey;
    Rv_LogPrintf(u"UpdateFileReader.EndRead()");
    nRetCode = UpdateFileReader.EndRead();
    RVPK_PROCESS_ERROR(nRetCode);

    // Directory files are synced as they are saved, the data files here:
    // all of it is on the disk before the package is marked normal.
    Rv_LogPrintf(u"DirectoryFile.Save()");
    nRetCode = DirectoryFiles.Save(UpdateHeader.uToDataVersion);
    RVPK_PROCESS_ERROR(nRetCode);
    nRetCode = DataFileWriter.SyncDataFiles();
    RVPK_PROCESS_ERROR(nRetCode);

    Rv_LogPrintf(u"DataConfigFile.SaveDataConfig()");
    DataConfig.PackageState = RVPK_PACKAGE_STATE_NORMAL;
    nRetCode = DataConfigFile.SaveDataConfig(&DataConfig);
    RVPK_PROCESS_ERROR(nRetCode);

    Rv_LogPrintf(u"Rv_DeletePackageBackup()");
    nRetCode = Rv_DeletePackageBackup(szPackageDirectory);
    RVPK_PROCESS_ERROR(nRetCode);
    nResult = 1;
Exit0:
    if (bDataSourceReaderOpened)
        DataSourceFileReader.Uninit();
    if (bDirectoryFilesOpened)
        DirectoryFiles.UnInit();
    if (bDataFileWriterOpened)
        DataFileWriter.Uninit();
    UpdateFileReader.Close();
    return nResult;
}
