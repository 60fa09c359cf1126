// Builder of a synchronisation server for tests: from a small description
// of files (name, content, time, server folder) it writes the index
// "qv7_sync.info" and one "QZIP" archive per file. The blocks can also be
// made one by one, so that a test can damage exactly one of them.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/file.h"

struct Rv_TestSyncFile {
    std::string strName;              // '\' separated, relative to the client folder
    std::string strContent;
    Pf_FILETIME ftWrite{};
    uint32_t uDirID = 0;              // index into the builder's folders
    // The items of the archive; empty means one item with strContent.
    std::vector<std::string> vecArchiveItems;
    bool bPublish = true;             // write the archive
    bool bNoItems = false;            // write an archive without any item
};

class Rv_TestSyncServerBuilder {
public:
    Rv_TestSyncServerBuilder();       // with one folder, "files"
    // Replaces the folder list; ids are the positions.
    void SetDirs(const std::vector<std::string>& vecDirs) { m_vecDirs = vecDirs; }
    // The file's entry, to change before the next AddFile.
    Rv_TestSyncFile& AddFile(const std::string& strName, const std::string& strContent, Pf_FILETIME ftWrite,
                             uint32_t uDirID = 0);

    std::string CheckInfoBlock() const;
    std::string DirInfoBlock() const;
    std::string FileSyncInfoBlock() const;
    // The whole index from the three blocks above.
    std::string Index() const;
    // Writes "<folder>/qv7_sync.info" (strIndex, or Index() when empty) and
    // "<folder>/<dir>/<name>.QZIP" for every published file. 1 on success.
    int Write(const std::string& strFolder, const std::string& strIndex = "") const;

private:
    std::vector<std::string> m_vecDirs;
    std::vector<Rv_TestSyncFile> m_vecFiles;
};

// Little-endian bytes of a number.
std::string Rv_TestSyncU32(uint32_t uValue);
// A name field: its size counting the terminating zero, the name, the zero.
std::string Rv_TestSyncName(const std::string& strName);
// One check-info entry.
std::string Rv_TestSyncCheckEntry(const std::string& strName, uint32_t uCRC, Pf_FILETIME ftWrite);
// An index of header, check info, dir info and file-sync info, in that
// order, with every CRC right.
std::string Rv_TestMakeSyncIndex(const std::string& strCheckInfo, const std::string& strDirInfo,
                                 const std::string& strFileSyncInfo);
// Recomputes the header CRC after a test changed header bytes.
void Rv_TestSealSyncIndexHeader(std::string* pstrIndex);
// A file time a whole number of seconds after 2020-01-01.
Pf_FILETIME Rv_TestSyncTime(uint32_t uSeconds);
