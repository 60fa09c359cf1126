// The file synchroniser's set-up, ignore lists, check and sync sequence.
#include "app/file_sync.h"

#include "foundation/crc32.h"
#include "foundation/file_mapping.h"
#include "foundation/log.h"
#include "platform/ini.h"
#include "platform/path.h"
#include "transfer/http_sync_block.h"

#include <cctype>
#include <cstdio>
#include <cstring>

namespace {

const char* const s_cszIndexFileName = "qv7_sync.info";
const char* const s_cszIgnoreListFile = "bin\\zhcn\\IgnoreSyncFileList.list";
const char* const s_cszThirdPartyPrefix = "3rdParty\\";
// Below this share of differing files their folder ids are read one by one.
const float s_fRangedSyncInfoRatio = 0.05f;

bool _BeginsWithNoCase(const std::string& strText, const std::string& strPrefix)
{
    if (strText.size() < strPrefix.size())
        return false;
    for (size_t i = 0; i < strPrefix.size(); ++i)
        if (tolower((unsigned char)strText[i]) != tolower((unsigned char)strPrefix[i]))
            return false;
    return true;
}

std::string _Backslashed(std::string strName)
{
    for (char& c : strName)
        if (c == '/')
            c = '\\';
    return strName;
}

} // namespace

Rv_SyncFile::Rv_SyncFile() = default;

int Rv_SyncFile::_SetStatusUnlessAborted(int nStatus)
{
    int nOld = m_nStatusCode;
    while (nOld != RV_RFSC_ERROR_ABROT) {
        if (m_nStatusCode.compare_exchange_weak(nOld, nStatus))
            return 1;
    }
    return 0;
}

int Rv_SyncFile::Init(const char* cszClientPath, const char* cszTempFilePath, const char* cszURLPrefix,
                      IRvProcessRate* pProcessRate)
{
    int nResult = 0;
    int nRetCode = 0;

    RVLOG_PROCESS_ERROR(cszClientPath);
    RVLOG_PROCESS_ERROR(cszClientPath[0]);
    RVLOG_PROCESS_ERROR(cszTempFilePath);
    RVLOG_PROCESS_ERROR(cszTempFilePath[0]);
    RVLOG_PROCESS_ERROR(cszURLPrefix);
    RVLOG_PROCESS_ERROR(cszURLPrefix[0]);
    RVLOG_PROCESS_ERROR(pProcessRate);

    m_strClientPath = Pf_WithSeparator(cszClientPath);
    m_strTempFilePath = Pf_WithSeparator(cszTempFilePath);
    m_strURLPrefix = Pf_WithSeparator(cszURLPrefix, '/');
    m_strIgnoreListFile = m_strClientPath + s_cszIgnoreListFile;
    m_piProcessRate = pProcessRate;
    m_IgnoreFileList.clear();
    m_IgnoreDirectoryList.clear();
    m_CorruptFileList.clear();
    m_DirNameVector.clear();
    m_uFileCount = 0;

    nRetCode = _LoadIgnoreList();
    RVLOG_PROCESS_ERROR(nRetCode);
    m_nStatusCode = RV_RFSC_IDLE;
    nResult = 1;
Exit0:
    if (!nResult)
        m_nStatusCode = RV_RFSC_ERROR_FAILED;
    return nResult;
}

int Rv_SyncFile::_LoadIgnoreList()
{
    int nResult = 0;
    int nRetCode = 0;
    char szKey[RV_SYNC_NAME_BUFFER_SIZE];
    std::string strValue;

    for (int nList = 0; nList < 2; ++nList) {
        const char* cszSection = nList == 0 ? "Files" : "Directories";
        for (int i = 0;; ++i) {
            snprintf(szKey, sizeof(szKey), "Path_%d", i);
            strValue = Pf_IniReadString(m_strIgnoreListFile, cszSection, szKey, "");
            if (strValue.empty())
                break;
            if (strValue.size() >= RV_SYNC_NAME_BUFFER_SIZE)
                strValue.resize(RV_SYNC_NAME_BUFFER_SIZE - 1);
            nRetCode = nList == 0 ? AddIgnoreFile(strValue.c_str()) : AddIgnoreDirectory(strValue.c_str());
            RVLOG_PROCESS_ERROR(nRetCode);
        }
    }
    nResult = 1;
Exit0:
    return nResult;
}

