// The file synchroniser: brings single resource files of the client in line
// with the index that the server publishes beside them. The check reads the
// index in byte ranges and collects the files whose time or CRC-32 differ;
// the sync fetches each of them as a one-item "QZIP" archive, unpacks it
// aside, verifies it and only then puts it in place of the old file.
//
// Both operations run on the caller's thread; another thread may abort them
// by writing RV_RFSC_ERROR_ABROT into m_nStatusCode (Abort).
#pragma once
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "app/file_sync_index.h"

// Receives the sync's progress; a zero answer stops the sync.
class IRvProcessRate {
public:
    virtual ~IRvProcessRate() = default;
    virtual int SetPercentRate(float fPercent) = 0;
};

enum RvRefitterFileSyncStatus {
    RV_RFSC_IDLE = 0,
    RV_RFSC_CHECKING = 1,
    RV_RFSC_SYNCING = 2,
    RV_RFSC_SUCCESS_FINISH_CHECK = 3,
    RV_RFSC_SUCCESS_FINISH_SYNC = 4,
    RV_RFSC_ERROR_FAILED = 5,
    RV_RFSC_ERROR_ABROT = 6,
    RV_RFSC_ERROR_DOWNLOAD = 7,
};

class Rv_SyncFile {
public:
    Rv_SyncFile();
    Rv_SyncFile(const Rv_SyncFile&) = delete;
    Rv_SyncFile& operator=(const Rv_SyncFile&) = delete;

    int Init(const char* cszClientPath, const char* cszTempFilePath, const char* cszURLPrefix,
             IRvProcessRate* pProcessRate);
    int AddIgnoreFile(const char* cszFileName);
    int AddIgnoreDirectory(const char* cszDirectoryName);
    int StartCheck();
    // Only after a check that ended with RV_RFSC_SUCCESS_FINISH_CHECK.
    int StartSync();
    // From any thread: the running check or sync ends at its next abort test.
    void Abort() { m_nStatusCode = RV_RFSC_ERROR_ABROT; }
    // Whether a relative name is never synchronised.
    int IsIgnored(const std::string& strName) const;

    std::string m_strClientPath;
    std::string m_strTempFilePath;
    std::string m_strURLPrefix;
    std::string m_strIgnoreListFile;
    std::vector<std::string> m_IgnoreFileList;
    std::vector<std::string> m_IgnoreDirectoryList;
    std::atomic<int> m_nStatusCode{RV_RFSC_IDLE};
    float m_fSyncProgress = 0.0f;
    float m_fDifferentRatio = 0.0f;
    Rv_SyncIndexFileHeader m_SyncInfoFileHeader{};
    std::vector<Rv_CorruptFileInfo> m_CorruptFileList;
    std::vector<std::string> m_DirNameVector;
    IRvProcessRate* m_piProcessRate = nullptr;

private:
    int _IsAborted() const { return m_nStatusCode == RV_RFSC_ERROR_ABROT; }
    // Sets a running or finished status unless an abort was requested.
    int _SetStatusUnlessAborted(int nStatus);
    int _LoadIgnoreList();
    int _AddIgnoreEntry(std::vector<std::string>* pvecList, const char* cszName);
    int _Check();
    int _DownloadCheckInfo(std::vector<Rv_FileCheckInfo>* pvecRetEntries);
    int _HasDiffFileContent(const std::string& strPath, const Rv_FileCheckInfo& CheckInfo, int* pbRetDiff);
    int _Sync();
    int _DownloadDirInfo();
    int _DownloadFileSyncInfo();
    int _SyncDifferentFile(const Rv_CorruptFileInfo& crCorruptFileInfo);
    int _DownloadArchive(const std::string& strURL, const std::string& strArchive);
    int _UnpackArchive(const char* pcszCompressdFilePath, const char* pcszDecompressedFilePath);
    int _ReplaceFile(const std::string& strNew, const std::string& strTarget);
    int _MoveFile(const std::string& strFrom, const std::string& strTo);
    std::string _FileURL(const Rv_CorruptFileInfo& crCorruptFileInfo) const;

    // The file count of the check, kept for the sync.
    uint32_t m_uFileCount = 0;
};
