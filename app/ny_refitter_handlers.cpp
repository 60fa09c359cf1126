// The updater object's handlers of the movie's calls: the window is ready
// (first texts, required configuration, the worker), start the game with its
// start marker, open the configuration tool, change the skin.
#include "app/ny_refitter.h"

#include <cstdio>
#include <cstring>

#include "app/load_string.h"
#include "foundation/log.h"
#include "platform/file.h"
#include "platform/message_box.h"
#include "platform/os_info.h"
#include "platform/process.h"
#include "telemetry/client_report.h"

namespace {

// The start marker beside the client executable: its last-write time, a
// counter kept while that time is unchanged, and 1.
#pragma pack(push, 1)
struct RvStartMarker {
    uint32_t uLowDateTime;
    uint32_t uHighDateTime;
    uint32_t uCounter;
    uint32_t uStarted;
};
#pragma pack(pop)
static_assert(sizeof(RvStartMarker) == 16, "the start marker is 16 bytes");

} // namespace

int NyRefitter::_OnBeginUpdate(const std::vector<std::string>&)
{
    int nResult = 0;
    int nRetCode = 0;

    {
        Pf_MutexGuard guard(m_ConfigLock);
        nRetCode = m_Config.LoadConfigParameters(1);
    }
    RVLOG_PROCESS_ERROR(nRetCode && "m_Config.LoadConfigParameters()");

    _SendInitCommandToFlashWindow();

    nRetCode = _CheckNecessaryConfig();
    if (!nRetCode) {
        _SetErrorCode(UPDATE_ERROR_CONFIG_INCOMPLETE);
        RVLOG_PROCESS_ERROR(false && "_CheckNecessaryConfig()");
    }

    nRetCode = m_WorkThread.Create(_WorkThreadFunction, this);
    RVLOG_PROCESS_ERROR(nRetCode && "m_WorkThread.Create()");

    nResult = 1;
Exit0:
    if (!nResult) {
        _ReportUpdateOutcome(1);
        // No worker runs: the player may close the window.
        m_FlashWindow.PostWorkEnded();
    }
    return nResult;
}

int NyRefitter::_SendInitCommandToFlashWindow()
{
    std::string strBulletin;
    std::string strSkin;
    std::string strVersionName;
    std::string strVersion;

    {
        Pf_MutexGuard guard(m_ConfigLock);
        strBulletin = m_Config.m_strBulletinURL;
        strSkin = m_Config.m_strSkinID;
        strVersionName = m_Config.m_strVersionName;
        strVersion = m_Config.m_strVersion;
    }
    _CallFlash("GetUrlOfConfig", strBulletin.c_str());
    _CallFlash("CallBackSetFistMotion", "0");
    _CallFlash("SetUpdateState", "0");
    _CallFlash("SkinID", strSkin.c_str());
    _SetShowVersion(strVersionName.c_str(), strVersion.c_str(), strVersion.c_str(), 0);
    return 1;
}

int NyRefitter::_CheckNecessaryConfig()
{
    int nResult = 0;
    const char* pcszRetCode = nullptr;
    Pf_MutexGuard guard(m_ConfigLock);

    pcszRetCode = m_Config.m_strDownloadURL.c_str();
    RVLOG_PROCESS_ERROR(pcszRetCode[0] && "Download URL is empty.");
    pcszRetCode = m_Config.m_strVersionType.c_str();
    RVLOG_PROCESS_ERROR(pcszRetCode[0] && "version type is empty.");
    pcszRetCode = m_Config.m_strVersion.c_str();
    RVLOG_PROCESS_ERROR(pcszRetCode[0] && "vesion number is empty.");
    nResult = 1;
Exit0:
    return nResult;
}

int NyRefitter::_ShowMissingFileBox(const std::string& strPath)
{
    Pf_MessageBox(_LoadText(RV_IDS_CANNOT_START) + strPath, _LoadText(RV_IDS_CAPTION), PF_MB_OK | PF_MB_ICONERROR);
    return 1;
}

int NyRefitter::_OnStartGame(const std::vector<std::string>&)
{
    int nResult = 0;
    int nRetCode = 0;
    std::string strClientEXE;
    int bStartX64Client = 0;
    int bLaptop = 0;
    int bStarted = 0;
    char szCommandLine[512];

    nRetCode = _GetClientEXEPath(&strClientEXE, &bStartX64Client, &bLaptop);
    RVLOG_PROCESS_ERROR(nRetCode);

    if (!Pf_FileExists(strClientEXE)) {
        _ShowMissingFileBox(strClientEXE);
        RVLOG_PROCESS_ERROR(false);
    }

    nRetCode = snprintf(szCommandLine, sizeof(szCommandLine), "\"%s\" %s %s", strClientEXE.c_str(),
                        "DOTNOTSTARTGAMEBYQV7CLIENT.EXE", bLaptop ? "-UseLaptop" : "");
    RVLOG_PROCESS_ERROR(nRetCode > 0);
    RVLOG_PROCESS_ERROR(nRetCode < (int)sizeof(szCommandLine));

    nRetCode = _WriteStartMarker(strClientEXE);
    RVLOG_CHECK_ERROR(nRetCode);
    bStarted = _CreateProcess(szCommandLine);

    RVLOG_CHECK_ERROR(g_ClientReport.ReportMainStartInfo(bStarted, bStartX64Client));
    RVLOG_CHECK_ERROR(g_ClientReport.ReportDx11Info());
    RVLOG_CHECK_ERROR(g_ClientReport.ReportFullClientInfo());
    g_ClientReport.clientIsX64 = bStartX64Client;
    g_ClientReport.m_nStartType = bLaptop;
    RVLOG_CHECK_ERROR(g_ClientReport.ReportStartClientInfo());
    if (bLaptop)
        RVLOG_CHECK_ERROR(g_ClientReport.ReportLaptopConfig());

    _CloseWindow();
    nResult = 1;
Exit0:
    return nResult;
}

