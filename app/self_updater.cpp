// The self-updater: version file, downloads with their MD5 check, and the
// replacement of the installed files.
#include "app/self_updater.h"

#include "config/application_path.h"
#include "foundation/file_version.h"
#include "foundation/log.h"
#include "foundation/md5.h"
#include "foundation/system_helpers.h"
#include "foundation/version_number.h"
#include "platform/crash_point.h"
#include "platform/file.h"
#include "platform/file_mode.h"
#include "platform/ini.h"
#include "platform/path.h"
#include "transfer/http_file.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>
#include <set>
#include <strings.h>
#include <utility>
#include <vector>

static const char* const s_cszVersionFileName = "updaterversion.txt";
// Values of the configuration files: 1 to 259 characters; of the version file: 1 to 255.
static const size_t s_uMaxConfigValueLen = 259;
static const size_t s_uMaxVersionValueLen = 255;
// The version file is a few lines; a larger answer is not one.
static const uint64_t s_ullMaxVersionFileSize = 1 << 20;

static std::string _Lower(std::string str)
{
    for (char& c : str)
        c = (char)tolower((unsigned char)c);
    return str;
}

// A present value of 1 to uMaxLen characters.
static int _ReadValue(const std::string& strFile, const char* cszSection, const char* cszKey, size_t uMaxLen,
                      std::string* pstrRetValue)
{
    std::string strValue;
    if (!Pf_IniGetString(strFile, cszSection, cszKey, &strValue))
        return 0;
    if (strValue.empty() || strValue.size() > uMaxLen)
        return 0;
    *pstrRetValue = strValue;
    return 1;
}

static int _EndsWithNoCase(const std::string& str, const char* cszEnd)
{
    std::string strEnd = cszEnd;
    return str.size() >= strEnd.size() && Pf_StrCaseEqual(str.substr(str.size() - strEnd.size()), strEnd);
}

int Rv_GetSelfUpdateLocalName(const std::string& strFileName, std::string* pstrRetLocalName)
{
    int nResult = 0;
    size_t uUnderscore = strFileName.find('_');
    size_t uDot = strFileName.rfind('.');
    std::string strLocal;

    RVLOG_PROCESS_ERROR(pstrRetLocalName);
    RVLOG_PROCESS_ERROR(uUnderscore != std::string::npos && uDot != std::string::npos);
    // The name is the server's: it must stay inside the folders it is put in.
    RVLOG_PROCESS_ERROR(strFileName.find_first_of("\\/:") == std::string::npos);
    strLocal = strFileName.substr(0, uUnderscore) + strFileName.substr(uDot);
    RVLOG_PROCESS_ERROR(strLocal != "." && strLocal != "..");
    *pstrRetLocalName = strLocal;
    nResult = 1;
Exit0:
    return nResult;
}

int Rv_SelfUpdater::Init(const char* cszApplicationPath, const char* cszTempFilePath)
{
    int nResult = 0;
    int nRetCode = 0;

    RVLOG_PROCESS_ERROR(cszApplicationPath && cszApplicationPath[0]);
    RVLOG_PROCESS_ERROR(cszTempFilePath && cszTempFilePath[0]);
    m_strApplicationPath = Pf_WithSeparator(cszApplicationPath);
    m_strTempFilePath = Pf_WithSeparator(cszTempFilePath);

    nRetCode = _LoadURLPrefix();
    RVLOG_PROCESS_ERROR(nRetCode && "_LoadURLPrefix()");
    nRetCode = _LoadDevUpdateConfig();
    RVLOG_CHECK_ERROR(nRetCode && "_LoadDevUpdateConfig()");

    RvLog_Write(RVLOG_INFO, "Self update from `%s`.", m_strURLPrefix.c_str());
    nResult = 1;
Exit0:
    return nResult;
}

int Rv_SelfUpdater::_LoadURLPrefix()
{
    int nResult = 0;
    int nRetCode = 0;
    std::string strURL;
    std::string strVersionLine;
    std::string strVersionEx;
    std::string strVersionCfg = m_strApplicationPath + "version.cfg";

    nRetCode = _ReadValue(m_strApplicationPath + "refitter.ini", "server_1", "ip", s_uMaxConfigValueLen, &strURL);
    RVLOG_PROCESS_ERROR(nRetCode && "Failed to load CONFIG_KEY_DOWNLOAD_URL");
    nRetCode = _ReadValue(strVersionCfg, "Version", "Talon5.VersionLineName", s_uMaxConfigValueLen, &strVersionLine);
    RVLOG_PROCESS_ERROR(nRetCode && "Failed to load version type.");
    // The extension is optional, but one that is there must fit.
    if (Pf_IniGetString(strVersionCfg, "Version", "Talon5.versionex", &strVersionEx))
        RVLOG_PROCESS_ERROR(strVersionEx.size() <= s_uMaxConfigValueLen);

    m_strURLPrefix = Pf_WithSeparator(strURL, '/');
    m_strURLPrefix += strVersionLine;
    if (!strVersionEx.empty())
        m_strURLPrefix += "_" + strVersionEx;
    m_strURLPrefix += "/updaterV2/";
    nResult = 1;
Exit0:
    return nResult;
}

