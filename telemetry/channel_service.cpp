// The channel-tracking service's address, fixed or taken from the simulated machine.
#include "telemetry/channel_service.h"

#include "foundation/log.h"
#include "transfer/report_service.h"

const char RV_CHANNEL_SERVICE_HOST[] = "track.refitter.net";

int Rv_GetChannelServiceHost(std::string* pstrRetHostPort)
{
    int nResult = 0;
    int nRetCode = 0;
    std::string strHost;
    int nPort = 0;

    RVLOG_PROCESS_ERROR(pstrRetHostPort);
    nRetCode = Rv_GetServiceAddress("channel_service", RV_CHANNEL_SERVICE_HOST, &strHost, &nPort);
    RVLOG_PROCESS_ERROR(nRetCode);
    *pstrRetHostPort = nPort == 80 ? strHost : strHost + ":" + std::to_string(nPort);
    nResult = 1;
Exit0:
    return nResult;
}