int Rv_SyncFile::AddIgnoreFile(const char* cszFileName)
{
    return _AddIgnoreEntry(&m_IgnoreFileList, cszFileName);
}

int Rv_SyncFile::AddIgnoreDirectory(const char* cszDirectoryName)
{
    return _AddIgnoreEntry(&m_IgnoreDirectoryList, cszDirectoryName);
}

int Rv_SyncFile::_AddIgnoreEntry(std::vector<std::string>* pvecList, const char* cszName)
{
    int nResult = 0;

    RVLOG_PROCESS_ERROR(cszName);
    RVLOG_PROCESS_ERROR(cszName[0]);
    pvecList->push_back(cszName);
    nResult = 1;
Exit0:
    if (!nResult)
        m_nStatusCode = RV_RFSC_ERROR_FAILED;
    return nResult;
}

int Rv_SyncFile::IsIgnored(const std::string& strName) const
{
    // Both separators count alike, so that "/" cannot slip a name past a rule.
    std::string strSpelt = _Backslashed(strName);
    for (const std::string& strFile : m_IgnoreFileList)
        if (Pf_StrCaseEqual(strSpelt, _Backslashed(strFile)))
            return 1;
    for (const std::string& strDirectory : m_IgnoreDirectoryList)
        if (_BeginsWithNoCase(strSpelt, _Backslashed(strDirectory)))
            return 1;
    return strSpelt.compare(0, strlen(s_cszThirdPartyPrefix), s_cszThirdPartyPrefix) == 0;
}

int Rv_SyncFile::StartCheck()
{
    int nResult = 0;
    int nRetCode = 0;

    RVLOG_PROCESS_ERROR(_SetStatusUnlessAborted(RV_RFSC_CHECKING) && "m_nStatusCode != RV_RFSC_ERROR_ABROT");
    nRetCode = _Check();
    RVLOG_PROCESS_ERROR(nRetCode);
    nResult = 1;
Exit0:
    if (!nResult)
        m_nStatusCode = RV_RFSC_ERROR_FAILED;
    return nResult;
}

