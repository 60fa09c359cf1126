// Backup, recovery and rollback of a current-format package. Before an
// update changes anything, every directory file is copied to
// "<name>.DIR.BackupDir" and every data range the update overwrites is saved
// in "BackupData"; an interrupted update is undone from these copies by the
// next update call; a finished update deletes them.
#pragma once
#include "package/data_config.h"
#include "package/update_file.h"

#include <bit>
#include <cstdint>
#include <vector>

enum : uint32_t { RVPK_BAK_SIGNATURE = 0x204B4142 };   // "BAK "

#pragma pack(push, 1)
struct RVPK_BACKUP_DATA_FILE_HEADER {
    uint32_t uSignature;
    uint32_t uDataVersion;
    uint64_t ullMaxSizePerDataFile;
    uint32_t uDataFileCount;
    uint64_t ullBackupDataSecionListOffset;
    uint32_t ulBackupDataSectionListCount;
    uint8_t byReserved[256];
};
struct RVPK_BACKUP_DATA_SECTION {
    uint64_t ullAddress;
    uint64_t ullSize;
    uint64_t ullOffsetInBackupFile;
};
#pragma pack(pop)
static_assert(sizeof(RVPK_BACKUP_DATA_FILE_HEADER) == 288, "RVPK_BACKUP_DATA_FILE_HEADER is 288 bytes");
static_assert(offsetof(RVPK_BACKUP_DATA_FILE_HEADER, ullBackupDataSecionListOffset) == 20);
static_assert(offsetof(RVPK_BACKUP_DATA_FILE_HEADER, ulBackupDataSectionListCount) == 28);
static_assert(sizeof(RVPK_BACKUP_DATA_SECTION) == 24);

// Copies every directory file, then (with segments) saves the data ranges;
// without segments a stale "BackupData" is deleted, so that any BackupData
// found later belongs to the current update. Everything is synced.
int Rv_BackupPackage(const char16_t* pcszPackageDirectory, const std::vector<RVPK_DATA_SEGMENT>& rOverwriteDataSegmentList,
                     const RVPK_DATA_CONFIG& rDataConfig);
// Restores directory files, then data ranges, from the backup; the caller
// then marks the package normal.
int Rv_RecoverPackageIfNeeded(const char16_t* pcszPackageDirectory, const char16_t* pcszConfigFileName);
// Deletes every "*.BackupDir" and "BackupData".
int Rv_DeletePackageBackup(const char16_t* pcszFileDirectory);

// The parts, for the procedure and for tests.
int _BackupAllDirFiles(const char16_t* pcszFileDirectory);
int _BackupAllDataFiles(const char16_t* pcszFileDirectory, const std::vector<RVPK_DATA_SEGMENT>& rOverwriteDataSegmentList,
                        const RVPK_DATA_CONFIG& rDataConfig);
int _RecoverDirFileIfNeeded(const char16_t* pcszPackageDirectory, uint32_t uDataVersion);
int _RecoverDataFileIfNeeded(const char16_t* pcszPackageDirectory, const RVPK_DATA_CONFIG& rDataConfig);
// The names of the files (not folders) of a folder; another kind of item fails.
int Rv_ListPackageFiles(const char16_t* pcszDirectory, std::vector<std::u16string>* pvecRetNames);
