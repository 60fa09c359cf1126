// The synchronisation index and its archives for tests.
#include "tests/support/sync_server_builder.h"

#include "foundation/crc32.h"
#include "tests/support/patch_builder.h"
#include "tests/support/temp_dir.h"

#include <cstring>
#include <filesystem>
#include <system_error>

namespace {

const uint32_t s_uHeaderSize = 64;

void _PutU32(std::string* pstrData, size_t uOffset, uint32_t uValue)
{
    std::string strBytes = Rv_TestSyncU32(uValue);
    pstrData->replace(uOffset, 4, strBytes);
}

uint32_t _CRC(const std::string& strData)
{
    return Rv_CRC32(0, strData.data(), (uint32_t)strData.size());
}

std::string _Slashed(std::string strName)
{
    for (char& c : strName)
        if (c == '\\')
            c = '/';
    return strName;
}

} // namespace

std::string Rv_TestSyncU32(uint32_t uValue)
{
    std::string strBytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        strBytes[i] = (char)((uValue >> (8 * i)) & 0xFF);
    return strBytes;
}

std::string Rv_TestSyncName(const std::string& strName)
{
    return Rv_TestSyncU32((uint32_t)strName.size() + 1) + strName + std::string(1, '\0');
}

std::string Rv_TestSyncCheckEntry(const std::string& strName, uint32_t uCRC, Pf_FILETIME ftWrite)
{
    return Rv_TestSyncName(strName) + Rv_TestSyncU32(uCRC) + Rv_TestSyncU32(ftWrite.dwLowDateTime) +
           Rv_TestSyncU32(ftWrite.dwHighDateTime);
}

std::string Rv_TestMakeSyncIndex(const std::string& strCheckInfo, const std::string& strDirInfo,
                                 const std::string& strFileSyncInfo)
{
    std::string strIndex(s_uHeaderSize, '\0');
    uint32_t uCheckOffset = s_uHeaderSize;
    uint32_t uDirOffset = uCheckOffset + (uint32_t)strCheckInfo.size();
    uint32_t uSyncOffset = uDirOffset + (uint32_t)strDirInfo.size();

    memcpy(&strIndex[0], "QSYN", 4);
    _PutU32(&strIndex, 12, uCheckOffset);
    _PutU32(&strIndex, 16, (uint32_t)strCheckInfo.size());
    _PutU32(&strIndex, 20, _CRC(strCheckInfo));
    _PutU32(&strIndex, 24, uDirOffset);
    _PutU32(&strIndex, 28, (uint32_t)strDirInfo.size());
    _PutU32(&strIndex, 32, _CRC(strDirInfo));
    _PutU32(&strIndex, 36, uSyncOffset);
    _PutU32(&strIndex, 40, (uint32_t)strFileSyncInfo.size());
    strIndex += strCheckInfo + strDirInfo + strFileSyncInfo;
    Rv_TestSealSyncIndexHeader(&strIndex);
    return strIndex;
}

void Rv_TestSealSyncIndexHeader(std::string* pstrIndex)
{
    std::string strHeader = pstrIndex->substr(0, s_uHeaderSize);
    _PutU32(&strHeader, 8, 0);
    _PutU32(pstrIndex, 8, _CRC(strHeader));
}

Pf_FILETIME Rv_TestSyncTime(uint32_t uSeconds)
{
    return Pf_UnixToFileTime(1577836800ll + uSeconds, 0);
}

Rv_TestSyncServerBuilder::Rv_TestSyncServerBuilder() : m_vecDirs{"files"} {}

Rv_TestSyncFile& Rv_TestSyncServerBuilder::AddFile(const std::string& strName, const std::string& strContent,
                                                   Pf_FILETIME ftWrite, uint32_t uDirID)
{
    Rv_TestSyncFile File;
    File.strName = strName;
    File.strContent = strContent;
    File.ftWrite = ftWrite;
    File.uDirID = uDirID;
    m_vecFiles.push_back(File);
    return m_vecFiles.back();
}

std::string Rv_TestSyncServerBuilder::CheckInfoBlock() const
{
    std::string strBlock = Rv_TestSyncU32((uint32_t)m_vecFiles.size());
    for (const Rv_TestSyncFile& File : m_vecFiles)
        strBlock += Rv_TestSyncCheckEntry(File.strName, _CRC(File.strContent), File.ftWrite);
    return strBlock;
}

std::string Rv_TestSyncServerBuilder::DirInfoBlock() const
{
    std::string strBlock = Rv_TestSyncU32((uint32_t)m_vecDirs.size());
    for (const std::string& strDir : m_vecDirs)
        strBlock += Rv_TestSyncName(strDir);
    return strBlock;
}

std::string Rv_TestSyncServerBuilder::FileSyncInfoBlock() const
{
    std::string strBlock;
    for (const Rv_TestSyncFile& File : m_vecFiles)
        strBlock += Rv_TestSyncU32(File.uDirID);
    return strBlock;
}

std::string Rv_TestSyncServerBuilder::Index() const
{
    return Rv_TestMakeSyncIndex(CheckInfoBlock(), DirInfoBlock(), FileSyncInfoBlock());
}

int Rv_TestSyncServerBuilder::Write(const std::string& strFolder, const std::string& strIndex) const
{
    Rv_TestWriteFile(strFolder + "/qv7_sync.info", strIndex.empty() ? Index() : strIndex);
    for (const Rv_TestSyncFile& File : m_vecFiles) {
        if (!File.bPublish)
            continue;
        Rv_TestPatchBuilder Archive;
        if (File.vecArchiveItems.empty() && !File.bNoItems)
            Archive.AddRawItem("item", File.strContent);
        for (size_t i = 0; i < File.vecArchiveItems.size(); ++i)
            Archive.AddRawItem("item" + std::to_string(i), File.vecArchiveItems[i]);
        std::string strPath = strFolder + "/" + _Slashed(m_vecDirs.at(File.uDirID) + "/" + File.strName) + ".QZIP";
        std::string strParent = strPath.substr(0, strPath.rfind('/'));
        // Created as spelt: the server's folders differ by case where the names do.
        std::error_code Error;
        std::filesystem::create_directories(strParent, Error);
        if (Error || !Archive.Write(strPath))
            return 0;
    }
    return 1;
}
