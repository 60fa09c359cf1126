// The simulated machine and the client's version file for whole update runs.
#include "tests/support/update_client.h"

#include "platform/file.h"

#include <cstdlib>

void Rv_TestWriteDesktopFacts(const std::string& strSimDir)
{
    Rv_TestWriteFile(strSimDir + "/ac_line", "1\n");
    Rv_TestWriteFile(strSimDir + "/battery_percent", "255\n");
    Rv_TestWriteFile(strSimDir + "/available_memory", "8589934592\n");
    Rv_TestWriteFile(strSimDir + "/cpu_busy", "0\n");
    Rv_TestWriteFile(strSimDir + "/common_app_data", strSimDir + "/common_app_data.d");
    // Reports go to a closed loopback port unless a test listens for them.
    Rv_TestWriteFile(strSimDir + "/report_service", "127.0.0.1:1");
    Rv_TestWriteFile(strSimDir + "/channel_service", "127.0.0.1:1");
}

void Rv_TestPrepareSimMachine(const Rv_TestTempDir& Dir)
{
    Rv_TestWriteDesktopFacts(Dir.File("sim"));
    Rv_TestWriteFile(Dir.File("sim/free_bytes"), "100000000000\n");
    Rv_TestWriteFile(Dir.File("sim/sleep_divisor"), "100\n");
    for (const char* cszLibrary : {"D3DX9_40.dll", "D3DX9_41.dll", "D3DX9_42.dll", "D3DX9_43.dll"})
        Rv_TestWriteFile(Dir.File("system/") + cszLibrary, "");
    Rv_TestWriteFile(Dir.File("sim/system_dir"), Dir.File("system"));
    Rv_TestWriteFile(Dir.File("sim/movie_script"),
                     "on SetUpdateState 1 call CloseWindow\non SetUpdateState 4 call CloseWindow every 100\n");
    Pf_CreateDirChain(Dir.File("events"));
    setenv("RV_SIM_ROOT", Dir.File("sim").c_str(), 1);
    setenv("RV_EVENT_PREFIX", (Dir.File("events") + "/").c_str(), 1);
    setenv("RV_REGISTRY_DIR", Dir.File("registry").c_str(), 1);
    unsetenv("http_proxy");
    unsetenv("HTTP_PROXY");
}

std::string Rv_TestVersionCfg(const std::string& strVersion)
{
    return "[Version]\nTalon5.version=" + strVersion + "\nTalon5.VersionLineName=zhcn\nTalon5.versionName=Demo\n";
}

std::string Rv_TestInstalledVersion(const std::string& strVersionCfgPath)
{
    const std::string strKey = "Talon5.version=";
    std::string strCfg = Rv_TestReadFile(strVersionCfgPath);
    size_t uPos = strCfg.find(strKey);
    if (uPos == std::string::npos)
        return "";
    uPos += strKey.size();
    return strCfg.substr(uPos, strCfg.find('\n', uPos) - uPos);
}
