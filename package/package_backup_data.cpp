// The backup data file: saving the data ranges an update will overwrite,
// restoring them in a rollback; and the whole backup and recovery.
#include "package/package_backup.h"

#include "package/data_file.h"
#include "package/folder_helpers.h"
#include "package/log_stream.h"
#include "package/wide_string.h"
#include "platform/crash_point.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <string>

static const uint64_t s_ullBackupChunkSize = 2 * 1024 * 1024;

static std::u16string _BackupDataPath(const char16_t* pcszFolder)
{
    return std::u16string(pcszFolder) + u"/BackupData";
}

int _BackupAllDataFiles(const char16_t* pcszFileDirectory, const std::vector<RVPK_DATA_SEGMENT>& rOverwriteDataSegmentList,
                        const RVPK_DATA_CONFIG& rDataConfig)
{
    int nResult = 0;
    int nRetCode = 0;
    Rv_DataFileReader Reader;
    int bReaderOpen = 0;
    std::u16string strPrefix;
    std::u16string strPath;
    FILE* fpBackupDataFile = nullptr;
    RVPK_BACKUP_DATA_FILE_HEADER Header;
    std::vector<RVPK_BACKUP_DATA_SECTION> vecSections;
    uint64_t ullOffsetInBackupFile = sizeof(Header) + rOverwriteDataSegmentList.size() * sizeof(RVPK_BACKUP_DATA_SECTION);
    IRv_Buffer* piBuffer = nullptr;

    RVPK_ASSERT_EXIT(pcszFileDirectory);
    nRetCode = Rv_ReadFixedString(rDataConfig.szFileNamePrefix, 64, &strPrefix);
    RVPK_PROCESS_ERROR(nRetCode);
    nRetCode = Reader.Init(pcszFileDirectory, strPrefix.c_str(), rDataConfig.ullMaxSizePerDataFile, rDataConfig.uDataFileCount);
    RVPK_PROCESS_ERROR(nRetCode);
    bReaderOpen = 1;

    strPath = _BackupDataPath(pcszFileDirectory);
    Pf_CrashPoint();
    fpBackupDataFile = Rv_FOpen(strPath.c_str(), "wb");
    if (!fpBackupDataFile)
        Rv_LogPrintf(u"Error: open file failed. szBackupDataFilePath = %s", strPath.c_str());
    RVPK_PROCESS_ERROR(fpBackupDataFile);
    // The header is written last: a file cut short carries no signature.
    memset(&Header, 0, sizeof(Header));
    RVPK_PROCESS_ERROR_QUOTING(fwrite(&Header, sizeof(Header), 1, fpBackupDataFile) == 1, "uRetCode == 1");
    RVPK_PROCESS_ERROR_QUOTING(fseeko(fpBackupDataFile, (off_t)ullOffsetInBackupFile, SEEK_SET) == 0, "nRetCode == 0");
    for (const RVPK_DATA_SEGMENT& Segment : rOverwriteDataSegmentList) {
        RVPK_BACKUP_DATA_SECTION Section = {Segment.ullAddress, Segment.ullSize, ullOffsetInBackupFile};
        uint64_t ullAddress = Segment.ullAddress;
        uint64_t ullRemain = Segment.ullSize;
        while (ullRemain > 0) {
            uint64_t ullChunk = ullRemain < s_ullBackupChunkSize ? ullRemain : s_ullBackupChunkSize;
            nRetCode = Reader.ReadRawData(ullAddress, ullChunk, &piBuffer);
            RVPK_PROCESS_ERROR(nRetCode);
            RVPK_PROCESS_ERROR_QUOTING(fwrite(piBuffer->GetData(), (size_t)ullChunk, 1, fpBackupDataFile) == 1, "uRetCode == 1");
            Rv_ComRelease(piBuffer);
            ullAddress += ullChunk;
            ullRemain -= ullChunk;
            ullOffsetInBackupFile += ullChunk;
        }
        vecSections.push_back(Section);
    }
    RVPK_PROCESS_ERROR_QUOTING(fseeko(fpBackupDataFile, sizeof(Header), SEEK_SET) == 0, "nRetCode == 0");
    if (!vecSections.empty())
        RVPK_PROCESS_ERROR_QUOTING(fwrite(vecSections.data(), sizeof(RVPK_BACKUP_DATA_SECTION), vecSections.size(), fpBackupDataFile) ==
                                       rOverwriteDataSegmentList.size(),
                                   "uRetCode == rOverwriteDataSegmentList.size()");
    Header.uSignature = RVPK_BAK_SIGNATURE;
    Header.uDataVersion = rDataConfig.uDataVersion;
    Header.ullMaxSizePerDataFile = rDataConfig.ullMaxSizePerDataFile;
    Header.uDataFileCount = rDataConfig.uDataFileCount;
    Header.ullBackupDataSecionListOffset = sizeof(Header);
    Header.ulBackupDataSectionListCount = (uint32_t)vecSections.size();
    RVPK_PROCESS_ERROR_QUOTING(fseeko(fpBackupDataFile, 0, SEEK_SET) == 0, "nRetCode == 0");
    RVPK_PROCESS_ERROR_QUOTING(fwrite(&Header, sizeof(Header), 1, fpBackupDataFile) == 1, "uRetCode == 1");
    // A full disk may show only at the flush: then the backup has failed.
    nRetCode = Rv_CloseWrittenFile(&fpBackupDataFile, 1);
    RVPK_PROCESS_ERROR_QUOTING(nRetCode, "Rv_CloseWrittenFile(fpBackupDataFile)");
    nResult = 1;
Exit0:
    Rv_ComRelease(piBuffer);
    if (fpBackupDataFile)
        fclose(fpBackupDataFile);
    if (bReaderOpen)
        Reader.Uninit();
    return nResult;
}

