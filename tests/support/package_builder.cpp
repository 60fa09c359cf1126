// Builders of current-format packages and update files for tests.
#include "tests/support/package_builder.h"

#include "package/data_config.h"
#include "package/update_file.h"
#include "platform/file.h"
#include "tests/support/temp_dir.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace {
template <class T>
std::string _Bytes(const T& Record)
{
    return std::string((const char*)&Record, sizeof(Record));
}

void _PutWide(void* pvField, size_t uUnits, const std::u16string& str)
{
    memset(pvField, 0, uUnits * 2);
    memcpy(pvField, str.data(), std::min(str.size(), uUnits) * 2);
}

std::u16string _Wide(const std::string& str)
{
    return std::u16string(str.begin(), str.end());
}

void _PutLe(std::string* pstr, uint64_t ullValue, unsigned uWidth)
{
    for (unsigned i = 0; i < uWidth; ++i)
        pstr->push_back((char)(ullValue >> (8 * i)));
}

unsigned _Width(uint32_t uCode)
{
    return uCode == 0 ? 2 : uCode == 1 ? 4 : 8;
}
}

std::string Rv_TestMakeConfig(const Rv_TestConfigSpec& Spec)
{
    RVPK_DATA_CONFIG Config;
    memset(&Config, Spec.byFill, sizeof(Config));
    Config.uDataVersion = Spec.uDataVersion;
    Config.uDataFileCount = Spec.uDataFileCount;
    Config.ullMaxSizePerDataFile = Spec.ullMaxSizePerDataFile;
    Config.uFileNameHashSizeType = Spec.uHashSizeType;
    Config.uFileAddressSizeType = Spec.uAddressSizeType;
    Config.uFileBufferSizeSizeType = Spec.uSizeSizeType;
    _PutWide(Config.szFileNamePrefix, 64, _Wide(Spec.strPrefix));
    Config.uUpdateKey = Spec.uUpdateKey;
    Config.PackageState = Spec.byState;
    return _Bytes(Config);
}

std::string Rv_TestMakeDirFile(const std::string& strBranch, uint32_t uDataVersion, const std::vector<Rv_TestDirEntry>& vecEntries,
                               uint32_t uHashSizeType, uint32_t uAddressSizeType, uint32_t uSizeSizeType)
{
    std::string strHeader(512, '\0');
    uint32_t auHead[4] = {0x20524944, 0x30000, uDataVersion, (uint32_t)vecEntries.size()};
    memcpy(strHeader.data(), auHead, sizeof(auHead));
    _PutWide(strHeader.data() + 16, 64, _Wide(strBranch));
    _PutWide(strHeader.data() + 144, 64, u"Package.CFG");
    std::vector<Rv_TestDirEntry> vecSorted = vecEntries;
    std::sort(vecSorted.begin(), vecSorted.end(), [](const Rv_TestDirEntry& a, const Rv_TestDirEntry& b) { return a.ullHash < b.ullHash; });
    if (!vecSorted.empty()) {
        uint64_t ullLen = (uint64_t)(uint32_t)((float)vecSorted.size() / 0.75f);
        std::stable_sort(vecSorted.begin(), vecSorted.end(),
                         [ullLen](const Rv_TestDirEntry& a, const Rv_TestDirEntry& b) { return a.ullHash % ullLen < b.ullHash % ullLen; });
    }
    std::string strFile = strHeader;
    for (const Rv_TestDirEntry& Entry : vecSorted) {
        _PutLe(&strFile, Entry.ullHash, _Width(uHashSizeType));
        _PutLe(&strFile, Entry.ullAddress, _Width(uAddressSizeType));
        _PutLe(&strFile, Entry.ullSize, _Width(uSizeSizeType));
    }
    return strFile;
}

void Rv_TestMakePackage(const std::string& strFolder, const Rv_TestConfigSpec& Spec, const std::vector<std::string>& vecDataFiles,
                        const std::map<std::string, std::string>& mapDirFiles)
{
    Rv_TestWriteFile(strFolder + "/Package.CFG", Rv_TestMakeConfig(Spec));
    for (size_t i = 0; i < vecDataFiles.size(); ++i) {
        std::string strData = vecDataFiles[i];
        if (strData.size() > Spec.ullMaxSizePerDataFile)
            throw std::runtime_error("data file larger than the maximum size");
        strData.resize(Spec.ullMaxSizePerDataFile, '\xCE');
        Rv_TestWriteFile(strFolder + "/" + Spec.strPrefix + std::to_string(i) + ".DAT", strData);
    }
    for (const auto& [strName, strBytes] : mapDirFiles)
        Rv_TestWriteFile(strFolder + "/" + strName, strBytes);
}

