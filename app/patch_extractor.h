// The extractor of one downloaded patch archive into the installed client:
// the items under "updatepack/" are plain files, update files of the
// current package format, file-link lists of the streaming downloader,
// single-file or oldest-format packages, scripts that run after the others,
// and the patch's "version.cfg", which is written last so that a patch that
// fails part-way leaves the installed version unchanged.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "foundation/zip.h"

class Rv_PatchExtractor {
public:
    Rv_PatchExtractor();
    // Both folders must be given; a '\' is appended unless one ends the text.
    int Init(const char* cszClientFilePath, const char* cszTempFilePath, const void* pvUnused = nullptr);
    // Unpacks the patch; 1 on success.
    int Extract(const char* cszPatchFileName);
    // 0 after success, 2 when an item did not fit on the disk, a failed
    // script's exit code, 1 otherwise.
    int GetErrorCode() const { return m_nErrorCode; }

private:
    typedef std::map<uint32_t, std::string> UPDATE_FILE_MAP;
    typedef std::map<uint32_t, std::pair<uint32_t, std::string>> LINK_LIST_MAP;

    int _CheckItemNames(ZipHandle* hZip, int nTotalItemCount, ZRESULT* pzRetResult);
    int _ExtractNormalItem(ZipHandle* hZip, int nIndex, const std::string& strTarget);
    int _ExtractPackageItem(ZipHandle* hZip, int nIndex);
    int _CombineNewPackage(const std::string& strTempCopy);
    int _CombineOldPackage(const std::string& strTempCopy);
    int _AddOldPackageName(const std::string& strNewName);
    int _ReadUpdateFileFromVersion(const std::string& strPath, uint32_t* puRetFromVersion);
    int _PatchV3Package(const UPDATE_FILE_MAP& mapUpdateFiles);
    int _UpdateVBunLocalList(const LINK_LIST_MAP& mapLinkLists, uint32_t uOldDataVersion, uint32_t uNewDataVersion);
    int _RunScripts(std::vector<std::string>* pvecScripts);
    int _RunAndWaitScript(const std::string& strPath);
    int _CheckFreeSpace(const std::string& strPath, uint32_t uSize, int* pbRetEnough);
    std::string _PakV3Folder() const;
    // The package's data version, 0 when it cannot be read.
    void _GetPakV3DataVersion(uint32_t* puRetDataVersion) const;

    std::string m_strClientFilePath;
    std::string m_strTempFilePath;
    int m_nErrorCode;
};
