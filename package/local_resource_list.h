// The streaming downloader's local resource list ("v3.lcl"): file links
// (resource id -> the id it links to), origin ids and the data version the
// list has reached, with a CRC-32 trailer. Patches advance it with file-link
// lists, text files of "id>target" lines.
#pragma once
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#pragma pack(push, 1)
struct Rv_LocalResourceListHeader {
    uint8_t bySignature[4];         // "LCLF"
    uint8_t byVersion;              // 3
    uint8_t byZero;                 // 0
    uint16_t wReserved;             // 0 on writing, not checked on reading
    uint32_t uLinkCount;
    uint32_t uLinkTableOffset;
    uint32_t uOriginCount;
    uint32_t uOriginTableOffset;
    uint32_t uDataVersion;
    uint32_t uReserved;             // 0 on writing, not read
};
struct Rv_LocalResourceLink {
    uint64_t ullId;
    uint64_t ullTargetId;
};
#pragma pack(pop)
static_assert(sizeof(Rv_LocalResourceListHeader) == 32, "list header is 32 bytes");
static_assert(sizeof(Rv_LocalResourceLink) == 16, "link entry is 16 bytes");

class Rv_LocalResourceList {
public:
    // Reads the list; a missing file is an empty list. Keeps the path for Save.
    bool Load(const char* cszPath);
    // Applies a file-link list (or, with a null path, only raises the data
    // version) when uDataVersion is above the list's; otherwise nothing changes.
    bool ApplyFileLinkList(uint32_t uDataVersion, const char* cszFileLinkListPath);
    // Writes the list to a temporary name and moves it over the old one.
    bool Save();

    uint32_t m_uDataVersion = 0;
    std::set<uint64_t> m_OriginSet;
    std::map<uint64_t, uint64_t> m_LinkTable;
    // target id -> the ids linking to it, ascending; rebuilt, never stored.
    std::map<uint64_t, std::vector<uint64_t>> m_TargetIndex;

private:
    void _RebuildTargetIndex();

    std::string m_strPath;
};

// Reads a file-link list into *pRetLinks (a later line for an id wins).
bool Rv_ParseFileLinkList(const char* cszPath, std::map<uint64_t, uint64_t>* pRetLinks);
