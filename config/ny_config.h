// The updater configuration: folders beside the executable, server
// addresses, the installed version and version line, the skin, the 3D-engine
// option and the beta client's folders, read from the ini files each time
// LoadConfigParameters runs.
#pragma once
#include <string>

class NyConfig {
public:
    // Reads every field. Fails only when the executable's path cannot be read
    // or split, or the "laptop" adjustment fails.
    int LoadConfigParameters(int bAdjustApplicationPath);
    int LoadBetaVersionConfig(int bAdjustApplicationPath);
    // Writes [Skin] "id" to the development ini when it exists, else to the main ini.
    int SetSkinID(const char* cszSkinID);
    std::string GetVersion() const { return m_strVersion; }

    std::string m_strApplicationPath;
    std::string m_strUpdatePath;
    std::string m_strRootPath;
    std::string m_strDownloadURL;
    std::string m_strBulletinURL;
    std::string m_strRegisterURL;
    std::string m_strSyncFileURL;
    std::string m_strDevMessageURL;
    std::string m_strVersionName;
    std::string m_strVersionType;
    std::string m_strGameName;
    std::string m_strVersion;
    int m_nUse3DEngineDX11IfExist = 0;
    std::string m_strSkinID;
    std::string m_strBetaBinPath;
    std::string m_strBetaBin64Path;
    std::string m_strBetaReadableName;

private:
    int _LoadApplicationPath(int bAdjustApplicationPath);
};

// Reads a value that counts only with 1 to 255 characters; a longer one is
// absent (never cut). Returns 1 when present.
int Rv_ReadConfigValue(const std::string& strFile, const char* cszSection, const char* cszKey, std::string* pstrRetValue);
