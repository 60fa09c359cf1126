// Builders and readers of single-file packages ("RVPK") and of oldest-format
// packages ("PACK") for the package tests.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "package/old_package_merge.h"
#include "package/single_file_package.h"

// One entry of a single-file package: its index entry, the first word of its
// directory entry, and its data (placed in the data area in entry order).
struct Rv_TestPackageEntry {
    uint32_t uKey;
    uint32_t uValue;
    uint64_t uInfo;
    std::string strData;
};

// Header, data area, directory area, index area, in that order; the reserved
// header bytes are filled with byFill, the checksum and file size are right.
std::string Rv_TestBuildSingleFilePackage(const std::vector<Rv_TestPackageEntry>& Entries, uint8_t byFill = 0x5A);

struct Rv_TestPackageContent {
    Rv_PackageHeader Header {};
    std::vector<Rv_PackageIndexEntry> Index;
    std::vector<Rv_PackageDirectoryEntry> Directory;
};
// Reads a package's header and areas; false when they do not fit the bytes.
bool Rv_TestReadSingleFilePackage(const std::string& strPackage, Rv_TestPackageContent* pRetContent);
// The checksum a package header carries for these areas.
uint32_t Rv_TestPackageAreaCRC(const std::vector<Rv_PackageIndexEntry>& Index,
                               const std::vector<Rv_PackageDirectoryEntry>& Directory);

// One entry of a "PACK" package.
struct Rv_TestPackEntry {
    uint32_t uFileId;
    std::string strData;
    uint32_t uInfo1;
    uint32_t uInfo2;
};
// Header (with its data offset at uDataOffset, the gap filled), data block,
// index; the reserved header bytes are filled with byFill.
std::string Rv_TestBuildPackFile(const std::vector<Rv_TestPackEntry>& Entries, uint32_t uDataOffset = 32, uint8_t byFill = 0x33);