int NyRefitter::_OnConfigGame(const std::vector<std::string>&)
{
    int nResult = 0;
    std::string strTool;

    {
        Pf_MutexGuard guard(m_ConfigLock);
        strTool = m_Config.m_strApplicationPath + "GameConfig.exe";
    }
    if (!Pf_FileExists(strTool)) {
        _ShowMissingFileBox(strTool);
        RVLOG_PROCESS_ERROR(false);
    }
    // Quoted, so that a folder with a blank stays one program name.
    _CreateProcess("\"" + strTool + "\"");
    nResult = 1;
Exit0:
    return nResult;
}

int NyRefitter::_IsX64ClientUsable(const NyConfig& config)
{
    Pf_OsVersion version{};

    if (!Pf_GetOsVersion(&version))
        return 0;
    if (!(version.uMajor > 6 || (version.uMajor == 6 && version.uMinor != 0)))
        return 0;
    if (!Pf_IsHost64Bit())
        return 0;
    return Pf_FileExists(config.m_strApplicationPath + "bin64\\QV7ClientX64.exe");
}

int NyRefitter::_GetClientEXEPath(std::string* pstrRetClientEXE, int* pbRetStartX64Client, int* pbRetLaptop)
{
    int nResult = 0;
    int nRetCode = 0;
    int bX64 = 0;
    std::string strBetaFolder;
    Pf_MutexGuard guard(m_ConfigLock);

    RVLOG_PROCESS_ERROR(pstrRetClientEXE);
    RVLOG_PROCESS_ERROR(pbRetStartX64Client);
    RVLOG_PROCESS_ERROR(pbRetLaptop);
    nRetCode = m_Config.LoadConfigParameters(0);
    RVLOG_PROCESS_ERROR(nRetCode);

    bX64 = _IsX64ClientUsable(m_Config);
    strBetaFolder = bX64 ? m_Config.m_strBetaBin64Path : m_Config.m_strBetaBinPath;
    if (!strBetaFolder.empty())
        *pstrRetClientEXE = m_Config.m_strApplicationPath + strBetaFolder + "\\" +
                            (bX64 ? "QV7ClientX64.exe" : "QV7Client.exe");
    else
        *pstrRetClientEXE = m_Config.m_strApplicationPath + (bX64 ? "bin64\\QV7ClientX64.exe" : "QV7Client.exe");
    *pbRetStartX64Client = bX64;
    *pbRetLaptop = !strBetaFolder.empty();
    nResult = 1;
Exit0:
    return nResult;
}

int NyRefitter::_CreateProcess(const std::string& strCommandLine)
{
    int nResult = 0;
    int nRetCode = 0;
    Pf_Process process;
    std::string strWorkDir;

    {
        Pf_MutexGuard guard(m_ConfigLock);
        strWorkDir = m_Config.m_strApplicationPath;
    }
    nRetCode = process.Start(strCommandLine, strWorkDir);
    RVLOG_PROCESS_ERROR(nRetCode);
    process.Close();
    nResult = 1;
Exit0:
    return nResult;
}

int NyRefitter::_WriteStartMarker(const std::string& strClientEXE)
{
    int nResult = 0;
    int nRetCode = 0;
    std::string strMarkerPath = strClientEXE + ".eec";
    Pf_FILETIME ftWrite{0, 0};
    std::string strOld;
    RvStartMarker marker{};
    RvStartMarker old{};

    RVLOG_PROCESS_ERROR(strClientEXE.size() + 4 < 260);

    if (!Pf_GetFileTimes(strClientEXE, nullptr, nullptr, &ftWrite))
        ftWrite = Pf_FILETIME{0, 0};

    nRetCode = Pf_ReadWholeFile(strMarkerPath, &strOld);
    if (nRetCode && strOld.size() == sizeof(old)) {
        memcpy(&old, strOld.data(), sizeof(old));
        if (old.uLowDateTime == ftWrite.dwLowDateTime && old.uHighDateTime == ftWrite.dwHighDateTime)
            marker.uCounter = old.uCounter;
    }
    marker.uLowDateTime = ftWrite.dwLowDateTime;
    marker.uHighDateTime = ftWrite.dwHighDateTime;
    marker.uStarted = 1;

    nRetCode = Pf_WriteFileAtomic(strMarkerPath, std::string((const char*)&marker, sizeof(marker)));
    RVLOG_PROCESS_ERROR(nRetCode);
    nResult = 1;
Exit0:
    return nResult;
}
