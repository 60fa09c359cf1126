// The updater object's development-message thread: it fetches the message
// description and its page from the development-message address, shows the
// page in the movie's activity window, and remembers the number of the last
// message shown in the client's "config.ini".
#include "app/ny_refitter.h"

#include <cstdio>

#include "foundation/log.h"
#include "platform/file.h"
#include "platform/ini.h"
#include "transfer/http_file.h"

namespace {

const char* const s_cszDevMessageIni = "DevMessageIniFile.ini";
const char* const s_cszHTMLContent = "HTMLContent";
const char* const s_cszClientConfig = "config.ini";
// A page is read into a buffer this much larger than the size it had when opened.
const size_t s_uPageSlack = 512;

// [MessageWindow] value of 1 to 258 characters.
int _ReadMessageValue(const std::string& strIni, const char* cszKey, std::string* pstrRetValue)
{
    if (!Pf_IniGetString(strIni, "MessageWindow", cszKey, pstrRetValue))
        return 0;
    return !pstrRetValue->empty() && pstrRetValue->size() <= 258;
}

} // namespace

int NyRefitter::_ShowDevMessageWindow()
{
    int nRetCode = 0;

    m_DevMessageThread.Wait();
    nRetCode = m_DevMessageThread.Create(_ShowDevMessageWindowWorkFunc, this);
    RVLOG_CHECK_ERROR(nRetCode);
    return nRetCode;
}

void NyRefitter::_ShowDevMessageWindowWorkFunc(void* pvThis)
{
    ((NyRefitter*)pvThis)->_RunDevMessage();
}

int NyRefitter::_RunDevMessage()
{
    int nResult = 0;
    int nRetCode = 0;
    NyConfig config;
    std::string strRemoteIni;
    std::string strLocalIni;
    std::string strPageFile;
    std::string strButtonLink;
    std::string strText;
    int nLocal = 0;
    int nRemote = 0;

    _GetConfigCopy(&config);
    strRemoteIni = config.m_strDevMessageURL + s_cszDevMessageIni;
    strLocalIni = config.m_strUpdatePath + s_cszDevMessageIni;
    RVLOG_PROCESS_ERROR(strRemoteIni.size() <= 259);

    nRetCode = RVU_DownloadHttpFileForceRefresh(strRemoteIni.c_str(), strLocalIni.c_str());
    RVLOG_PROCESS_ERROR(nRetCode && "RVU_DownloadHttpFileForceRefresh()");

    nRetCode = _ReadMessageValue(strLocalIni, "MessageWindowHTMLFile", &strPageFile);
    RVLOG_PROCESS_ERROR(nRetCode);
    nRetCode = _ReadMessageValue(strLocalIni, "ButtonLink", &strButtonLink);
    RVLOG_PROCESS_ERROR(nRetCode);

    nRetCode = _GetHTMLContentString(config, strPageFile, &strText);
    RVLOG_PROCESS_ERROR(nRetCode && "_GetHTMLContentString()");

    nRetCode = _GetRemoteAndLocalMessageVersionNum(config, strLocalIni, &nLocal, &nRemote);
    RVLOG_PROCESS_ERROR(nRetCode);

    nRetCode = ShowActivityWindow(strButtonLink, strText, nLocal < nRemote);
    RVLOG_PROCESS_ERROR(nRetCode && "ShowActivityWindow()");

    nRetCode = _SaveRemoteMessageVersionNumToConfig(config, nRemote);
    RVLOG_PROCESS_ERROR(nRetCode);

    nResult = 1;
Exit0:
    Pf_DeleteFile(strLocalIni);
    return nResult;
}

int NyRefitter::_GetHTMLContentString(const NyConfig& config, const std::string& strPageFile, std::string* pstrRetText)
{
    int nResult = 0;
    int nRetCode = 0;
    std::string strRemote = config.m_strDevMessageURL + "/" + strPageFile;
    std::string strLocal = config.m_strUpdatePath + s_cszHTMLContent;
    FILE* pFile = nullptr;
    uint64_t ullSize = 0;
    size_t uCapacity = 0;
    std::string strText;
    int nChar = 0;

    RVLOG_PROCESS_ERROR(strRemote.size() <= 258);
    RVLOG_PROCESS_ERROR(strLocal.size() <= 258);
    nRetCode = RVU_DownloadHttpFileForceRefresh(strRemote.c_str(), strLocal.c_str());
    RVLOG_PROCESS_ERROR(nRetCode && "RVU_DownloadHttpFileForceRefresh()");

    pFile = Pf_FOpen(strLocal, "r");
    RVLOG_PROCESS_ERROR(pFile);
    nRetCode = Pf_GetFileSize(strLocal, &ullSize);
    RVLOG_PROCESS_ERROR(nRetCode);
    RVLOG_PROCESS_ERROR(ullSize < 64u * 1024 * 1024);
    uCapacity = (size_t)ullSize + s_uPageSlack;

    // The text must end before the buffer does: a page that grew meanwhile fails.
    while ((nChar = fgetc(pFile)) != EOF) {
        if (nChar == '\0' || strText.size() + 1 >= uCapacity) {
            RvLog_Write(RVLOG_ERROR, "Read file error %s", strLocal.c_str());
            goto Exit0;
        }
        strText.push_back((char)nChar);
    }
    if (ferror(pFile)) {
        RvLog_Write(RVLOG_ERROR, "Read file error %s", strLocal.c_str());
        goto Exit0;
    }
    pstrRetText->swap(strText);

    nResult = 1;
Exit0:
    if (pFile)
        fclose(pFile);
    Pf_DeleteFile(strLocal);
    return nResult;
}

int NyRefitter::_GetRemoteAndLocalMessageVersionNum(const NyConfig& config, const std::string& strDownloadedIni,
                                                    int* pnRetLocal, int* pnRetRemote)
{
    *pnRetRemote = Pf_IniReadInt(strDownloadedIni, "MessageWindow", "MessageVersionNum", 0);
    *pnRetLocal = Pf_IniReadInt(config.m_strApplicationPath + "/" + s_cszClientConfig, "DevVersion",
                                "MessageVersionNum", 0);
    return 1;
}

int NyRefitter::_SaveRemoteMessageVersionNumToConfig(const NyConfig& config, int nNumber)
{
    return Pf_IniWriteString(config.m_strApplicationPath + "/" + s_cszClientConfig, "DevVersion", "MessageVersionNum",
                             std::to_string(nNumber));
}

int NyRefitter::ShowActivityWindow(const std::string& strButtonLink, const std::string& strHTMLText, int bIsNew)
{
    return m_FlashWindow.SendCommandToFlash(
        "ActivityState", {"2", strButtonLink, "<![CDATA[" + strHTMLText + "]]>", bIsNew ? "1" : "0"});
}