// A development address replaces the whole folder address.
int Rv_SelfUpdater::_LoadDevUpdateConfig()
{
    int nResult = 0;
    int nRetCode = 0;
    std::string strURL;

    nRetCode = _ReadValue(m_strApplicationPath + "refitterDev.ini", "server_1", "ip", s_uMaxConfigValueLen, &strURL);
    RVLOG_PROCESS_ERROR(nRetCode);
    m_strURLPrefix = Pf_WithSeparator(strURL, '/');
    nResult = 1;
Exit0:
    return nResult;
}

int Rv_SelfUpdater::CheckNeedUpdate(int* pnRetNeedUpdateFlag)
{
    int nResult = 0;
    int nRetCode = 0;
    std::string strApplicationName;
    std::string strOwnVersion;
    Rv_VersionNumber OwnVersion;
    Rv_VersionNumber LatestVersion;

    RVLOG_PROCESS_ERROR(pnRetNeedUpdateFlag);
    *pnRetNeedUpdateFlag = 0;

    nRetCode = Rv_GetApplicationName(&strApplicationName);
    RVLOG_PROCESS_ERROR(nRetCode);
    nRetCode = Rv_GetApplicationFileVersionNumber(strApplicationName.c_str(), &strOwnVersion);
    RVLOG_PROCESS_ERROR(nRetCode && "Rv_GetApplicationFileVersionNumber()");

    nRetCode = _ParseUpdaterVersionFile();
    RVLOG_PROCESS_ERROR(nRetCode && "_ParseUpdaterVersionFile()");

    nRetCode = OwnVersion.ParseString(strOwnVersion.c_str());
    RVLOG_PROCESS_ERROR(nRetCode && "OwnVersion.ParseString()");
    nRetCode = LatestVersion.ParseString(m_strLatestVersion.c_str());
    RVLOG_PROCESS_ERROR(nRetCode && "LatestVersion.ParseString()");

    *pnRetNeedUpdateFlag = OwnVersion < LatestVersion ? 1 : 0;
    RvLog_Write(RVLOG_INFO, "Self update: file version %s, latest version %s, need update %d.", strOwnVersion.c_str(),
                m_strLatestVersion.c_str(), *pnRetNeedUpdateFlag);
    nResult = 1;
Exit0:
    return nResult;
}

int Rv_SelfUpdater::_ParseUpdaterVersionFile()
{
    int nResult = 0;
    int nRetCode = 0;
    std::string strURL = m_strURLPrefix + s_cszVersionFileName;
    std::string strFile = m_strTempFilePath + s_cszVersionFileName;

    // Bounded while it arrives: a server sending more cannot fill the disk.
    nRetCode = RVU_DownloadHttpFileForceRefresh(strURL.c_str(), strFile.c_str(), s_ullMaxVersionFileSize);
    RVLOG_PROCESS_ERROR(nRetCode && "RVU_DownloadHttpFileForceRefresh()");
    nRetCode = _ReadUpdaterVersionFile(strFile);
    RVLOG_PROCESS_ERROR(nRetCode);
    nResult = 1;
Exit0:
    Pf_DeleteNormalFile(strFile);
    return nResult;
}

