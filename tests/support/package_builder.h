// Builders of current-format packages and update files for tests: the
// configuration record, directory files in bucket order, data files, update
// files with any operation, and byte-exact snapshots of a package folder.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct Rv_TestConfigSpec {
    uint32_t uDataVersion = 1;
    uint32_t uDataFileCount = 1;
    uint64_t ullMaxSizePerDataFile = 4096;
    uint32_t uHashSizeType = 2;      // 0: 2 bytes, 1: 4, 2: 8
    uint32_t uAddressSizeType = 2;
    uint32_t uSizeSizeType = 2;
    std::string strPrefix = "pak";
    uint32_t uUpdateKey = 0;
    uint8_t byState = 1;
    uint8_t byFill = 0x5A;           // uninterpreted bytes
};
// The 204-byte record.
std::string Rv_TestMakeConfig(const Rv_TestConfigSpec& Spec);

struct Rv_TestDirEntry {
    uint64_t ullHash;
    uint64_t ullAddress;
    uint64_t ullSize;
};
// A whole directory file ("DIR ", format 0x30000) with entries in bucket order.
std::string Rv_TestMakeDirFile(const std::string& strBranch, uint32_t uDataVersion, const std::vector<Rv_TestDirEntry>& vecEntries,
                               uint32_t uHashSizeType = 2, uint32_t uAddressSizeType = 2, uint32_t uSizeSizeType = 2);

// Writes Package.CFG, one data file per content ("<prefix><n>.DAT", padded
// with 0xCE to the maximum size) and the given directory files into strFolder.
void Rv_TestMakePackage(const std::string& strFolder, const Rv_TestConfigSpec& Spec, const std::vector<std::string>& vecDataFiles,
                        const std::map<std::string, std::string>& mapDirFiles);

// The operations of an update file, appended in order; Build() lays out
// header, operations, overwrite segments, data sources and payloads.
class Rv_TestUpdateFileBuilder {
public:
    uint32_t uFromDataVersion = 1;
    uint32_t uToDataVersion = 2;
    std::string strBranchName = "main";
    uint32_t uUpdateKeyInUpdateFile = 0;
    uint32_t uNewUpdateKey = 0;
    int nOperationCountDelta = 0;    // added to the real count in the header

    void AddDirIndex(uint64_t ullHash, uint64_t ullAddress, uint64_t ullSize);
    void ModifyDirectoryEntry(uint64_t ullHash, uint64_t ullAddress, uint64_t ullSize);
    void AddData(uint64_t ullAddress, const std::string& strData);
    // An ADD_DATA record whose size field says ullSize while strData follows.
    void AddDataRaw(uint64_t ullAddress, uint64_t ullSize, const std::string& strData);
    void RemoveData(uint64_t ullAddress, uint64_t ullSize);
    void AddEmptyDataFiles(uint32_t uFirstIndex, uint32_t uCount);
    void MoveData(uint64_t ullSrc, uint64_t ullDest, uint64_t ullSize);
    void AddAloneFile(const std::u16string& strPath, const std::string& strContent);
    void AddDirectoryFile(const std::u16string& strBranch, const std::string& strContent);
    struct Move {
        uint64_t ullSrc, ullDest, ullSize;
    };
    void BatchMove(const std::vector<Move>& vecMoves);
    struct BatchItem {
        uint64_t ullAddress;
        uint64_t ullSize;
        uint32_t uSourceId;
        uint64_t ullOffset;
    };
    // uTotal 0: the sum of the item sizes.
    void BatchAdd(const std::vector<BatchItem>& vecItems, uint32_t uTotal = 0);
    // A raw operation: type byte and record bytes as given.
    void RawOperation(int8_t cType, const std::string& strRecord);

    void AddOverwriteSegment(uint64_t ullAddress, uint64_t ullSize);
    // A data source whose bytes are strPayload inside the update file itself.
    void AddSelfDataSource(uint32_t uId, const std::string& strPayload);
    // A data source that is a file of the working folder.
    void AddFileDataSource(uint32_t uId, const std::u16string& strFileName, uint64_t ullBaseOffset);

    std::string Build() const;

private:
    struct Source {
        uint32_t uId;
        int bSelf;
        std::u16string strName;
        uint64_t ullBase;
        std::string strPayload;
    };
    std::string m_strOperations;
    uint32_t m_uOperationCount = 0;
    std::vector<std::pair<uint64_t, uint64_t>> m_vecSegments;
    std::vector<Source> m_vecSources;
};

// Every file below strFolder (relative name with "/") and its bytes.
std::map<std::string, std::string> Rv_TestSnapshotFolder(const std::string& strFolder);
// A readable list of the differences between two snapshots ("" when equal).
std::string Rv_TestDiffSnapshots(const std::map<std::string, std::string>& mapA, const std::map<std::string, std::string>& mapB);