int _RecoverDataFileIfNeeded(const char16_t* pcszPackageDirectory, const RVPK_DATA_CONFIG& rDataConfig)
{
    int nResult = 0;
    int nRetCode = 0;
    std::u16string strPath;
    std::u16string strPrefix;
    FILE* fpFile = nullptr;
    RVPK_BACKUP_DATA_FILE_HEADER BackupDataFileHeader;
    std::vector<RVPK_BACKUP_DATA_SECTION> vecSections;
    Rv_DataFileWriter Writer;
    int bWriterOpen = 0;
    unsigned char* pbyDataBuffer = nullptr;
    off_t llFileSize = -1;
    uint64_t ullListBytes = 0;

    RVPK_ASSERT_EXIT(pcszPackageDirectory);
    strPath = _BackupDataPath(pcszPackageDirectory);
    fpFile = Rv_FOpen(strPath.c_str(), "rb");
    if (!fpFile) {
        nResult = 1;   // nothing to restore
        goto Exit0;
    }
    RVPK_PROCESS_ERROR(fseeko(fpFile, 0, SEEK_END) == 0);
    llFileSize = ftello(fpFile);
    RVPK_PROCESS_ERROR(llFileSize >= 0 && fseeko(fpFile, 0, SEEK_SET) == 0);
    RVPK_PROCESS_ERROR_QUOTING(fread(&BackupDataFileHeader, sizeof(BackupDataFileHeader), 1, fpFile) == 1, "uRetCode == 1");
    // Every BackupData in state 2 belongs to the current update (a backup
    // without segments deletes a stale one): a bad one is kept, and the
    // rollback fails rather than report half-applied data as rolled back.
    RVPK_PROCESS_ERROR(BackupDataFileHeader.uSignature == RVPK_BAK_SIGNATURE);
    if (BackupDataFileHeader.uDataVersion != rDataConfig.uDataVersion) {
        fclose(fpFile);
        fpFile = nullptr;
        Pf_CrashPoint();
        nRetCode = Rv_DeleteFile(strPath.c_str());
        if (!nRetCode)
            RVPK_PROCESS_ERROR_QUOTING(Rv_DeleteFile(strPath.c_str()), "nRetCode");
        Rv_LogPrintf(u"BackupDataFileHeader.uDataVersion = %u, rDataConfig.uDataVersion = %u", (unsigned)BackupDataFileHeader.uDataVersion,
                     (unsigned)rDataConfig.uDataVersion);
        nResult = 1;
        goto Exit0;
    }
    Rv_LogPrintf(u"WARNING :Rollback Datafile, rDataConfig.uDataVersion = %u", (unsigned)rDataConfig.uDataVersion);
    RVPK_PROCESS_ERROR(BackupDataFileHeader.ullMaxSizePerDataFile == rDataConfig.ullMaxSizePerDataFile);
    RVPK_PROCESS_ERROR(BackupDataFileHeader.uDataFileCount == rDataConfig.uDataFileCount);
    // The section list must lie inside the file before it is sized into memory.
    ullListBytes = (uint64_t)BackupDataFileHeader.ulBackupDataSectionListCount * sizeof(RVPK_BACKUP_DATA_SECTION);
    RVPK_PROCESS_ERROR(BackupDataFileHeader.ullBackupDataSecionListOffset <= (uint64_t)llFileSize &&
                       ullListBytes <= (uint64_t)llFileSize - BackupDataFileHeader.ullBackupDataSecionListOffset);
    RVPK_PROCESS_ERROR_QUOTING(fseeko(fpFile, (off_t)BackupDataFileHeader.ullBackupDataSecionListOffset, SEEK_SET) == 0, "nRetCode == 0");
    vecSections.resize(BackupDataFileHeader.ulBackupDataSectionListCount);
    if (!vecSections.empty())
        RVPK_PROCESS_ERROR_QUOTING(fread(vecSections.data(), sizeof(RVPK_BACKUP_DATA_SECTION), vecSections.size(), fpFile) ==
                                       BackupDataFileHeader.ulBackupDataSectionListCount,
                                   "uRetCode == BackupDataFileHeader.ulBackupDataSectionListCount");

    nRetCode = Rv_ReadFixedString(rDataConfig.szFileNamePrefix, 64, &strPrefix);
    RVPK_PROCESS_ERROR(nRetCode);
    nRetCode = Writer.Init(pcszPackageDirectory, strPrefix.c_str(), rDataConfig.ullMaxSizePerDataFile, rDataConfig.uDataFileCount);
    RVPK_PROCESS_ERROR(nRetCode);
    bWriterOpen = 1;
    pbyDataBuffer = new (std::nothrow) unsigned char[s_ullBackupChunkSize];
    RVPK_PROCESS_ERROR(pbyDataBuffer);
    for (const RVPK_BACKUP_DATA_SECTION& Section : vecSections) {
        uint64_t ullAddress = Section.ullAddress;
        uint64_t ullRemainSize = Section.ullSize;
        // A segment of size 0 was saved with no bytes: nothing to restore.
        // The backup gives every listed segment a record, so refusing one
        // here would leave such an update in state 2 for good.
        if (ullRemainSize == 0)
            continue;
        RVPK_PROCESS_ERROR_QUOTING(fseeko(fpFile, (off_t)Section.ullOffsetInBackupFile, SEEK_SET) == 0, "uRetCode == 0");
        while (ullRemainSize > 0) {
            uint64_t ullChunk = ullRemainSize < s_ullBackupChunkSize ? ullRemainSize : s_ullBackupChunkSize;
            RVPK_PROCESS_ERROR_QUOTING(fread(pbyDataBuffer, (size_t)ullChunk, 1, fpFile) == 1, "uRetCode == 1");
            Pf_CrashPoint();
            nRetCode = Writer.WriteData(ullAddress, ullChunk, pbyDataBuffer);
            RVPK_PROCESS_ERROR(nRetCode);
            ullAddress += ullChunk;
            ullRemainSize -= ullChunk;
        }
    }
    // The restored bytes reach the disk before the backup goes.
    nRetCode = Writer.SyncDataFiles();
    RVPK_PROCESS_ERROR_QUOTING(nRetCode, "SyncDataFiles");
    bWriterOpen = 0;
    nRetCode = Writer.Uninit();
    RVPK_PROCESS_ERROR(nRetCode);
    fclose(fpFile);
    fpFile = nullptr;
    Pf_CrashPoint();
    nRetCode = Rv_DeleteFile(strPath.c_str());
    RVPK_PROCESS_ERROR(nRetCode);
    nResult = 1;
Exit0:
    delete[] pbyDataBuffer;
    if (bWriterOpen)
        Writer.Uninit();
    if (fpFile)
        fclose(fpFile);
    return nResult;
}