int Rv_SyncFile::_DownloadCheckInfo(std::vector<Rv_FileCheckInfo>* pvecRetEntries)
{
    int nResult = 0;
    int nRetCode = 0;
    uint32_t uCheckCRC = 0;
    Rv_HttpSyncBlock HttpSyncBlock;
    std::vector<uint8_t> vecBuffer;
    std::string strURL = m_strURLPrefix + s_cszIndexFileName;

    nRetCode = HttpSyncBlock.Init(strURL.c_str());
    RVLOG_PROCESS_ERROR(nRetCode && "HttpSyncBlock.Init()");
    nRetCode = HttpSyncBlock.AddBlock(0, sizeof(m_SyncInfoFileHeader), &m_SyncInfoFileHeader);
    RVLOG_PROCESS_ERROR(nRetCode && "HttpSyncBlock.AddBlock()");
    nRetCode = HttpSyncBlock.Download();
    if (!nRetCode) {
        _SetStatusUnlessAborted(RV_RFSC_ERROR_DOWNLOAD);
        RVLOG_PROCESS_ERROR(false && "HttpSyncBlock.Download()");
    }
    RVLOG_PROCESS_ERROR(m_nStatusCode != RV_RFSC_ERROR_ABROT);

    nRetCode = Rv_CheckSyncIndexHeader(m_SyncInfoFileHeader);
    RVLOG_PROCESS_ERROR(nRetCode && "Rv_CheckSyncIndexHeader()");

    vecBuffer.resize(m_SyncInfoFileHeader.uFileCheckInfoSize);
    nRetCode = HttpSyncBlock.Init(strURL.c_str());
    RVLOG_PROCESS_ERROR(nRetCode && "HttpSyncBlock.Init()");
    nRetCode = HttpSyncBlock.AddBlock(m_SyncInfoFileHeader.uFileCheckInfoOffset, (uint32_t)vecBuffer.size(),
                                      vecBuffer.data());
    RVLOG_PROCESS_ERROR(nRetCode && "HttpSyncBlock.AddBlock()");
    nRetCode = HttpSyncBlock.Download();
    if (!nRetCode) {
        _SetStatusUnlessAborted(RV_RFSC_ERROR_DOWNLOAD);
        RVLOG_PROCESS_ERROR(false && "HttpSyncBlock.Download()");
    }
    RVLOG_PROCESS_ERROR(m_nStatusCode != RV_RFSC_ERROR_ABROT);
    uCheckCRC = Rv_CRC32(0, vecBuffer.data(), (uint32_t)vecBuffer.size());
    RVLOG_PROCESS_ERROR(uCheckCRC == m_SyncInfoFileHeader.uFileCheckInfoCRC);

    nRetCode = Rv_ParseSyncCheckInfo(vecBuffer.data(), (uint32_t)vecBuffer.size(), [this] { return _IsAborted(); },
                                     pvecRetEntries);
    RVLOG_PROCESS_ERROR(nRetCode && "Rv_ParseSyncCheckInfo()");
    // The sync reads one folder id per entry from the file-sync info.
    RVLOG_PROCESS_ERROR(m_SyncInfoFileHeader.uFileSyncInfoSize / sizeof(uint32_t) >= pvecRetEntries->size());
    nResult = 1;
Exit0:
    return nResult;
}

int Rv_SyncFile::_Check()
{
    int nResult = 0;
    int nRetCode = 0;
    int bDiff = 0;
    std::vector<Rv_FileCheckInfo> vecEntries;
    std::string strPath;

    RvLog_Write(RVLOG_INFO, "Download check infos ...");
    m_CorruptFileList.clear();
    m_uFileCount = 0;
    nRetCode = _DownloadCheckInfo(&vecEntries);
    RVLOG_PROCESS_ERROR(nRetCode && "_DownloadCheckInfo()");

    for (uint32_t i = 0; i < (uint32_t)vecEntries.size(); ++i) {
        const Rv_FileCheckInfo& CheckInfo = vecEntries[i];
        RVLOG_PROCESS_ERROR(m_nStatusCode != RV_RFSC_ERROR_ABROT);
        if (IsIgnored(CheckInfo.strName))
            continue;
        strPath = m_strClientPath + CheckInfo.strName;
        if (Pf_FileExists(strPath)) {
            nRetCode = _HasDiffFileContent(strPath, CheckInfo, &bDiff);
            RVLOG_PROCESS_ERROR(nRetCode);
            if (!bDiff)
                continue;
        }
        m_CorruptFileList.push_back(Rv_CorruptFileInfo{CheckInfo, 0, i});
    }

    RvLog_Write(RVLOG_INFO, "Finished check file ...");
    m_uFileCount = (uint32_t)vecEntries.size();
    // An empty index differs in nothing.
    m_fDifferentRatio = m_uFileCount ? (float)m_CorruptFileList.size() / (float)m_uFileCount : 0.0f;
    RVLOG_PROCESS_ERROR(_SetStatusUnlessAborted(RV_RFSC_SUCCESS_FINISH_CHECK) &&
                        "m_nStatusCode != RV_RFSC_ERROR_ABROT");
    nResult = 1;
Exit0:
    if (!nResult)
        m_CorruptFileList.clear();
    return nResult;
}

