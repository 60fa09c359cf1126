// The self-updater: reads the updater's version file from the server, and
// when the server's updater is newer than the running executable, downloads
// its files into the work folder, checks their MD5s and moves them over the
// installed ones (the old ones kept in the work folder with ".tmp" appended),
// the running executable's own file last. A replacement that fails puts the
// files it had replaced back.
#pragma once
#include <list>
#include <string>
#include <vector>

struct Rv_SelfUpdateFile {
    std::string strFileName;        // the name on the server ("Refitter_1.0.0.8.exe")
    std::string strLocalFileName;   // the name in the application folder ("Refitter.exe")
    std::string strFileMD5;         // as listed; compared without case
};

class Rv_SelfUpdater {
public:
    int Init(const char* cszApplicationPath, const char* cszTempFilePath);
    // *pnRetNeedUpdateFlag is 1 when the server's version is newer than the
    // running executable's file version.
    int CheckNeedUpdate(int* pnRetNeedUpdateFlag);
    int DownloadFiles();
    int UpdateFiles();

    const std::string& GetURLPrefix() const { return m_strURLPrefix; }
    const std::string& GetLatestVersion() const { return m_strLatestVersion; }
    const std::list<Rv_SelfUpdateFile>& GetFileList() const { return m_FileList; }

private:
    int _LoadURLPrefix();
    int _LoadDevUpdateConfig();
    int _ParseUpdaterVersionFile();
    int _ReadUpdaterVersionFile(const std::string& strFile);
    int _CheckDownloadedFile(const Rv_SelfUpdateFile& File);
    int _MoveFile(const std::string& strSrc, const std::string& strDst);

    // One installed record of a replacement, and whether its old file was kept.
    struct _ReplacedFile {
        const Rv_SelfUpdateFile* pFile;
        int bKept;
    };
    std::vector<const Rv_SelfUpdateFile*> _GetInstallOrder() const;
    void _RestoreReplacedFiles(const std::vector<_ReplacedFile>& vecReplaced);

    std::string m_strApplicationPath;
    std::string m_strTempFilePath;
    std::string m_strURLPrefix;
    std::string m_strLatestVersion;
    std::list<Rv_SelfUpdateFile> m_FileList;
};

// The local name of a server file: its name up to the first "_", then its
// text from the last "." on ("Refitter_1.0.0.8.exe" gives "Refitter.exe").
// Fails for a name without "_" or ".", one with a folder part, or one whose
// local name would be "." or "..".
int Rv_GetSelfUpdateLocalName(const std::string& strFileName, std::string* pstrRetLocalName);
