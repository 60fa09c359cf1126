// The streaming downloader's local resource list: load, apply file-link
// lists, save; and the parser of file-link lists.
#include "package/local_resource_list.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "foundation/crc32.h"
#include "foundation/log.h"
#include "platform/file.h"
#include "platform/stream.h"
#include "platform/stream_length.h"

namespace {

const uint8_t s_bySignature[4] = {'L', 'C', 'L', 'F'};
const uint8_t s_byFormatVersion = 3;
const size_t s_uMinFileSize = 36;
// The list of a whole game client stays far below this.
const uint64_t s_uMaxFileSize = 256ull * 1024 * 1024;
const size_t s_uMaxLineLength = 99;

// A table of uCount entries of uEntrySize bytes at uOffset lies in the file
// before its 4-byte trailer.
bool _IsTableInFile(uint32_t uOffset, uint32_t uCount, uint64_t uEntrySize, uint64_t uFileSize)
{
    return uOffset > 31 && (uint64_t)uOffset + uEntrySize * uCount <= uFileSize - 4;
}

// Reads a decimal number after optional leading blanks, as far as it has
// digits (none reads as 0). False when it does not fit 64 bits.
bool _ParseU64(const char* pcszText, const char* pcszEnd, uint64_t* pullRetValue)
{
    uint64_t ullValue = 0;
    while (pcszText < pcszEnd && (*pcszText == ' ' || *pcszText == '\t'))
        pcszText++;
    for (; pcszText < pcszEnd && *pcszText >= '0' && *pcszText <= '9'; pcszText++) {
        unsigned uDigit = (unsigned)(*pcszText - '0');
        if (ullValue > (UINT64_MAX - uDigit) / 10)
            return false;
        ullValue = ullValue * 10 + uDigit;
    }
    *pullRetValue = ullValue;
    return true;
}

std::map<uint64_t, std::vector<uint64_t>> _BuildTargetIndex(const std::map<uint64_t, uint64_t>& Links)
{
    std::map<uint64_t, std::vector<uint64_t>> TargetIndex;
    for (const auto& Link : Links)
        TargetIndex[Link.second].push_back(Link.first);
    return TargetIndex;
}

} // namespace

bool Rv_ParseFileLinkList(const char* cszPath, std::map<uint64_t, uint64_t>* pRetLinks)
{
    bool bResult = false;
    int nChar = 0;
    FILE* pFile = nullptr;
    std::string strLine;
    std::map<uint64_t, uint64_t> Links;

    RVLOG_PROCESS_ERROR(cszPath);
    RVLOG_PROCESS_ERROR(pRetLinks);
    pFile = Pf_FOpen(cszPath, "r");
    RVLOG_PROCESS_ERROR(pFile);

    for (;;) {
        uint64_t ullId = 0;
        uint64_t ullTarget = 0;
        size_t uArrow = 0;
        strLine.clear();
        while ((nChar = fgetc(pFile)) != EOF && nChar != '\n') {
            strLine += (char)nChar;
            RVLOG_PROCESS_ERROR(strLine.size() <= s_uMaxLineLength + 1);
        }
        RVLOG_PROCESS_ERROR(!ferror(pFile));
        // Lines written on Windows end in a carriage return too.
        if (!strLine.empty() && strLine.back() == '\r')
            strLine.pop_back();
        RVLOG_PROCESS_ERROR(strLine.size() <= s_uMaxLineLength);
        if (!strLine.empty()) {
            uArrow = strLine.find('>');
            RVLOG_PROCESS_ERROR(uArrow != std::string::npos);
            RVLOG_PROCESS_ERROR(_ParseU64(strLine.data(), strLine.data() + uArrow, &ullId));
            RVLOG_PROCESS_ERROR(_ParseU64(strLine.data() + uArrow + 1, strLine.data() + strLine.size(), &ullTarget));
            Links[ullId] = ullTarget;
        }
        if (nChar == EOF)
            break;
    }
    pRetLinks->swap(Links);
    bResult = true;
Exit0:
    if (pFile)
        fclose(pFile);
    return bResult;
}