int Rv_SyncFile::_HasDiffFileContent(const std::string& strPath, const Rv_FileCheckInfo& CheckInfo, int* pbRetDiff)
{
    int nResult = 0;
    int nRetCode = 0;
    uint32_t uCheckCRC = 0;
    Pf_FILETIME ftWrite{};

    nRetCode = Pf_GetFileTimes(strPath, nullptr, nullptr, &ftWrite);
    RVLOG_PROCESS_ERROR(nRetCode);
    *pbRetDiff = 1;
    // Times within one window of 2^25 units of 100 ns count as equal.
    if (ftWrite.dwHighDateTime != CheckInfo.ftLastModifyTime.dwHighDateTime ||
        (ftWrite.dwLowDateTime >> 25) != (CheckInfo.ftLastModifyTime.dwLowDateTime >> 25))
        goto Exit1;
    nRetCode = Rv_GetFileCRC(strPath.c_str(), &uCheckCRC);
    if (nRetCode && uCheckCRC == CheckInfo.uCRC)
        *pbRetDiff = 0;
Exit1:
    nResult = 1;
Exit0:
    return nResult;
}

int Rv_SyncFile::StartSync()
{
    int nResult = 0;
    int nRetCode = 0;
    int nStatus = RV_RFSC_SUCCESS_FINISH_CHECK;

    nRetCode = m_nStatusCode.compare_exchange_strong(nStatus, RV_RFSC_SYNCING);
    RVLOG_PROCESS_ERROR(nRetCode && "m_nStatusCode == RV_RFSC_SUCCESS_FINISH_CHECK");
    nRetCode = _Sync();
    RVLOG_PROCESS_ERROR(nRetCode);
    RVLOG_PROCESS_ERROR(_SetStatusUnlessAborted(RV_RFSC_SUCCESS_FINISH_SYNC) &&
                        "m_nStatusCode != RV_RFSC_ERROR_ABROT");
    nResult = 1;
Exit0:
    if (!nResult)
        m_nStatusCode = RV_RFSC_ERROR_FAILED;
    return nResult;
}

int Rv_SyncFile::_Sync()
{
    int nResult = 0;
    int nRetCode = 0;
    size_t uCount = m_CorruptFileList.size();
    float fPercent = 0.0f;

    m_fSyncProgress = 0.0f;
    if (m_CorruptFileList.empty()) {
        RvLog_Write(RVLOG_INFO, "No different files. No need synchronize files.");
        goto Exit1;
    }

    RvLog_Write(RVLOG_INFO, "Downloading files ...");
    nRetCode = _DownloadDirInfo();
    RVLOG_PROCESS_ERROR(nRetCode && "_DownloadDirInfo()");
    RVLOG_PROCESS_ERROR(m_nStatusCode != RV_RFSC_ERROR_ABROT);
    m_fSyncProgress = 0.05f;
    nRetCode = _DownloadFileSyncInfo();
    RVLOG_PROCESS_ERROR(nRetCode && "_DownloadFileSyncInfo()");
    RVLOG_PROCESS_ERROR(m_nStatusCode != RV_RFSC_ERROR_ABROT);
    m_fSyncProgress = 0.1f;

    for (size_t b = 0; b < uCount; ++b) {
        const Rv_CorruptFileInfo& crCorruptFileInfo = m_CorruptFileList[b];
        RVLOG_PROCESS_ERROR(m_nStatusCode != RV_RFSC_ERROR_ABROT);
        m_fSyncProgress = 0.1f + 0.9f * (float)b / (float)uCount;
        fPercent = m_fSyncProgress * 100.0f;
        nRetCode = m_piProcessRate->SetPercentRate(fPercent);
        RVLOG_PROCESS_ERROR(nRetCode);
        nRetCode = _SyncDifferentFile(crCorruptFileInfo);
        if (!nRetCode) {
            RvLog_Write(RVLOG_ERROR, "Can not sync different file: %s", crCorruptFileInfo.CheckInfo.strName.c_str());
            goto Exit0;
        }
    }
    nRetCode = m_piProcessRate->SetPercentRate(fPercent);
    RVLOG_PROCESS_ERROR(nRetCode);
    m_fSyncProgress = 1.0f;

Exit1:
    nResult = 1;
Exit0:
    return nResult;
}

