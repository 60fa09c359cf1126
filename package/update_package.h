// Applying one update file to a current-format package: undo an interrupted
// earlier update, check the update's version and key, back up everything it
// will change, mark the package as updating, run the operations against the
// data files and the directory files, save them and the configuration with
// the new version, and delete the backup. Everything that reaches the disk
// before the package is marked normal again is synced first.
#pragma once
#include "package/data_config.h"

#include <cstdint>
#include <string>

// *pRetNoNeedUpdate becomes 1 when the package already holds a newer version
// than the update starts from (nothing is applied, the call succeeds), else 0.
int Rv_UpdatePackage(const char16_t* pcszUpdateFilePath, const char16_t* pcszConfigFilePath, int* pRetNoNeedUpdate,
                     const char16_t* pcszWorkingDirectory);

// The steps around the operations, for the procedure and for tests.
// Renames every "*.DATA" data file to "*.DAT" (replacing).
int _TransDataToDat(const char16_t* pcszPackageDirectory);
// Removes leftovers: "*.tmp", "*.ToDelete", "*.DIR" files whose header does
// not hold the configuration's data version, and the data files at or beyond
// the configuration's count (added by an update that was rolled back).
int _CleanPackageDirectoryForUpdate(const RVPK_DATA_CONFIG& rDataConfig, const char16_t* pcszPackageDirectory);
// True when strName is "<prefix><n>.DAT" or "<prefix><n>.DATA" with n in
// decimal, compared without ASCII case. *pullRetIndex gets n (UINT64_MAX when
// it does not fit); *pbRetAsWritten is 1 when n has no leading zero and fits
// 32 bits, so that the name is the one the data files are given.
int _IsDataFileName(const std::u16string& strName, const std::u16string& strPrefix, uint64_t* pullRetIndex, int* pbRetAsWritten);
// True when a file or folder of this name in the package folder would be
// taken for one the store manages: the configuration file, "BackupData", a
// "*.BackupDir", "*.DIR", "*.tmp", "*.temp" or "*.ToDelete" name, or a data
// file name of the package (all without ASCII case).
int _IsNameManagedByPackage(const std::u16string& strName, const std::u16string& strConfigFileName, const std::u16string& strPrefix);
// Moves the file to "<path>.<seconds>.ToDelete", then deletes that.
int _RenameAndThanDelete(const std::u16string& strPath);
// A package key of 0 accepts every update file.
int _ValidateUpdateKey(uint32_t uUpdateKeyInUpdateFile, uint32_t uUpdateKeyInConfigFile);
// Creates "<folder>/<branch>.DIR" empty when it does not exist.
int _CreateDIRFilesIfNeeded(const char16_t* pcszPackageDirectory, const char16_t* pcszBranchName, const char16_t* pcszConfigFileName);