void Rv_TestUpdateFileBuilder::RawOperation(int8_t cType, const std::string& strRecord)
{
    m_strOperations.push_back((char)cType);
    m_strOperations += strRecord;
    ++m_uOperationCount;
}

void Rv_TestUpdateFileBuilder::AddDirIndex(uint64_t ullHash, uint64_t ullAddress, uint64_t ullSize)
{
    RawOperation(RVPK_OP_ADD_DIR_INDEX, _Bytes(RVPK_DIRECTORY_ENTRY_OPERATION{ullHash, ullAddress, ullSize}));
}

void Rv_TestUpdateFileBuilder::ModifyDirectoryEntry(uint64_t ullHash, uint64_t ullAddress, uint64_t ullSize)
{
    RawOperation(RVPK_OP_MODIFY_DIRECTORY_ENTRY, _Bytes(RVPK_DIRECTORY_ENTRY_OPERATION{ullHash, ullAddress, ullSize}));
}

void Rv_TestUpdateFileBuilder::AddData(uint64_t ullAddress, const std::string& strData)
{
    AddDataRaw(ullAddress, strData.size(), strData);
}

void Rv_TestUpdateFileBuilder::AddDataRaw(uint64_t ullAddress, uint64_t ullSize, const std::string& strData)
{
    RawOperation(RVPK_OP_ADD_DATA, _Bytes(RVPK_DATA_SEGMENT{ullAddress, ullSize}) + strData);
}

void Rv_TestUpdateFileBuilder::RemoveData(uint64_t ullAddress, uint64_t ullSize)
{
    RawOperation(RVPK_OP_REMOVE_DATA, _Bytes(RVPK_DATA_SEGMENT{ullAddress, ullSize}));
}

void Rv_TestUpdateFileBuilder::AddEmptyDataFiles(uint32_t uFirstIndex, uint32_t uCount)
{
    RawOperation(RVPK_OP_ADD_EMPTY_DATA_FILE, _Bytes(RVPK_ADD_EMPTY_DATA_FILE_OPERATION{uFirstIndex, uCount}));
}

void Rv_TestUpdateFileBuilder::MoveData(uint64_t ullSrc, uint64_t ullDest, uint64_t ullSize)
{
    RawOperation(RVPK_OP_MOVE_DATA, _Bytes(RVPK_MOVE_DATA_OPERATION{ullSrc, ullDest, ullSize}));
}

static std::string _AddFileRecord(const std::u16string& strName, const std::string& strContent)
{
    RVPK_ADD_FILE_OPERATION Record;
    memset(&Record, 0, sizeof(Record));
    _PutWide(Record.szName, 64, strName);
    Record.uSize = (uint32_t)strContent.size();
    return _Bytes(Record) + strContent;
}

void Rv_TestUpdateFileBuilder::AddAloneFile(const std::u16string& strPath, const std::string& strContent)
{
    RawOperation(RVPK_OP_ADD_ALONE_FILE, _AddFileRecord(strPath, strContent));
}

void Rv_TestUpdateFileBuilder::AddDirectoryFile(const std::u16string& strBranch, const std::string& strContent)
{
    RawOperation(RVPK_OP_ADD_DIRECTORY_FILE, _AddFileRecord(strBranch, strContent));
}

void Rv_TestUpdateFileBuilder::BatchMove(const std::vector<Move>& vecMoves)
{
    std::string strRecord;
    _PutLe(&strRecord, vecMoves.size(), 4);
    for (const Move& m : vecMoves)
        strRecord += _Bytes(RVPK_MOVE_DATA_OPERATION{m.ullSrc, m.ullDest, m.ullSize});
    RawOperation(RVPK_OP_BATCH_MOVE_DATA, strRecord);
}

void Rv_TestUpdateFileBuilder::BatchAdd(const std::vector<BatchItem>& vecItems, uint32_t uTotal)
{
    uint64_t ullSum = 0;
    for (const BatchItem& Item : vecItems)
        ullSum += Item.ullSize;
    RVPK_BATCH_ADD_DATA_HEAD Head;
    memset(&Head, 0, sizeof(Head));
    Head.uItemCount = (uint32_t)vecItems.size();
    Head.uTotalDataSize = uTotal ? uTotal : (uint32_t)ullSum;
    std::string strRecord = _Bytes(Head);
    for (const BatchItem& Item : vecItems)
        strRecord += _Bytes(RVPK_BATCH_ADD_DATA_ITEM{Item.ullAddress, Item.ullSize, Item.uSourceId, Item.ullOffset});
    RawOperation(RVPK_OP_BATCH_ADD_DATA, strRecord);
}

