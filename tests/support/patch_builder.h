// Builders of patch archives for tests and the demo: zip archives whose items
// lie under "updatepack/" (plain files, "version.cfg", update files of the
// current package format, single-file and oldest-format packages, file-link
// lists and scripts), written with their MD5.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "tests/support/package_builder.h"
#include "tests/support/single_file_package_builder.h"

// The folder of every item the extractor reads, and the prefix of scripts
// below it.
extern const char* const g_cszTestPatchRoot;       // "updatepack/"
extern const char* const g_cszTestScriptPrefix;    // "update_extend/qv7_script_"

class Rv_TestPatchBuilder {
public:
    // An item with exactly this name inside the archive (no prefix added).
    void AddRawItem(const std::string& strName, const std::string& strData);
    // A folder item ("name/") with exactly this name.
    void AddRawFolder(const std::string& strName);
    // An item "updatepack/" + strRelativeName.
    void AddFile(const std::string& strRelativeName, const std::string& strData);
    // "updatepack/version.cfg".
    void AddVersionFile(const std::string& strText);
    // An update file "updatepack/<name>" (the name should end in ".UPDATE").
    void AddUpdateFile(const std::string& strRelativeName, const Rv_TestUpdateFileBuilder& Update);
    // A single-file package update "updatepack/<name>" (ending in ".pak").
    void AddSingleFilePackage(const std::string& strRelativeName, const std::vector<Rv_TestPackageEntry>& vecEntries);
    // An oldest-format package "updatepack/<name>" (ending in ".pak").
    void AddPackFile(const std::string& strRelativeName, const std::vector<Rv_TestPackEntry>& vecEntries);
    // A file-link list "updatepack/<folder><from>-<to>.FileLinkList" of
    // "id>target" lines; strFolder is "" or ends in "/".
    void AddLinkList(uint32_t uFrom, uint32_t uTo, const std::map<uint64_t, uint64_t>& mapLinks,
                     const std::string& strFolder = "");
    // A shell script "updatepack/update_extend/qv7_script_<n>.sh" that the
    // extractor runs in the client folder after the other items.
    void AddScript(int nNumber, const std::string& strShellBody);

    // Items added from now on are stored without compression (so that a test
    // can find and damage their bytes in the archive).
    void SetStored(bool bStored) { m_bStored = bStored; }

    // Writes the archive (items in the order added), replacing any file of
    // that name. Returns 1 on success; the digest text in *pstrRetMD5 when given.
    int Write(const std::string& strZipPath, std::string* pstrRetMD5 = nullptr) const;

private:
    struct Item {
        std::string strName;
        std::string strData;
        bool bFolder;
        bool bStored;
    };
    bool m_bStored = false;
    std::vector<Item> m_vecItems;
};

// The text of a file-link list.
std::string Rv_TestMakeLinkList(const std::map<uint64_t, uint64_t>& mapLinks);
