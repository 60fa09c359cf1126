// The patch-chain downloader: learns from the update server's patch list
// which patches lead from the installed client version to the latest one,
// downloads them into the update folder, fetches again the ones the caller
// found wrong, and tells whether the chain reaches the latest version.
#pragma once
#include "app/patch_list.h"
#include "foundation/version_number.h"
#include "transfer/downloader.h"

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
    // Fetches the server's patch list into the save folder, reads the latest
    // version and, when it is newer than the installed one, builds the chain
    // (*pnRetNeedDownloadFlag is then 1). The local list is deleted after.
    int CheckNeedUpdate(int* pnRetNeedDownloadFlag, std::string* pstrRetLatestVersion);
    // The part of the update check that follows the fetch, on a local copy
    // of the list; the file is left in place.
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
    // Downloads the chain (and the DirectX package when flagged) into the
    // save folder; progress goes to pNotify while the run lasts.
    int Download(IDownloaderNotification* pNotify);
    // Fetches the marked patches again under their cache-busting addresses
    // and renames them to their listed names.
    int ReDownload(IDownloaderNotification* pNotify);
    // The remote size of every chain patch, in chain order.
    int InitAllPatchFileSize();
    // From the owner's close routine on another thread: the running download
    // fails as stopped, and both downloaders end their transfers.
    void Stop();

    std::string m_strURLPrefix;
    std::string m_strSaveFilePath;
    Rv_VersionNumber m_CurrentVersionNumber;
    Rv_VersionNumber m_LatestVersionNumber;
    std::vector<Rv_PatchRecord> m_PatchList;
    // A DownloadErrorCode, -1 for a failure of a run's own; the owner's close
    // routine writes 2 from another thread.
    std::atomic<int> m_nLastErrorCode{1};
    int m_nDownloadDXFlag = 0;
    NyHttpDownloader m_HttpClient;
    // Used only by ReDownload, so a re-download run holds only its own files.
    NyHttpDownloader m_ReDownloadHttpClient;

private:
    int _GetDownloadPatchList(const char* cszListFile);
    int _InitPatchFileSize(Rv_PatchRecord* pRecord);
    // One run of a downloader over these URLs into the save folder: the
    // finished files are taken until none is left or one failed.
    int _RunDownload(NyHttpDownloader* pClient, IDownloaderNotification* pNotify,
                     const std::vector<std::string>& vecURLs);
    void _FailRun();
};