int Rv_SelfUpdater::_ReadUpdaterVersionFile(const std::string& strFile)
{
    int nResult = 0;
    int nRetCode = 0;
    uint64_t ullSize = 0;
    std::vector<std::pair<std::string, std::string>> vecValues;
    std::map<std::string, std::string> mapValues;
    std::set<std::string> setLocalNames;
    char szKey[64];

    nRetCode = Pf_GetFileSize(strFile, &ullSize);
    RVLOG_PROCESS_ERROR(nRetCode);
    RVLOG_PROCESS_ERROR(ullSize <= s_ullMaxVersionFileSize);

    nRetCode = _ReadValue(strFile, "version", "LatestVersion", s_uMaxVersionValueLen, &m_strLatestVersion);
    RVLOG_PROCESS_ERROR(nRetCode && "LatestVersion");

    m_FileList.clear();
    // One read of the list; keys without case, the first of a name counts.
    if (Pf_IniGetSectionValues(strFile, "updatefilelist", &vecValues)) {
        for (const auto& value : vecValues)
            mapValues.emplace(_Lower(value.first), value.second);
    }
    for (int n = 0;; ++n) {
        Rv_SelfUpdateFile File;
        snprintf(szKey, sizeof(szKey), "%s%d", "filename_", n);
        auto itName = mapValues.find(szKey);
        if (itName == mapValues.end() || itName->second.empty())
            break;
        snprintf(szKey, sizeof(szKey), "%s%d", "filemd5_", n);
        auto itMD5 = mapValues.find(szKey);
        if (itMD5 == mapValues.end() || itMD5->second.empty()) {
            RvLog_Write(RVLOG_ERROR, "The self update file %s has no md5.", itName->second.c_str());
            RVLOG_PROCESS_ERROR(false && "FileMD5");
        }
        RVLOG_PROCESS_ERROR(itName->second.size() <= s_uMaxVersionValueLen);
        RVLOG_PROCESS_ERROR(itMD5->second.size() <= s_uMaxVersionValueLen);
        File.strFileName = itName->second;
        File.strFileMD5 = itMD5->second;
        nRetCode = Rv_GetSelfUpdateLocalName(File.strFileName, &File.strLocalFileName);
        if (!nRetCode) {
            RvLog_Write(RVLOG_ERROR, "Invalid self update file name %s.", File.strFileName.c_str());
            RVLOG_PROCESS_ERROR(false && "Rv_GetSelfUpdateLocalName()");
        }
        // Two files for one installed name would keep the first one's new
        // file as the copy of the old one: the list is refused instead.
        nRetCode = setLocalNames.insert(_Lower(File.strLocalFileName)).second;
        RVLOG_PROCESS_ERROR(nRetCode && "The local file name is listed twice.");
        m_FileList.push_back(File);
    }
    nResult = 1;
Exit0:
    if (!nResult)
        m_FileList.clear();
    return nResult;
}

// The downloaded file must be the one listed; a wrong one is removed. A
// program gets its execute permission before it replaces anything.
int Rv_SelfUpdater::_CheckDownloadedFile(const Rv_SelfUpdateFile& File)
{
    int nResult = 0;
    int nRetCode = 0;
    char szMD5[64] = {};
    std::string strFile = m_strTempFilePath + File.strFileName;

    nRetCode = MakeFileMD5(szMD5, strFile.c_str());
    RVLOG_PROCESS_ERROR(nRetCode && "MakeFileMD5()");
    if (strcasecmp(szMD5, File.strFileMD5.c_str()) != 0) {
        RvLog_Write(RVLOG_ERROR, "The downloaded file %s with error md5 %s.", File.strFileName.c_str(), szMD5);
        Pf_DeleteNormalFile(strFile);
        RVLOG_PROCESS_ERROR(false);
    }
    if (_EndsWithNoCase(File.strLocalFileName, ".exe")) {
        nRetCode = Pf_SetExecutable(strFile);
        RVLOG_PROCESS_ERROR(nRetCode && "Pf_SetExecutable()");
    }
    nResult = 1;
Exit0:
    return nResult;
}

int Rv_SelfUpdater::DownloadFiles()
{
    int nResult = 0;
    int nRetCode = 0;
    std::string strURL;
    std::string strFile;

    RVLOG_PROCESS_ERROR(!m_FileList.empty() && "self update file list is empty.");
    for (const Rv_SelfUpdateFile& File : m_FileList) {
        strURL = m_strURLPrefix + File.strFileName;
        strFile = m_strTempFilePath + File.strFileName;
        nRetCode = RVU_DownloadHttpFile(strURL.c_str(), strFile.c_str());
        RVLOG_PROCESS_ERROR(nRetCode && "RVU_DownloadHttpFile()");
        nRetCode = _CheckDownloadedFile(File);
        RVLOG_PROCESS_ERROR(nRetCode && "_CheckDownloadedFile()");
    }
    nResult = 1;
Exit0:
    return nResult;
}