void Rv_LocalResourceList::_RebuildTargetIndex()
{
    m_TargetIndex = _BuildTargetIndex(m_LinkTable);
}

bool Rv_LocalResourceList::Load(const char* cszPath)
{
    bool bResult = false;
    int nRetCode = 0;
    FILE* pFile = nullptr;
    size_t uReadCount = 0;
    uint64_t uFileSize = 0;
    uint32_t uStoredCRC = 0;
    Rv_LocalResourceListHeader Header {};
    std::unique_ptr<uint8_t[]> pbyData;
    std::map<uint64_t, uint64_t> LinkTable;
    std::set<uint64_t> OriginSet;

    RVLOG_PROCESS_ERROR(cszPath);
    m_strPath = cszPath;

    pFile = Pf_FOpen(cszPath, "rb");
    if (!pFile) {
        // Only a list that is not there is an empty one: an unreadable list
        // must not be replaced by a new one.
        RVLOG_PROCESS_ERROR(Pf_GetLastError() == ENOENT);
        m_uDataVersion = 0;
        m_OriginSet.clear();
        m_LinkTable.clear();
        m_TargetIndex.clear();
        RvLog_Write(RVLOG_DEBUG, "no list file %s: starting an empty list\n", cszPath);
        bResult = true;
        goto Exit0;
    }

    nRetCode = Pf_GetStreamLength(pFile, &uFileSize);
    RVLOG_PROCESS_ERROR(nRetCode);
    RVLOG_PROCESS_ERROR(uFileSize >= s_uMinFileSize);
    RVLOG_PROCESS_ERROR(uFileSize <= s_uMaxFileSize);
    pbyData.reset(new (std::nothrow) uint8_t[uFileSize]);
    RVLOG_PROCESS_ERROR(pbyData);
    uReadCount = fread(pbyData.get(), 1, (size_t)uFileSize, pFile);
    RVLOG_PROCESS_ERROR(uReadCount == uFileSize);

    memcpy(&Header, pbyData.get(), sizeof(Header));
    RVLOG_PROCESS_ERROR(memcmp(Header.bySignature, s_bySignature, sizeof(s_bySignature)) == 0);
    RVLOG_PROCESS_ERROR(Header.byVersion == s_byFormatVersion);
    RVLOG_PROCESS_ERROR(Header.byZero == 0);
    RVLOG_PROCESS_ERROR(_IsTableInFile(Header.uLinkTableOffset, Header.uLinkCount, sizeof(Rv_LocalResourceLink), uFileSize));
    RVLOG_PROCESS_ERROR(_IsTableInFile(Header.uOriginTableOffset, Header.uOriginCount, sizeof(uint64_t), uFileSize));
    memcpy(&uStoredCRC, pbyData.get() + uFileSize - 4, sizeof(uStoredCRC));
    RVLOG_PROCESS_ERROR(Rv_CRC32(0, pbyData.get(), (size_t)uFileSize - 4) == uStoredCRC);

    for (uint32_t i = 0; i < Header.uLinkCount; i++) {
        Rv_LocalResourceLink Link {};
        memcpy(&Link, pbyData.get() + Header.uLinkTableOffset + (uint64_t)i * sizeof(Link), sizeof(Link));
        LinkTable[Link.ullId] = Link.ullTargetId;
    }
    for (uint32_t i = 0; i < Header.uOriginCount; i++) {
        uint64_t ullOrigin = 0;
        memcpy(&ullOrigin, pbyData.get() + Header.uOriginTableOffset + (uint64_t)i * sizeof(ullOrigin), sizeof(ullOrigin));
        OriginSet.insert(ullOrigin);
    }
    m_uDataVersion = Header.uDataVersion;
    m_LinkTable.swap(LinkTable);
    m_OriginSet.swap(OriginSet);
    _RebuildTargetIndex();
    bResult = true;
Exit0:
    if (pFile)
        fclose(pFile);
    return bResult;
}

