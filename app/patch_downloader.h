// The patch-chain downloader: learns from the update server's patch list
// which patches lead from the installed client version to the latest one,
// downloads them into the update folder, fetches again the ones the caller
// found wrong, and tells whether the chain reaches the latest version.
#pragma once
#include "app/patch_list.h"
#include "foundation/version_number.h"

#include <atomic>
#include <string>
#include <vector>

class Rv_PatchDownloader {
public:
    Rv_PatchDownloader();
    ~Rv_PatchDownloader();
    Rv_PatchDownloader(const Rv_PatchDownloader&) = delete;
    Rv_PatchDownloader& operator=(const Rv_PatchDownloader&) = delete;

    // The patch URL prefix ('/' appended unless it ends in '/' or '\'), the
    // save folder ('\' appended unless it ends in '\' or '/') and the
    // installed version.
    int Init(const char* cszURLPrefix, const char* cszSaveFilePath, const char* cszCurrentVersionNumber);
    // The latest version and, when it is newer than the installed one, the
    // chain from a local copy of the patch list (the part of the update check
    // that follows the fetch). *pnRetNeedDownloadFlag is 1 when the server is
    // newer. The file is left in place.
    int ReadListFile(const char* cszListFile, int* pnRetNeedDownloadFlag, std::string* pstrRetLatestVersion);
    // The save folder + "dx9_43.zip" when the DirectX package is flagged and there.
    int GetDXInstallerFile(std::string* pstrRetFile);
    // The chain's patches in chain order (the list is cleared first).
    int GetDownloadedPatchNameList(Rv_PatchFileInfoList* pRetPatchNameList);
    // Appends the chain's patches without clearing.
    int GetPatchInfoList(Rv_PatchFileInfoList& List);
    // Marks the first chain patch of that name for a re-download under a
    // fresh cache-busting address. A name of no chain patch is not an error.
    int MarkFileToRedownload(Rv_PatchFileInfo Info);
    // 1 when the installed version is the latest or the chain leads to it.
    int CanUpdateToLatest();

    std::string m_strURLPrefix;
    std::string m_strSaveFilePath;
    Rv_VersionNumber m_CurrentVersionNumber;
    Rv_VersionNumber m_LatestVersionNumber;
    std::vector<Rv_PatchRecord> m_PatchList;
    // A DownloadErrorCode, -1 for a failure of a run's own; the owner's close
    // routine writes 2 from another thread.
    std::atomic<int> m_nLastErrorCode{1};
    int m_nDownloadDXFlag = 0;

private:
    int _GetDownloadPatchList(const char* cszListFile);
    void _FailRun();
};