void Rv_TestUpdateFileBuilder::AddOverwriteSegment(uint64_t ullAddress, uint64_t ullSize)
{
    m_vecSegments.emplace_back(ullAddress, ullSize);
}

void Rv_TestUpdateFileBuilder::AddSelfDataSource(uint32_t uId, const std::string& strPayload)
{
    m_vecSources.push_back(Source{uId, 1, u"", 0, strPayload});
}

void Rv_TestUpdateFileBuilder::AddFileDataSource(uint32_t uId, const std::u16string& strFileName, uint64_t ullBaseOffset)
{
    m_vecSources.push_back(Source{uId, 0, strFileName, ullBaseOffset, ""});
}

std::string Rv_TestUpdateFileBuilder::Build() const
{
    RVPK_UPDATE_FILE_HEADER Header;
    memset(&Header, 0, sizeof(Header));
    Header.uSignature = RVPK_UPD_SIGNATURE;
    Header.uFromDataVersion = uFromDataVersion;
    Header.uToDataVersion = uToDataVersion;
    Header.uOperationCount = (uint32_t)((int)m_uOperationCount + nOperationCountDelta);
    _PutWide(Header.szBranchName, 64, _Wide(strBranchName));
    Header.uUpdateKeyInUpdateFile = uUpdateKeyInUpdateFile;
    Header.uNewUpdateKey = uNewUpdateKey;

    std::string strBody = m_strOperations;
    uint64_t ullPos = sizeof(Header) + strBody.size();
    if (!m_vecSegments.empty()) {
        Header.ullOverwriteDataSegmentListOffset = ullPos;
        Header.uOverwriteDataSegmentCount = (uint32_t)m_vecSegments.size();
        for (const auto& [ullAddress, ullSize] : m_vecSegments)
            strBody += _Bytes(RVPK_DATA_SEGMENT{ullAddress, ullSize});
        ullPos = sizeof(Header) + strBody.size();
    }
    if (!m_vecSources.empty()) {
        Header.ullDataSourceFileListOffset = ullPos;
        Header.uDataSourceFileCount = (uint32_t)m_vecSources.size();
        uint64_t ullPayload = ullPos + m_vecSources.size() * sizeof(RVPK_DATA_SOURCE_FILE_INFO);
        std::string strPayloads;
        for (const Source& s : m_vecSources) {
            RVPK_DATA_SOURCE_FILE_INFO Info;
            memset(&Info, 0, sizeof(Info));
            Info.uDataSourceId = s.uId;
            Info.uIsUpdateFileItself = (uint32_t)s.bSelf;
            _PutWide(Info.szFileName, 64, s.strName);
            Info.ullBaseOffset = s.bSelf ? ullPayload + strPayloads.size() : s.ullBase;
            strPayloads += s.strPayload;
            strBody += _Bytes(Info);
        }
        strBody += strPayloads;
    }
    return _Bytes(Header) + strBody;
}

static void _Snapshot(const std::string& strFolder, const std::string& strPrefix, std::map<std::string, std::string>* pmap)
{
    std::vector<Pf_DirEntry> vecEntries;
    if (!Pf_ListDir(strFolder, &vecEntries))
        throw std::runtime_error("cannot list " + strFolder);
    for (const Pf_DirEntry& Entry : vecEntries) {
        if (Entry.strName == "." || Entry.strName == "..")
            continue;
        if (Entry.bIsDir)
            _Snapshot(strFolder + "/" + Entry.strName, strPrefix + Entry.strName + "/", pmap);
        else
            (*pmap)[strPrefix + Entry.strName] = Rv_TestReadFile(strFolder + "/" + Entry.strName);
    }
}

std::map<std::string, std::string> Rv_TestSnapshotFolder(const std::string& strFolder)
{
    std::map<std::string, std::string> map;
    _Snapshot(strFolder, "", &map);
    return map;
}

std::string Rv_TestDiffSnapshots(const std::map<std::string, std::string>& mapA, const std::map<std::string, std::string>& mapB)
{
    std::string strDiff;
    for (const auto& [strName, strBytes] : mapA) {
        auto it = mapB.find(strName);
        if (it == mapB.end())
            strDiff += "only in first: " + strName + "\n";
        else if (it->second != strBytes)
            strDiff += "differs: " + strName + " (" + std::to_string(strBytes.size()) + " / " + std::to_string(it->second.size()) + " bytes)\n";
    }
    for (const auto& [strName, strBytes] : mapB)
        if (!mapA.count(strName))
            strDiff += "only in second: " + strName + "\n";
    return strDiff;
}
