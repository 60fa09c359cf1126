// The update server's patch list ("autoupdateentry.txt"): the patches it
// names with their MD5s, the versions read from a patch's name, the checks on
// listed names, and the chain of patches that leads from the installed
// version towards the latest one.
#pragma once
#include "foundation/version_number.h"

#include <cstdint>
#include <string>
#include <vector>

// One pending patch as the caller sees it.
struct Rv_PatchFileInfo {
    std::string strFileName;    // as listed: the last part of its URL and the local file name
    std::string strMD5;         // as listed; compared without case by the caller
    int64_t nFileSize = 0;      // remote size, 0 until asked for
};
typedef std::vector<Rv_PatchFileInfo> Rv_PatchFileInfoList;

// One patch of the chain as the downloader holds it; handed out by copying
// its Rv_PatchFileInfo part.
struct Rv_PatchRecord : Rv_PatchFileInfo {
    Rv_VersionNumber VersionFrom;
    Rv_VersionNumber VersionTo;     // always above VersionFrom
    int nRedownloadFlag = 0;
    std::string strRefreshString;   // empty, or the cache-busting suffix of a re-download
};

// Reads the versions from a name of the form
// "<any>_c_<from>-to-<to>_<any>", for example
// "patch_c_1.0.8.1300-to-1.0.8.1310_full.zip". Fails unless from < to.
int Rv_ParsePatchVersionInfo(const char* cszPachName, Rv_VersionNumber* pRetVersionFrom,
                             Rv_VersionNumber* pRetVersionTo);

// 1 when a listed name can serve as one local file name: not empty, not "."
// or "..", no control character and none of / \ : * ? " < > |.
int Rv_IsValidPatchFileName(const std::string& strName);

// Reads one value of the list file as into a buffer of uBufferSize
// characters (a longer value is cut). Returns its length, 0 when the key is
// absent or empty.
int Rv_ReadPatchListValue(const char* cszListFile, const char* cszSection, const char* cszKey, unsigned uBufferSize,
                          std::string* pstrRetValue);

// Reads [PatchList] "Patch_<n>" and "PatchMD5_<n>" for n = 1, 2, ... up to the
// first absent name, ignores the patches that lead above Latest, and builds
// the chain from Current: a patch from Current itself is taken first; else,
// of the patches that span the version reached, the one that leads highest
// (on a tie the one that starts lower). The chain may stop below Latest.
// A missing file, a missing MD5, a name that does not parse or is not a
// valid file name fails the whole read and leaves *pRetChain as it was.
int Rv_ReadPatchList(const char* cszListFile, const Rv_VersionNumber& Current, const Rv_VersionNumber& Latest,
                     std::vector<Rv_PatchRecord>* pRetChain);
