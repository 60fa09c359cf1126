// Flash control and DirectX checks with their installers.
#include "app/runtime_installers.h"

#include "app/load_string.h"
#include "foundation/log.h"
#include "foundation/system_helpers.h"
#include "platform/file.h"
#include "platform/flash_control.h"
#include "platform/message_box.h"
#include "platform/os_info.h"

namespace {

const char* const s_aszFlashInstallers[] = {
    "..\\..\\3rdParty\\install_flash_player_10_active_x.exe",
    "3rdParty\\install_flash_player_10_active_x.exe",
};

enum {
    RVU_IDS_CAPTION = 122,
    RVU_IDS_FLASH_FAILED = 138,
    RVU_IDS_DIRECTX_INSTALLED = 139,
    RVU_IDS_DIRECTX_FAILED = 140,
    RVU_IDS_SYSTEM_DISK_FULL = 141,
};

void _ShowBox(unsigned uTextId, unsigned uType)
{
    char szText[RVU_STRING_BUFFER_SIZE];
    char szCaption[RVU_STRING_BUFFER_SIZE];
    Pf_MessageBox(RVU_LoadString(szText, uTextId), RVU_LoadString(szCaption, RVU_IDS_CAPTION), uType);
}

}  // namespace

int _CheckFlashAvailable()
{
    int nResult = 0;
    uint32_t uFlashVersion = 0;

    RVLOG_COM_PROCESS_ERROR(Pf_CreateFlashControl(&uFlashVersion));
    RVLOG_PROCESS_ERROR(((uFlashVersion >> 16) & 0xFF) >= RVU_FLASH_MIN_MAJOR_VERSION);
    nResult = 1;
Exit0:
    return nResult;
}

int _GetFlashInstaller(std::string* pstrRetPath)
{
    int nResult = 0;
    std::string strCurrent;

    RVLOG_PROCESS_ERROR(pstrRetPath);
    RVLOG_PROCESS_ERROR(Rv_GetCurrentDir(&strCurrent));
    for (const char* cszRelative : s_aszFlashInstallers) {
        if (Pf_FileExists(strCurrent + cszRelative)) {
            *pstrRetPath = strCurrent + cszRelative;
            nResult = 1;
            break;
        }
    }
    RVLOG_PROCESS_ERROR(nResult && "Flash installer not found.");
Exit0:
    return nResult;
}

int _InstallFlash()
{
    int nResult = 0;
    std::string strInstaller;

    RVLOG_PROCESS_ERROR(_GetFlashInstaller(&strInstaller));
    RVLOG_PROCESS_ERROR(_CreateAndWaitProcess(("\"" + strInstaller + "\"").c_str()));
    RVLOG_PROCESS_ERROR(_CheckFlashAvailable() && "install flash failed.");
    nResult = 1;
Exit0:
    return nResult;
}

int RVU_MakeSureFlashInstalled()
{
    int nResult = 0;

    if (_CheckFlashAvailable())
        goto Exit1;
    if (!_InstallFlash()) {
        _ShowBox(RVU_IDS_FLASH_FAILED, PF_MB_ICONINFORMATION);
        RVLOG_PROCESS_ERROR(false && "Failed to install flash.");
    }
Exit1:
    nResult = 1;
Exit0:
    return nResult;
}

int _InstallDirectX()
{
    int nResult = 0;
    std::string strSystemDir;
    std::string strSetup;
    uint64_t ullFree = 0;

    RVLOG_PROCESS_ERROR(Pf_GetSystemDir(&strSystemDir));
    RVLOG_PROCESS_ERROR(strSystemDir.size() > 0 && strSystemDir.size() < 260);
    RVLOG_PROCESS_ERROR(Pf_GetFreeSpace(strSystemDir, &ullFree));
    if (ullFree <= RVU_DIRECTX_MIN_FREE_BYTES) {
        _ShowBox(RVU_IDS_SYSTEM_DISK_FULL, PF_MB_OK);
        RVLOG_PROCESS_ERROR(false && "System disk space not enough.");
    }
    RVLOG_PROCESS_ERROR(_GetDirectXInstaller(&strSetup));
    RVLOG_PROCESS_ERROR(_CreateAndWaitProcess(("\"" + strSetup + "\" /Silent").c_str()));
    RVLOG_PROCESS_ERROR(RVU_IsD3DX9Installed() && "install dx9_43 failed.");
    nResult = 1;
Exit0:
    return nResult;
}

int RVU_CheckGameEnvironment()
{
    int nResult = 0;

    if (RVU_IsD3DX9Installed())
        goto Exit1;
    if (!_InstallDirectX()) {
        _ShowBox(RVU_IDS_DIRECTX_FAILED, PF_MB_ICONERROR);
        RVLOG_PROCESS_ERROR(false && "Failed to install DirectX.");
    }
    _ShowBox(RVU_IDS_DIRECTX_INSTALLED, PF_MB_ICONINFORMATION);
Exit1:
    nResult = 1;
Exit0:
    return nResult;
}
