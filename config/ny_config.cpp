// The updater configuration reader.
#include "config/ny_config.h"

#include "config/application_path.h"
#include "foundation/log.h"
#include "platform/file.h"
#include "platform/path.h"
#include "platform/ini.h"

namespace {

const char* const s_cszVersionFile = "version.cfg";
const char* const s_cszMainIni = "refitter.ini";
const char* const s_cszDevIni = "refitterDev.ini";
const char* const s_cszCafeIni = "..\\..\\cybercafe.ini";
const char* const s_cszClientIni = "config.ini";
const char* const s_cszBetaListIni = "BetaVersionList.ini";

// The value, or strDefault when absent or not 1 to 255 characters.
std::string _ReadOr(const std::string& strFile, const char* cszSection, const char* cszKey, const std::string& strDefault)
{
    std::string strValue;
    if (Rv_ReadConfigValue(strFile, cszSection, cszKey, &strValue))
        return strValue;
    return strDefault;
}

} // namespace

int Rv_ReadConfigValue(const std::string& strFile, const char* cszSection, const char* cszKey, std::string* pstrRetValue)
{
    std::string strValue;
    if (!Pf_IniGetString(strFile, cszSection, cszKey, &strValue))
        return 0;
    if (strValue.empty() || strValue.size() > 255)
        return 0;
    *pstrRetValue = strValue;
    return 1;
}

int NyConfig::_LoadApplicationPath(int bAdjustApplicationPath)
{
    int nResult = 0;
    std::string strPath;
    RVLOG_PROCESS_ERROR(Rv_GetApplicationName(&strPath));
    if (bAdjustApplicationPath)
        RVLOG_PROCESS_ERROR(Rv_AdjustApplicationPath(&strPath));
    RVLOG_PROCESS_ERROR(Rv_CutAfterLastSeparator(strPath, &m_strApplicationPath));
    nResult = 1;
Exit0:
    return nResult;
}

int NyConfig::LoadConfigParameters(int bAdjustApplicationPath)
{
    int nResult = 0;
    std::string strFile;
    std::string strValue;
    std::string strExtension;

    RVLOG_PROCESS_ERROR(_LoadApplicationPath(bAdjustApplicationPath));
    m_strUpdatePath = m_strApplicationPath + "update\\";
    m_strRootPath = m_strApplicationPath + "../../";

    strFile = m_strApplicationPath + s_cszVersionFile;
    m_strVersionName = _ReadOr(strFile, "Version", "Talon5.versionName", "");
    m_strVersionType.clear();
    if (Rv_ReadConfigValue(strFile, "Version", "Talon5.VersionLineName", &m_strVersionType) &&
        Rv_ReadConfigValue(strFile, "Version", "Talon5.versionex", &strExtension))
        m_strVersionType += "_" + strExtension;
    m_strVersion = _ReadOr(strFile, "Version", "Talon5.version", "");
    for (char& c : m_strVersion) {
        if (c == '-' || c == ',')
            c = '.';
    }

    strFile = m_strApplicationPath + s_cszMainIni;
    m_strDownloadURL.clear();
    if (Rv_ReadConfigValue(strFile, "server_1", "ip", &strValue)) {
        m_strDownloadURL = Pf_WithSeparator(strValue, '/') + m_strVersionType + "/";
    }
    m_strBulletinURL = _ReadOr(strFile, "server_1", "bulletin", "");

    m_strRegisterURL = _ReadOr(m_strApplicationPath + s_cszCafeIni, "Register", "RegisterURL", "");

    // Taken as it comes: a development value that is present but empty blanks the address.
    m_strSyncFileURL = Pf_IniReadString(strFile, "server_1", "SyncFileURL", "");
    m_strSyncFileURL = Pf_IniReadString(m_strApplicationPath + s_cszDevIni, "server_1", "SyncFileURL", m_strSyncFileURL);

    m_strDevMessageURL = _ReadOr(m_strApplicationPath + s_cszDevIni, "server_1", "DevMessageURL", m_strDownloadURL);

    m_nUse3DEngineDX11IfExist = Pf_IniReadInt(m_strApplicationPath + s_cszClientIni, "Main", "Use3DEngineDX11_IfExist", 0);

    m_strSkinID.clear();
    m_strSkinID = _ReadOr(m_strApplicationPath + s_cszDevIni, "Skin", "id", m_strSkinID);
    m_strSkinID = _ReadOr(strFile, "Skin", "id", m_strSkinID);

    RVLOG_PROCESS_ERROR(LoadBetaVersionConfig(bAdjustApplicationPath));
    nResult = 1;
Exit0:
    return nResult;
}

int NyConfig::LoadBetaVersionConfig(int bAdjustApplicationPath)
{
    int nResult = 0;
    std::string strClientIni;
    std::string strBetaName;
    std::string strBetaList;

    m_strBetaBinPath.clear();
    RVLOG_PROCESS_ERROR(_LoadApplicationPath(bAdjustApplicationPath));
    strClientIni = m_strApplicationPath + s_cszClientIni;
    Rv_ReadConfigValue(strClientIni, "DevVersion", "BetaVersion", &strBetaName);
    m_nUse3DEngineDX11IfExist = Pf_IniReadInt(strClientIni, "Main", "Use3DEngineDX11_IfExist", 0);
    if (!strBetaName.empty()) {
        strBetaList = m_strApplicationPath + s_cszBetaListIni;
        m_strBetaReadableName = _ReadOr(strBetaList, strBetaName.c_str(), "ReadableName", "");
        m_strBetaBinPath = _ReadOr(strBetaList, strBetaName.c_str(), "BinPath", "");
        m_strBetaBin64Path = _ReadOr(strBetaList, strBetaName.c_str(), "Bin64Path", "");
    } else {
        m_strBetaBinPath.clear();
        m_strBetaBin64Path.clear();
    }
    nResult = 1;
Exit0:
    return nResult;
}

int NyConfig::SetSkinID(const char* cszSkinID)
{
    int nResult = 0;
    std::string strPath;
    std::string strFolder;
    std::string strDevIni;

    RVLOG_PROCESS_ERROR(cszSkinID);
    RVLOG_PROCESS_ERROR(Rv_GetApplicationName(&strPath));
    RVLOG_PROCESS_ERROR(!m_strApplicationPath.empty());
    strDevIni = m_strApplicationPath + s_cszDevIni;
    if (Pf_FileExists(strDevIni))
        RVLOG_PROCESS_ERROR(Pf_IniWriteString(strDevIni, "Skin", "id", cszSkinID));
    else
        RVLOG_PROCESS_ERROR(Pf_IniWriteString(m_strApplicationPath + s_cszMainIni, "Skin", "id", cszSkinID));
    nResult = 1;
Exit0:
    return nResult;
}
