// The updater object's version line: the refresher thread that redraws it
// every 500 ms, and the texts it shows for each status.
#include "app/ny_refitter.h"

#include "foundation/log.h"
#include "platform/clock.h"

int NyRefitter::_StartAutoRefreshShowVersion()
{
    return m_RefreshThread.Create(_AutoRefreshShowVersionThread, this);
}

void NyRefitter::_AutoRefreshShowVersionThread(void* pvThis)
{
    NyRefitter* pThis = (NyRefitter*)pvThis;
    int nRetCode = 0;

    while (true) {
        int nStatus = pThis->m_nStatusCode;
        if (nStatus == UPDATE_STATUS_COMPLETE || nStatus == UPDATE_STATUS_LATEST) {
            nRetCode = pThis->_UpdateShowVersion();
            if (!nRetCode) {
                RvLog_WriteCheck("RVLOG_PROCESS_ERROR(%s) at line %d in %s\n", "nRetCode", __LINE__,
                                 __PRETTY_FUNCTION__);
                break;
            }
        } else {
            nRetCode = pThis->_UpdateShowVersion();
            RVLOG_CHECK_ERROR(nRetCode);
        }
        if (pThis->m_bStop)
            break;
        // Short naps so that a stop is seen soon; the line is redrawn every 500 ms.
        for (int i = 0; i < 10 && !pThis->m_bStop; ++i)
            Pf_Sleep(50);
        if (pThis->m_bStop)
            break;
    }
}

int NyRefitter::_GetExecuteVersionName(NyConfig* pConfig, std::string* pstrRetName, int* pbRetFlag)
{
    int nResult = 0;
    int nRetCode = 0;
    int bX64 = 0;

    bX64 = _IsX64ClientUsable(*pConfig);
    nRetCode = pConfig->LoadBetaVersionConfig(0);
    RVLOG_PROCESS_ERROR(nRetCode);
    nRetCode = Rv_FormatExecuteVersionName(bX64, bX64 ? pConfig->m_strBetaBin64Path : pConfig->m_strBetaBinPath,
                                           pConfig->m_strBetaReadableName, pConfig->m_nUse3DEngineDX11IfExist,
                                           pstrRetName, pbRetFlag);
    RVLOG_PROCESS_ERROR(nRetCode);
    nResult = 1;
Exit0:
    return nResult;
}

int NyRefitter::_UpdateShowVersion()
{
    int nResult = 0;
    int nRetCode = 0;
    int nStatus = m_nStatusCode;
    std::string strVersion;
    std::string strLatest;
    std::string strName;
    int bFlag = 0;

    switch (nStatus) {
    case UPDATE_STATUS_DOWNLOADING:
    case UPDATE_STATUS_UPDATING:
    case UPDATE_STATUS_SYNCHRONISING: {
        {
            Pf_MutexGuard guard(m_ConfigLock);
            strVersion = m_Config.m_strVersion;
            strLatest = m_strLatestVersion;
        }
        nResult = _SetShowVersion(nStatus == UPDATE_STATUS_SYNCHRONISING ? "同步中" : "更新中", strVersion.c_str(),
                                  strLatest.c_str(), 0);
        break;
    }
    case UPDATE_STATUS_COMPLETE:
    case UPDATE_STATUS_LATEST: {
        // A fresh configuration of this thread's own: the worker may be
        // reloading the shared one.
        NyConfig config;
        nRetCode = config.LoadConfigParameters(1);
        RVLOG_PROCESS_ERROR(nRetCode);
        nRetCode = _GetExecuteVersionName(&config, &strName, &bFlag);
        RVLOG_PROCESS_ERROR(nRetCode);
        nResult = _SetShowVersion(strName.c_str(), config.m_strVersion.c_str(), nullptr, bFlag);
        break;
    }
    default:
        nResult = 1;
        break;
    }
Exit0:
    return nResult;
}
