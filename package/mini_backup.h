// The mini backup of a single-file package: a side file "<package>.bak" with
// the package's header, directory area and index area, enough to bring the
// package back to its state before a patch run (the data area only grows).
// All take the package's narrow file name and return 1 or 0.
#pragma once
#include <cstdint>

#define RV_MINI_BACKUP_SIGNATURE ((uint32_t)('R' | ('V' << 8) | ('B' << 16) | ('K' << 24)))

#pragma pack(push, 1)
struct RvPack_MiniBackupHeader {
    uint32_t uSignature;            // RV_MINI_BACKUP_SIGNATURE once the backup is complete
    uint64_t uPackageHeaderOffset;
    uint64_t uPackageHeaderSize;
    uint64_t uDirectoryAreaOffset;
    uint64_t uDirectoryAreaSize;
    uint64_t uIndexAreaOffset;
    uint64_t uIndexAreaSize;
};
#pragma pack(pop)
static_assert(sizeof(RvPack_MiniBackupHeader) == 52, "mini backup header is 52 bytes");

// The backup's name "<package>.bak" into szRetName (at most uSize bytes with
// the terminator); 0 when it does not fit.
int RvPack_MakeMiniBackupName(const char* cszPackageFileName, char* szRetName, unsigned uSize);

// Saves the package's header and areas, synced to the disk before it returns.
int RvPack_CreateMiniBackup(const char* cszPackageFileName);
int RvPack_IsMiniBackupExist(const char* cszPackageFileName);
int RvPack_RemoveMiniBackup(const char* cszPackageFileName);
// Writes the saved header and areas back and cuts the package to its saved
// length, synced. A backup whose creation was cut short (its header still all
// zero) holds nothing to restore: the package was not touched, and 1 is returned.
// The caller removes the backup.
int RvPack_RestoreMiniBackup(const char* cszPackageFileName);
// When a backup of the package is there (a patch run was cut short or its
// rewrite failed), restores the package from it and removes it; 1 when no
// backup is left.
int RvPack_RecoverFromMiniBackup(const char* cszPackageFileName);
