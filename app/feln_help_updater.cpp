// The security-product check mode: the singleton event, the pending chain
// with its sizes, and the answer file "felnupdate.ini".
#include "app/feln_help_updater.h"

#include "app/patch_downloader.h"
#include "foundation/countof.h"
#include "foundation/log.h"
#include "platform/file.h"
#include "platform/path.h"
#include "transfer/http_file.h"

#include <cctype>
#include <cstdio>

namespace {

const char* const s_cszResultFileName = "felnupdate.ini";
const char* const s_cszPatchListName = "autoupdateentry.txt";
// The check's own copy of the patch list: a window updater working in the
// same folder keeps its "autoupdateentry.txt" to itself.
const char* const s_cszPatchListCopyName = "felnupdate_list.txt";
const char* const s_cszUpdatePage = "login_web/QV7Patch.swf";
const int s_nRemoveAttempts = 3;

// The answer file's text, laid out as the private-profile writer lays out a
// new file: sections in the order first written, "key=value" lines, CRLF.
class _AnswerText {
public:
    // 0 for a value the ini reader would not give back as it is (a line
    // break, blank edges, a pair of enclosing quotes).
    int Write(const char* cszSection, const char* cszKey, const std::string& strValue)
    {
        if (!_IsPlainValue(strValue))
            return 0;
        if (m_strSection != cszSection) {
            m_strSection = cszSection;
            m_strText += "[" + m_strSection + "]\r\n";
        }
        m_strText += std::string(cszKey) + "=" + strValue + "\r\n";
        return 1;
    }
    const std::string& Text() const { return m_strText; }

private:
    static int _IsPlainValue(const std::string& strValue)
    {
        if (strValue.find_first_of("\r\n") != std::string::npos)
            return 0;
        if (!strValue.empty() && (isspace((unsigned char)strValue.front()) || isspace((unsigned char)strValue.back())))
            return 0;
        if (strValue.size() >= 2 && strValue.front() == strValue.back() &&
            (strValue.front() == '"' || strValue.front() == '\''))
            return 0;
        return 1;
    }

    std::string m_strSection;
    std::string m_strText;
};

// 1 for 32 hex digits, the form every listed MD5 must have.
int _IsMD5Text(const std::string& strMD5)
{
    if (strMD5.size() != 32)
        return 0;
    for (char c : strMD5) {
        if (!isxdigit((unsigned char)c))
            return 0;
    }
    return 1;
}

} // namespace

NyFelnHelpUpdater::~NyFelnHelpUpdater()
{
    m_hSingletonEvent.Close();
}

int NyFelnHelpUpdater::_TakeSingletonEvent()
{
    int nResult = 0;
    int nRetCode = 0;
    int bExisted = 0;
    char szEventName[260];

    nRetCode = !m_hSingletonEvent.IsValid();
    RVLOG_PROCESS_ERROR(nRetCode && "m_hSingletonEvent == NULL");
    nRetCode = snprintf(szEventName, _countof(szEventName), "Global\\%s_%s_{D51BB2CE}",
                        m_Config.m_strVersionType.c_str(), "felnupdate");
    RVLOG_PROCESS_ERROR(nRetCode > 0 && nRetCode <_countof(szEventName));
    nRetCode = m_hSingletonEvent.Create(szEventName, &bExisted);
    RVLOG_PROCESS_ERROR(nRetCode && "m_hSingletonEvent");
    // Another instance of this mode runs; the handle is kept until destruction.
    RVLOG_PROCESS_ERROR(!bExisted && "dwErrorCode != ERROR_ALREADY_EXISTS");

    nResult = 1;
Exit0:
    return nResult;
}

int NyFelnHelpUpdater::_RemoveResultFile()
{
    int nResult = 0;

    RVLOG_PROCESS_ERROR(!m_strResultFileFullName.empty());
    for (int nTry = 0; nTry < s_nRemoveAttempts && Pf_PathExists(m_strResultFileFullName); ++nTry)
        Pf_DeleteNormalFile(m_strResultFileFullName);
    if (Pf_PathExists(m_strResultFileFullName))
        RVLOG_PROCESS_ERROR(false);

    nResult = 1;
Exit0:
    return nResult;
}

int NyFelnHelpUpdater::init()
{
    int nResult = 0;
    int nRetCode = 0;

    nRetCode = m_Config.LoadConfigParameters(false);
    RVLOG_PROCESS_ERROR(nRetCode);
    nRetCode = _TakeSingletonEvent();
    RVLOG_PROCESS_ERROR(nRetCode);
    m_strResultFileFullName = m_Config.m_strUpdatePath + s_cszResultFileName;
    nRetCode = _RemoveResultFile();
    RVLOG_PROCESS_ERROR(nRetCode);

    nResult = 1;
Exit0:
    return nResult;
}

