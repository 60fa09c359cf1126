// Builds the update server's patch list for tests and the demo: the text of
// "autoupdateentry.txt" from a description of the patches, and a server
// folder holding the list and the patch files with their MD5s.
#pragma once
#include <string>
#include <vector>

// One listed patch: its name and the MD5 text the list gives for it.
struct Rv_TestListedPatch {
    std::string strName;
    std::string strMD5;
};

// "[Version]" with "LatestVersion", then "[PatchList]" with "Patch_<n>" and
// "PatchMD5_<n>" for n = 1, 2, ... in the order given.
std::string Rv_TestPatchListText(const std::string& strLatestVersion, const std::vector<Rv_TestListedPatch>& vecPatches);

// One patch file of a server folder: its bytes come from strSourceFile when
// that is set, else from strData. The listed MD5 is strListedMD5 when set
// (to list a wrong one), else the file's own.
struct Rv_TestServerPatch {
    std::string strName;
    std::string strData;
    std::string strSourceFile;
    std::string strListedMD5;
};

// Writes every patch into strFolder (created when missing) and
// strFolder + "/autoupdateentry.txt" listing them in the order given.
// Gives the list's entries (with the MD5s as listed) when asked.
void Rv_TestWritePatchServer(const std::string& strFolder, const std::string& strLatestVersion,
                             const std::vector<Rv_TestServerPatch>& vecPatches,
                             std::vector<Rv_TestListedPatch>* pvecRetListed = nullptr);

// The MD5 of a file as 32 lower-case hex digits ("" when it cannot be read).
std::string Rv_TestFileMD5(const std::string& strPath);
