// The operation stream of an update file and its handlers, run by the update
// procedure against the data files and the directory files of the package.
#pragma once
#include "package/data_config.h"
#include "package/data_file.h"
#include "package/data_source_file.h"
#include "package/directory_file.h"
#include "package/update_file.h"

#include <string>

// What the handlers work on during one update.
struct Rv_UpdateTargets {
    Rv_UpdateFileReader* pUpdateFileReader;
    RVPK_DATA_CONFIG* pDataConfig;
    Rv_DataFileWriter* pDataFileWriter;
    Rv_DataSourceFileReader* pDataSourceFileReader;
    Rv_DirectoryFiles* pDirectoryFiles;
    Rv_DirectoryFile* pDirectoryFile;   // the header's branch, owned by pDirectoryFiles
    std::u16string strPackageDirectory;
    std::u16string strConfigFileName;   // "Package.CFG": no stand-alone file may take its name
};

// Runs every operation, then applies the collected directory address moves.
int _ExecuteOperation(Rv_UpdateTargets& rTargets);

int _AddDirIndex(Rv_UpdateTargets& rTargets);
int _ModifyDirectoryEntry(Rv_UpdateTargets& rTargets);
int _AddData(Rv_UpdateTargets& rTargets);
int _RemoveData(Rv_UpdateTargets& rTargets);
int _AddEmptyDataFile(Rv_UpdateTargets& rTargets);
int _MoveData(Rv_UpdateTargets& rTargets);
int _AddAloneFile(Rv_UpdateTargets& rTargets);
int _AddDirectoryFile(Rv_UpdateTargets& rTargets);
int _BatchMoveData(Rv_UpdateTargets& rTargets);
int _BatchAddData(Rv_UpdateTargets& rTargets);
