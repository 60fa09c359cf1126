// The channel report: the installer's channel numbers, setup version and
// install type, sent as the query of one tracking image fetched from the
// channel-tracking service into a temporary file that is deleted at once.
#include "telemetry/client_report.h"

#include "foundation/log.h"
#include "foundation/registry_value.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "platform/ini.h"
#include "platform/web_client.h"
#include "telemetry/channel_service.h"
#include "telemetry/client_report_common.h"
#include "transfer/http_common.h"

#include <cstdio>

enum {
    RV_CHANNEL_URL_SIZE = 1024,
    RV_CHANNEL_SETUP_VERSION_SIZE = 260,
    RV_CHANNEL_VERSION_TEXT_SIZE = 128,
    RV_CHANNEL_FETCH_LIMIT_MS = 60000,      // the whole fetch, however slowly the image trickles in
};

// Asked during the fetch: ends it once its time is up, so that a service
// that keeps sending a byte now and then cannot hold the shut-down.
static int _IsFetchTimeUp(void* pvDeadline)
{
    return Pf_GetMonotonicMs() >= *(const uint64_t*)pvDeadline;
}

// A value as it may stand in a query: characters that would end or split
// the value (blanks, "&", "#", "%", controls, non-ASCII bytes) go as %XX;
// letters, digits and "-._~:" stay as they are.
static std::string _QueryValue(const std::string& strValue)
{
    return Rv_PercentEncode(strValue, ":");
}

// A text of the channel or version file; one too long for its buffer counts
// as absent rather than being cut.
static std::string _ReadText(const std::string& strFile, const char* cszSection, const char* cszKey,
                             unsigned uBufferSize)
{
    std::string strValue;
    if (!Rv_ReadReportIniText(strFile, cszSection, cszKey, "", uBufferSize, &strValue))
        RvLog_Write(RVLOG_WARNING, "[%s] %s of %s is too long and is not sent.", cszSection, cszKey, strFile.c_str());
    return strValue;
}

void NyClientReport::_ReportChannelInfoThreadFunc(void* pvThis)
{
    NyClientReport* pThis = (NyClientReport*)pvThis;
    int nRetCode = 0;
    std::string strChannelIni = pThis->m_strExeFolder + "channel.ini";
    std::string strVersionCfg = pThis->m_strExeFolder + RV_REPORT_VERSION_CFG;
    std::string strTempFile = pThis->m_strExeFolder + "update\\PostChannel.temp";
    int nTid1 = -1;
    int nTid2 = -1;
    int nInstallType = 1;
    std::string strSetupVersion;
    std::string strLineName;
    std::string strVersionEx;
    std::string strVersionType;
    std::string strHost;
    char szRegistryValue[RV_CHANNEL_SETUP_VERSION_SIZE];
    char szPostURL[RV_CHANNEL_URL_SIZE];
    uint64_t ullDeadline = 0;

    nTid1 = Pf_IniReadInt(strChannelIni, "channel", "tid0", -1);
    if (nTid1 < 0) {
        nTid1 = Pf_IniReadInt(strChannelIni, "channel", "tid1", -1);
        nTid2 = Pf_IniReadInt(strChannelIni, "channel", "tid2", -1);
    } else {
        nTid2 = Pf_IniReadInt(strChannelIni, "channel", "tid1", -1);
    }
    strSetupVersion = _ReadText(strChannelIni, "channel", "setupversion", RV_CHANNEL_SETUP_VERSION_SIZE);

    strLineName = _ReadText(strVersionCfg, "Version", "Talon5.VersionLineName", RV_CHANNEL_VERSION_TEXT_SIZE);
    strVersionEx = _ReadText(strVersionCfg, "Version", "Talon5.versionex", RV_CHANNEL_VERSION_TEXT_SIZE);
    strVersionType = strLineName;
    if (!strVersionEx.empty())
        strVersionType += "_" + strVersionEx;

    if (Rv_GetStringValueFromRegister(strVersionType.c_str(), "setupVersion", szRegistryValue,
                                      sizeof(szRegistryValue))) {
        nInstallType = 0;
        if (strSetupVersion.empty())
            strSetupVersion = szRegistryValue;
    }

    nRetCode = Rv_GetChannelServiceHost(&strHost);
    RVLOG_PROCESS_ERROR(nRetCode);
    nRetCode = snprintf(szPostURL, sizeof(szPostURL),
                        "http://%s/pagetracer4Unencrypt/feln/__utm.gif?type=50&actionname=qv7_channel&uuid=%s"
                        "&uuidex=%s&versionlinename=%s&versionex=%s&tid1=%d&tid2=%d&installtype=%d&setupversion=%s",
                        strHost.c_str(), _QueryValue(pThis->m_szClientType).c_str(),
                        _QueryValue(pThis->m_szFelnUUIDEx).c_str(), _QueryValue(strLineName).c_str(),
                        _QueryValue(strVersionEx).c_str(), nTid1, nTid2, nInstallType,
                        _QueryValue(strSetupVersion).c_str());
    RVLOG_PROCESS_ERROR(nRetCode > 0);
    RVLOG_PROCESS_ERROR(nRetCode < _countof(szPostURL));

    ullDeadline = Pf_GetMonotonicMs() + RV_CHANNEL_FETCH_LIMIT_MS;
    Pf_UrlDownloadToFile(szPostURL, strTempFile, _IsFetchTimeUp, &ullDeadline);
Exit0:
    Pf_DeleteNormalFile(strTempFile);
}