int Rv_BackupPackage(const char16_t* pcszPackageDirectory, const std::vector<RVPK_DATA_SEGMENT>& rOverwriteDataSegmentList,
                     const RVPK_DATA_CONFIG& rDataConfig)
{
    int nResult = 0;
    int nRetCode = 0;
    std::u16string strBackupData;

    RVPK_ASSERT_EXIT(pcszPackageDirectory);
    nRetCode = _BackupAllDirFiles(pcszPackageDirectory);
    RVPK_PROCESS_ERROR(nRetCode);
    if (!rOverwriteDataSegmentList.empty()) {
        nRetCode = _BackupAllDataFiles(pcszPackageDirectory, rOverwriteDataSegmentList, rDataConfig);
        RVPK_PROCESS_ERROR(nRetCode);
    } else {
        // A stale BackupData must never be taken for this update's.
        strBackupData = _BackupDataPath(pcszPackageDirectory);
        if (Rv_IsFileExist(strBackupData.c_str())) {
            Pf_CrashPoint();
            nRetCode = Rv_DeleteFile(strBackupData.c_str());
            RVPK_PROCESS_ERROR_QUOTING(nRetCode, "delete stale BackupData");
        }
    }
    // Every backup file is on the disk before the package is marked as updating.
    nRetCode = Rv_SyncDirectory(pcszPackageDirectory);
    RVPK_PROCESS_ERROR_QUOTING(nRetCode, "Rv_SyncDirectory(pcszPackageDirectory)");
    nResult = 1;
Exit0:
    return nResult;
}

