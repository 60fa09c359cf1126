// The reporting service's address (and any other service's), fixed or taken
// from the run's setting.
#include "transfer/report_service.h"

#include "foundation/log.h"
#include "platform/service_setting.h"

const char RV_REPORT_SERVICE_HOST[] = "report.refitter.net";

static int _IsHostChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-';
}

int Rv_GetReportService(std::string* pstrRetHost, int* pnRetPort)
{
    return Rv_GetServiceAddress("report_service", RV_REPORT_SERVICE_HOST, pstrRetHost, pnRetPort);
}

int Rv_GetServiceAddress(const char* cszFact, const char* cszDefaultHost, std::string* pstrRetHost, int* pnRetPort)
{
    int nResult = 0;
    std::string strFact;
    std::string strHost;
    std::string strPort;
    size_t uColon = std::string::npos;
    int nPort = RV_REPORT_SERVICE_PORT;

    RVLOG_PROCESS_ERROR(cszFact);
    RVLOG_PROCESS_ERROR(cszDefaultHost);
    RVLOG_PROCESS_ERROR(pstrRetHost);
    RVLOG_PROCESS_ERROR(pnRetPort);

    if (!Pf_ReadServiceSetting(cszFact, &strFact))
        strFact = cszDefaultHost;
    uColon = strFact.find(':');
    strHost = strFact.substr(0, uColon);
    if (uColon != std::string::npos) {
        strPort = strFact.substr(uColon + 1);
        RVLOG_PROCESS_ERROR(!strPort.empty() && strPort.size() <= 5);
        RVLOG_PROCESS_ERROR(strPort.find_first_not_of("0123456789") == std::string::npos);
        nPort = std::stoi(strPort);
        RVLOG_PROCESS_ERROR(nPort >= 1 && nPort <= 65535);
    }
    RVLOG_PROCESS_ERROR(!strHost.empty() && strHost.size() < 256);
    for (char c : strHost)
        RVLOG_PROCESS_ERROR(_IsHostChar(c));
    *pstrRetHost = strHost;
    *pnRetPort = nPort;
    nResult = 1;
Exit0:
    return nResult;
}