// The records in the order they are installed: the list's, with the running
// executable's own record last. Its version stamp is what the next start
// reads, so it changes only once every companion is in place, and a run cut
// short before that is done again by the next start.
std::vector<const Rv_SelfUpdateFile*> Rv_SelfUpdater::_GetInstallOrder() const
{
    std::vector<const Rv_SelfUpdateFile*> vecOrder;
    std::string strApplicationName;
    std::string strOwnName;

    if (Rv_GetApplicationName(&strApplicationName)) {
        size_t uSplit = strApplicationName.find_last_of("\\/");
        strOwnName = strApplicationName.substr(uSplit == std::string::npos ? 0 : uSplit + 1);
    }
    for (const Rv_SelfUpdateFile& File : m_FileList)
        vecOrder.push_back(&File);
    std::stable_partition(vecOrder.begin(), vecOrder.end(), [&](const Rv_SelfUpdateFile* pFile) {
        return strOwnName.empty() || !Pf_StrCaseEqual(pFile->strLocalFileName, strOwnName);
    });
    return vecOrder;
}

int Rv_SelfUpdater::UpdateFiles()
{
    int nResult = 0;
    int nRetCode = 0;
    int bKept = 0;
    std::string strInstalled;
    std::string strOld;
    std::string strNew;
    std::vector<_ReplacedFile> vecReplaced;

    // Every new file is checked again before the first installed one is
    // touched: a missing or changed file replaces nothing.
    for (const Rv_SelfUpdateFile& File : m_FileList) {
        nRetCode = _CheckDownloadedFile(File);
        RVLOG_PROCESS_ERROR(nRetCode && "_CheckDownloadedFile()");
    }
    for (const Rv_SelfUpdateFile* pFile : _GetInstallOrder()) {
        strInstalled = m_strApplicationPath + pFile->strLocalFileName;
        strOld = m_strTempFilePath + pFile->strLocalFileName + ".tmp";
        strNew = m_strTempFilePath + pFile->strFileName;

        // The old file is kept in the work folder as a copy, and the new one
        // is renamed over it in one step: a kill at any point leaves the old
        // or the new file in place, never none. A file that is there but
        // cannot be kept is not replaced, so a failure can put it back.
        Pf_CrashPoint();
        bKept = 0;
        if (Pf_FileExists(strInstalled)) {
            bKept = Pf_CopyFile(strInstalled, strOld, 0);
            if (!bKept)
                RvLog_Write(RVLOG_ERROR, "Failed to keep %s as %s, Error code : %d.", strInstalled.c_str(),
                            strOld.c_str(), Pf_GetLastError());
            RVLOG_PROCESS_ERROR(bKept && "Pf_CopyFile()");
        } else {
            RvLog_Write(RVLOG_INFO, "Move %s to %s field.", strInstalled.c_str(), strOld.c_str());
        }

        Pf_CrashPoint();
        nRetCode = _MoveFile(strNew, strInstalled);
        RVLOG_PROCESS_ERROR(nRetCode && "_MoveFile()");
        vecReplaced.push_back({pFile, bKept});
    }
    nResult = 1;
Exit0:
    if (!nResult)
        _RestoreReplacedFiles(vecReplaced);
    return nResult;
}

// Puts back, last first, what a failed replacement had installed: the kept
// old file, or no file where there was none. A restore that fails is logged
// and the others go on.
void Rv_SelfUpdater::_RestoreReplacedFiles(const std::vector<_ReplacedFile>& vecReplaced)
{
    int nRetCode = 0;
    std::string strInstalled;
    std::string strOld;

    for (auto it = vecReplaced.rbegin(); it != vecReplaced.rend(); ++it) {
        strInstalled = m_strApplicationPath + it->pFile->strLocalFileName;
        strOld = m_strTempFilePath + it->pFile->strLocalFileName + ".tmp";
        Pf_CrashPoint();
        if (it->bKept)
            nRetCode = _MoveFile(strOld, strInstalled);
        else
            nRetCode = Pf_DeleteNormalFile(strInstalled);
        if (nRetCode)
            RvLog_Write(RVLOG_INFO, "Restored %s.", strInstalled.c_str());
        else
            RvLog_Write(RVLOG_ERROR, "Failed to restore %s.", strInstalled.c_str());
    }
}

int Rv_SelfUpdater::_MoveFile(const std::string& strSrc, const std::string& strDst)
{
    int nError = 0;

    if (Rv_MoveFileWithRetries(strSrc, strDst, &nError))
        return 1;
    RvLog_Write(RVLOG_ERROR, "Failed to move file `%s` to `%s`, Error code : %d.", strSrc.c_str(), strDst.c_str(),
                nError);
    return 0;
}
