// Builders and readers of single-file and "PACK" packages for the package tests.
#include "tests/support/single_file_package_builder.h"

#include <cstring>

#include "foundation/crc32.h"

uint32_t Rv_TestPackageAreaCRC(const std::vector<Rv_PackageIndexEntry>& Index,
                               const std::vector<Rv_PackageDirectoryEntry>& Directory)
{
    std::string strBytes;
    for (const Rv_PackageDirectoryEntry& Entry : Directory) {
        std::string strEntry(reinterpret_cast<const char*>(&Entry), sizeof(Entry));
        strEntry[4] = 0;
        strBytes += strEntry;
    }
    strBytes.append(reinterpret_cast<const char*>(Index.data()), Index.size() * sizeof(Rv_PackageIndexEntry));
    return Rv_CRC32(0, strBytes.data(), (uint32_t)strBytes.size());
}

std::string Rv_TestBuildSingleFilePackage(const std::vector<Rv_TestPackageEntry>& Entries, uint8_t byFill)
{
    Rv_PackageHeader Header;
    std::vector<Rv_PackageIndexEntry> Index;
    std::vector<Rv_PackageDirectoryEntry> Directory;
    std::string strData;

    memset(&Header, byFill, sizeof(Header));
    for (const Rv_TestPackageEntry& Entry : Entries) {
        Index.push_back({Entry.uKey, Entry.uValue});
        Directory.push_back({Entry.uInfo, strData.size()});
        strData += Entry.strData;
    }
    if (strData.empty())
        strData.push_back('d');
    Header.uSignature = RV_PACKAGE_SIGNATURE;
    Header.uDataAreaOffset = sizeof(Header);
    Header.uDataAreaSize = strData.size();
    Header.uDirectoryAreaOffset = Header.uDataAreaOffset + Header.uDataAreaSize;
    Header.uDirectoryAreaSize = Directory.size() * sizeof(Rv_PackageDirectoryEntry);
    Header.uIndexAreaOffset = Header.uDirectoryAreaOffset + Header.uDirectoryAreaSize;
    Header.uIndexAreaSize = Index.size() * sizeof(Rv_PackageIndexEntry);
    Header.uFileSize = Header.uIndexAreaOffset + Header.uIndexAreaSize;
    Header.uAreaCRC = Rv_TestPackageAreaCRC(Index, Directory);
    Header.llRewriteTime = 1000;

    std::string strPackage(reinterpret_cast<const char*>(&Header), sizeof(Header));
    strPackage += strData;
    strPackage.append(reinterpret_cast<const char*>(Directory.data()), Header.uDirectoryAreaSize);
    strPackage.append(reinterpret_cast<const char*>(Index.data()), Header.uIndexAreaSize);
    return strPackage;
}

static bool _Fits(uint64_t uOffset, uint64_t uSize, uint64_t uLength)
{
    return uOffset <= uLength && uSize <= uLength - uOffset;
}

bool Rv_TestReadSingleFilePackage(const std::string& strPackage, Rv_TestPackageContent* pRetContent)
{
    Rv_TestPackageContent Content;
    if (strPackage.size() < sizeof(Rv_PackageHeader))
        return false;
    memcpy(&Content.Header, strPackage.data(), sizeof(Content.Header));
    const Rv_PackageHeader& H = Content.Header;
    if (!_Fits(H.uDirectoryAreaOffset, H.uDirectoryAreaSize, strPackage.size()) ||
        !_Fits(H.uIndexAreaOffset, H.uIndexAreaSize, strPackage.size()))
        return false;
    Content.Index.resize(H.uIndexAreaSize / sizeof(Rv_PackageIndexEntry));
    Content.Directory.resize(H.uDirectoryAreaSize / sizeof(Rv_PackageDirectoryEntry));
    memcpy(Content.Index.data(), strPackage.data() + H.uIndexAreaOffset, Content.Index.size() * sizeof(Rv_PackageIndexEntry));
    memcpy(Content.Directory.data(), strPackage.data() + H.uDirectoryAreaOffset,
           Content.Directory.size() * sizeof(Rv_PackageDirectoryEntry));
    *pRetContent = Content;
    return true;
}

std::string Rv_TestBuildPackFile(const std::vector<Rv_TestPackEntry>& Entries, uint32_t uDataOffset, uint8_t byFill)
{
    PackFileHeader Header;
    std::vector<PackFileIndexEntry> Index;
    std::string strData;

    memset(&Header, byFill, sizeof(Header));
    memcpy(Header.bySignature, "PACK", 4);
    for (const Rv_TestPackEntry& Entry : Entries) {
        Index.push_back({Entry.uFileId, (uint32_t)(uDataOffset + strData.size()), Entry.uInfo1, Entry.uInfo2});
        strData += Entry.strData;
    }
    Header.count = (uint32_t)Index.size();
    Header.uDataOffset = uDataOffset;
    Header.uIndexOffset = (uint32_t)(uDataOffset + strData.size());

    std::string strPack(reinterpret_cast<const char*>(&Header), sizeof(Header));
    strPack.append(uDataOffset - sizeof(Header), '\x77');
    strPack += strData;
    strPack.append(reinterpret_cast<const char*>(Index.data()), Index.size() * sizeof(PackFileIndexEntry));
    return strPack;
}