int Rv_SyncFile::_DownloadDirInfo()
{
    int nResult = 0;
    int nRetCode = 0;
    uint32_t uCheckCRC = 0;
    Rv_HttpSyncBlock HttpSyncBlock;
    std::vector<uint8_t> vecBuffer;
    std::string strURL = m_strURLPrefix + s_cszIndexFileName;

    nRetCode = HttpSyncBlock.Init(strURL.c_str());
    RVLOG_PROCESS_ERROR(nRetCode && "HttpSyncBlock.Init()");
    vecBuffer.resize(m_SyncInfoFileHeader.uDirInfoSize);
    nRetCode = HttpSyncBlock.AddBlock(m_SyncInfoFileHeader.uDirInfoOffset, (uint32_t)vecBuffer.size(),
                                      vecBuffer.data());
    RVLOG_PROCESS_ERROR(nRetCode && "HttpSyncBlock.AddBlock()");
    nRetCode = HttpSyncBlock.Download();
    RVLOG_PROCESS_ERROR(nRetCode && "HttpSyncBlock.Download()");
    uCheckCRC = Rv_CRC32(0, vecBuffer.data(), (uint32_t)vecBuffer.size());
    RVLOG_PROCESS_ERROR(uCheckCRC == m_SyncInfoFileHeader.uDirInfoCRC);
    nRetCode = Rv_ParseSyncDirInfo(vecBuffer.data(), (uint32_t)vecBuffer.size(), [this] { return _IsAborted(); },
                                   &m_DirNameVector);
    RVLOG_PROCESS_ERROR(nRetCode && "Rv_ParseSyncDirInfo()");
    nResult = 1;
Exit0:
    return nResult;
}

int Rv_SyncFile::_DownloadFileSyncInfo()
{
    int nResult = 0;
    int nRetCode = 0;
    Rv_HttpSyncBlock HttpSyncBlock;
    std::vector<uint32_t> vecDirIDs;
    std::string strURL = m_strURLPrefix + s_cszIndexFileName;
    const uint32_t uOffset = m_SyncInfoFileHeader.uFileSyncInfoOffset;

    // The check made sure the block holds one folder id per listed file.
    RVLOG_PROCESS_ERROR(m_SyncInfoFileHeader.uFileSyncInfoSize / sizeof(uint32_t) >= m_uFileCount);
    nRetCode = HttpSyncBlock.Init(strURL.c_str());
    RVLOG_PROCESS_ERROR(nRetCode && "HttpSyncBlock.Init()");

    if (m_fDifferentRatio < s_fRangedSyncInfoRatio) {
        for (Rv_CorruptFileInfo& Info : m_CorruptFileList) {
            nRetCode = HttpSyncBlock.AddBlock(uOffset + 4 * Info.uIndex, sizeof(Info.uDirID), &Info.uDirID);
            RVLOG_PROCESS_ERROR(nRetCode && "HttpSyncBlock.AddBlock()");
        }
        nRetCode = HttpSyncBlock.Download();
        RVLOG_PROCESS_ERROR(nRetCode && "HttpSyncBlock.Download()");
        goto Exit1;
    }

    // Only the ids of the listed files are read, however large the block claims to be.
    vecDirIDs.resize(m_uFileCount);
    nRetCode = HttpSyncBlock.AddBlock(uOffset, m_uFileCount * (uint32_t)sizeof(uint32_t), vecDirIDs.data());
    RVLOG_PROCESS_ERROR(nRetCode && "HttpSyncBlock.AddBlock()");
    nRetCode = HttpSyncBlock.Download();
    RVLOG_PROCESS_ERROR(nRetCode && "HttpSyncBlock.Download()");
    for (Rv_CorruptFileInfo& Info : m_CorruptFileList) {
        RVLOG_PROCESS_ERROR(m_nStatusCode != RV_RFSC_ERROR_ABROT);
        Info.uDirID = vecDirIDs[Info.uIndex];
    }
Exit1:
    nResult = 1;
Exit0:
    return nResult;
}