int NyFelnHelpUpdater::_BuildPatchInfoList()
{
    int nResult = 0;
    int nRetCode = 0;
    int nNeedUpdate = 0;
    Rv_PatchDownloader Downloader;
    std::string strListURL;
    std::string strListFile = m_Config.m_strUpdatePath + s_cszPatchListCopyName;

    m_PatchInfoList.clear();
    m_strServerVersion.clear();
    nRetCode = Downloader.Init(m_Config.m_strDownloadURL.c_str(), m_Config.m_strUpdatePath.c_str(),
                               m_Config.m_strVersion.c_str());
    RVLOG_PROCESS_ERROR(nRetCode);

    strListURL = Downloader.m_strURLPrefix + s_cszPatchListName;
    nRetCode = RVU_DownloadHttpFileForceRefresh(strListURL.c_str(), strListFile.c_str());
    RVLOG_PROCESS_ERROR(nRetCode);
    nRetCode = Downloader.ReadListFile(strListFile.c_str(), &nNeedUpdate, &m_strServerVersion);
    RVLOG_PROCESS_ERROR(nRetCode);
    RVLOG_PROCESS_SUCCESS(!nNeedUpdate);

    nRetCode = Downloader.InitAllPatchFileSize();
    RVLOG_PROCESS_ERROR(nRetCode);
    nRetCode = Downloader.GetPatchInfoList(m_PatchInfoList);
    RVLOG_PROCESS_ERROR(nRetCode);
    // The security product fetches and checks what the answer names: a patch
    // without a usable digest or size makes no answer at all.
    for (const Rv_PatchFileInfo& Info : m_PatchInfoList) {
        nRetCode = _IsMD5Text(Info.strMD5);
        if (!nRetCode)
            RvLog_Write(RVLOG_ERROR, "The patch list gives no valid MD5 for %s", Info.strFileName.c_str());
        RVLOG_PROCESS_ERROR(nRetCode && "_IsMD5Text()");
        if (Info.nFileSize <= 0)
            RvLog_Write(RVLOG_ERROR, "The patch server gives no size for %s", Info.strFileName.c_str());
        RVLOG_PROCESS_ERROR(Info.nFileSize > 0);
    }

Exit1:
    nResult = 1;
Exit0:
    Pf_DeleteNormalFile(strListFile);
    Downloader.Stop();
    return nResult;
}

int NyFelnHelpUpdater::_WriteResultFile()
{
    int nResult = 0;
    int nRetCode = 0;
    int nItem = 0;
    char szFileSize[16];
    char szAppName[16];
    std::string strNativePath;
    _AnswerText Answer;

    nRetCode = Answer.Write("common", "curver", m_Config.m_strVersion);
    RVLOG_PROCESS_ERROR(nRetCode > 0);
    nRetCode = Answer.Write("common", "svrver", m_strServerVersion);
    RVLOG_PROCESS_ERROR(nRetCode > 0);
    nRetCode = Answer.Write("common", "updateurl", m_Config.m_strDownloadURL + s_cszUpdatePage);
    RVLOG_PROCESS_ERROR(nRetCode > 0);

    for (const Rv_PatchFileInfo& Info : m_PatchInfoList) {
        // Downloaded completely: it sits under its final name.
        if (Pf_FileExists(m_Config.m_strUpdatePath + Info.strFileName))
            continue;
        nRetCode = snprintf(szFileSize, _countof(szFileSize), "%lld", (long long)Info.nFileSize);
        RVLOG_PROCESS_ERROR(nRetCode > 0 && nRetCode <_countof(szFileSize));
        nRetCode = snprintf(szAppName, _countof(szAppName), "item%d", nItem);
        RVLOG_PROCESS_ERROR(nRetCode > 0 && nRetCode <_countof(szAppName));

        nRetCode = Answer.Write(szAppName, "url", m_Config.m_strDownloadURL + Info.strFileName);
        RVLOG_PROCESS_ERROR(nRetCode > 0);
        // The security product opens this file on this machine: a path it can use as it stands.
        nRetCode = Pf_NativePath(m_Config.m_strUpdatePath + Info.strFileName + ".tmp", &strNativePath);
        RVLOG_PROCESS_ERROR(nRetCode && "Pf_NativePath()");
        nRetCode = Answer.Write(szAppName, "path", strNativePath);
        RVLOG_PROCESS_ERROR(nRetCode > 0);
        nRetCode = Answer.Write(szAppName, "md5", Info.strMD5);
        RVLOG_PROCESS_ERROR(nRetCode > 0);
        nRetCode = Answer.Write(szAppName, "size", szFileSize);
        RVLOG_PROCESS_ERROR(nRetCode > 0);
        ++nItem;
    }

    // Whole or not at all: the security product may read at any moment.
    nRetCode = Pf_WriteFileAtomic(m_strResultFileFullName, Answer.Text());
    RVLOG_PROCESS_ERROR(nRetCode && "Pf_WriteFileAtomic()");

    nResult = 1;
Exit0:
    if (!nResult)
        _RemoveResultFile();
    return nResult;
}

int NyFelnHelpUpdater::run()
{
    int nResult = 0;
    int nRetCode = 0;
    int bHolder = 0;

    // Only the holder of the singleton event may touch the answer file.
    bHolder = m_hSingletonEvent.IsValid() && !m_strResultFileFullName.empty();
    RVLOG_PROCESS_ERROR(bHolder && "init()");
    nRetCode = _BuildPatchInfoList();
    RVLOG_PROCESS_ERROR(nRetCode);
    nRetCode = _WriteResultFile();
    RVLOG_PROCESS_ERROR(nRetCode);

    nResult = 1;
Exit0:
    if (!nResult && bHolder)
        _RemoveResultFile();
    return nResult;
}
