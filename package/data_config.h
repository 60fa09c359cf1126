// The package configuration file "Package.CFG": the fixed 204-byte record
// that says which data version a package holds, how its data files are cut,
// the widths of its directory entries, its update key and whether an update
// was interrupted. Loaded and saved whole; unknown bytes are kept as read.
#pragma once
#include <bit>
#include <cstddef>
#include <cstdint>

static_assert(std::endian::native == std::endian::little, "on-disk records are little-endian");

enum RVPK_PACKAGE_STATE : uint8_t {
    RVPK_PACKAGE_STATE_NORMAL = 1,
    RVPK_PACKAGE_STATE_UPDATING = 2,
};

#pragma pack(push, 1)
struct RVPK_DATA_CONFIG {
    uint8_t byReserved0[24];
    uint32_t uDataVersion;
    uint32_t uDataFileCount;
    uint64_t ullMaxSizePerDataFile;
    uint8_t byReserved1[8];
    uint32_t uFileNameHashSizeType;
    uint32_t uFileAddressSizeType;
    uint32_t uFileBufferSizeSizeType;
    char16_t szFileNamePrefix[64];
    uint32_t uUpdateKey;
    uint8_t PackageState;
    uint8_t byReserved2[11];
};
#pragma pack(pop)
static_assert(sizeof(RVPK_DATA_CONFIG) == 204, "RVPK_DATA_CONFIG is 204 bytes");
static_assert(offsetof(RVPK_DATA_CONFIG, uDataVersion) == 24);
static_assert(offsetof(RVPK_DATA_CONFIG, ullMaxSizePerDataFile) == 32);
static_assert(offsetof(RVPK_DATA_CONFIG, uFileNameHashSizeType) == 48);
static_assert(offsetof(RVPK_DATA_CONFIG, szFileNamePrefix) == 60);
static_assert(offsetof(RVPK_DATA_CONFIG, uUpdateKey) == 188);
static_assert(offsetof(RVPK_DATA_CONFIG, PackageState) == 192);

class Rv_DataConfigFile {
public:
    Rv_DataConfigFile();
    int Init(const char16_t* pcszConfigFilePath);
    // Loads and checks the record: exactly 204 bytes, a terminated data-file
    // prefix that is a plain name, and a maximum data-file size from 1 to
    // UINT32_MAX (data files are made and mapped with 32-bit lengths).
    int LoadDataConfig(RVPK_DATA_CONFIG* pRetDataConfig);
    // Writes the record to "<path>.temp", flushes, closes, syncs and moves it
    // over the path, then syncs the folder.
    int SaveDataConfig(const RVPK_DATA_CONFIG* pDataConfig);

private:
    char16_t m_szDataFilePath[260];
};

// Reads only the data version of "<folder>\Package.CFG" (the file must hold
// at least 204 bytes). A null folder fails.
int Rv_GetPakV3DataVersion(uint32_t* puRetDataVersion, const char16_t* pwszPackageDir);