bool Rv_LocalResourceList::ApplyFileLinkList(uint32_t uDataVersion, const char* cszFileLinkListPath)
{
    bool bResult = false;
    bool bRetCode = false;
    std::map<uint64_t, uint64_t> NewLinks;
    std::map<uint64_t, std::vector<uint64_t>> NewTargetIndex;
    std::vector<uint64_t> RemovedIds;
    std::map<uint64_t, uint64_t> Updates;

    RVLOG_PROCESS_ERROR(uDataVersion > m_uDataVersion);
    RVLOG_PROCESS_SUCCESS(!cszFileLinkListPath);

    bRetCode = Rv_ParseFileLinkList(cszFileLinkListPath, &NewLinks);
    RVLOG_PROCESS_ERROR(bRetCode);
    NewTargetIndex = _BuildTargetIndex(NewLinks);

    // Every line is judged against the table as it was before this list.
    for (const auto& Line : NewLinks) {
        uint64_t ullId = Line.first;
        uint64_t ullTarget = Line.second;
        if (ullId == ullTarget)
            continue;
        auto itTarget = m_LinkTable.find(ullTarget);
        if (itTarget == m_LinkTable.end())
            Updates[ullId] = ullTarget;
        else if (itTarget->second != ullId)
            Updates[ullId] = itTarget->second;     // links are followed one step
        // else: the line would close a loop with the existing link; no update
        if (m_LinkTable.count(ullId))
            RemovedIds.push_back(ullId);
        if (!m_TargetIndex.count(ullId) && !NewTargetIndex.count(ullId))
            m_OriginSet.insert(ullId);
    }
    for (uint64_t ullId : RemovedIds)
        m_LinkTable.erase(ullId);
    for (const auto& Update : Updates)
        m_LinkTable[Update.first] = Update.second;
    _RebuildTargetIndex();

Exit1:
    m_uDataVersion = uDataVersion;
    bResult = true;
Exit0:
    return bResult;
}

bool Rv_LocalResourceList::Save()
{
    bool bResult = false;
    int nRetCode = 0;
    uint32_t uCRC = 0;
    size_t uPos = 0;
    Rv_LocalResourceListHeader Header {};
    std::string strData;

    RVLOG_PROCESS_ERROR(!m_strPath.empty());
    RVLOG_PROCESS_ERROR(m_LinkTable.size() <= (s_uMaxFileSize / sizeof(Rv_LocalResourceLink)));
    RVLOG_PROCESS_ERROR(m_OriginSet.size() <= (s_uMaxFileSize / sizeof(uint64_t)));

    memcpy(Header.bySignature, s_bySignature, sizeof(s_bySignature));
    Header.byVersion = s_byFormatVersion;
    Header.uLinkCount = (uint32_t)m_LinkTable.size();
    Header.uLinkTableOffset = sizeof(Header);
    Header.uOriginCount = (uint32_t)m_OriginSet.size();
    Header.uOriginTableOffset = (uint32_t)(sizeof(Header) + sizeof(Rv_LocalResourceLink) * m_LinkTable.size());
    Header.uDataVersion = m_uDataVersion;

    strData.resize(sizeof(Header) + sizeof(Rv_LocalResourceLink) * m_LinkTable.size() + sizeof(uint64_t) * m_OriginSet.size() + 4);
    memcpy(&strData[0], &Header, sizeof(Header));
    uPos = sizeof(Header);
    for (const auto& Link : m_LinkTable) {
        Rv_LocalResourceLink Entry {Link.first, Link.second};
        memcpy(&strData[uPos], &Entry, sizeof(Entry));
        uPos += sizeof(Entry);
    }
    for (uint64_t ullOrigin : m_OriginSet) {
        memcpy(&strData[uPos], &ullOrigin, sizeof(ullOrigin));
        uPos += sizeof(ullOrigin);
    }
    uCRC = Rv_CRC32(0, reinterpret_cast<const uint8_t*>(strData.data()), uPos);
    memcpy(&strData[uPos], &uCRC, sizeof(uCRC));

    // The list belongs to the downloader: it is replaced whole or not at all.
    nRetCode = Pf_WriteFileAtomic(m_strPath, strData);
    RVLOG_PROCESS_ERROR(nRetCode && "Pf_WriteFileAtomic(m_strPath, strData)");
    bResult = true;
Exit0:
    return bResult;
}