int Rv_RecoverPackageIfNeeded(const char16_t* pcszPackageDirectory, const char16_t* pcszConfigFileName)
{
    int nResult = 0;
    int nRetCode = 0;
    std::u16string strConfigPath;
    FILE* fpFile = nullptr;
    RVPK_DATA_CONFIG Config;

    RVPK_ASSERT_EXIT(pcszPackageDirectory);
    RVPK_ASSERT_EXIT(pcszConfigFileName);
    strConfigPath = Rv_JoinPackagePath(pcszPackageDirectory, pcszConfigFileName);
    fpFile = Rv_FOpen(strConfigPath.c_str(), "rb");
    if (!fpFile) {
        Rv_LogPrintf(u"WARNING: Can not find %s file for rollback routine. ", strConfigPath.c_str());
        nResult = 1;
        goto Exit0;
    }
    RVPK_PROCESS_ERROR(fread(&Config, sizeof(Config), 1, fpFile) == 1);
    fclose(fpFile);
    fpFile = nullptr;
    nRetCode = _RecoverDirFileIfNeeded(pcszPackageDirectory, Config.uDataVersion);
    RVPK_PROCESS_ERROR(nRetCode);
    nRetCode = _RecoverDataFileIfNeeded(pcszPackageDirectory, Config);
    RVPK_PROCESS_ERROR(nRetCode);
    nResult = 1;
Exit0:
    if (fpFile)
        fclose(fpFile);
    return nResult;
}
