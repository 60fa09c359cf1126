// The reporter's DirectX probes: the version text from dxdiag.exe, from the
// diagnostics provider or from the registry, and whether DirectX 9 and 11
// are present.
#include "telemetry/client_report.h"

#include "foundation/countof.h"
#include "foundation/file_version.h"
#include "foundation/log.h"
#include "foundation/version_number.h"
#include "platform/display_adapters.h"
#include "platform/os_info.h"
#include "platform/registry.h"

#include <algorithm>
#include <cstring>

#ifndef _countof
#endif

namespace {

struct DxVersionRow {
    const char* cszVersion;
    const char* cszText;
};

const DxVersionRow s_aDxDiagRows[] = {
    {"6.00.6000.16386", "DirectX 10"},
    {"6.00.6001.18000", "DirectX 10"},
    {"6.01.7000.0000", "DirectX 11"},
};

const DxVersionRow s_aRegisterRows[] = {
    {"4.08.01.0810", "DirectX 8.1"},  {"4.08.01.0881", "DirectX 8.1"},  {"4.08.01.0901", "DirectX 8.1a"},
    {"4.08.02.0134", "DirectX 8.2"},  {"4.09.00.0900", "DirectX 9.0"},  {"4.09.00.0901", "DirectX 9.0a"},
    {"4.09.00.0902", "DirectX 9.0b"}, {"4.09.00.0903", "DirectX 9.0c"}, {"4.09.00.0904", "DirectX 9.0c"},
};

const char s_szDx11Version[] = "6.01.7000.0000";

// The version of "dxdiag.exe" in the system folder.
int _ReadDxDiagFileVersion(Rv_VersionNumber* pRetVersion)
{
    int nResult = 0;
    int nRetCode = 0;
    std::string strSystemDir;
    char szSystemPath[260];
    std::string strSystemPath;
    std::string strFileVersion;
    Rv_VersionNumber FileVersion;

    nRetCode = Pf_GetSystemDir(&strSystemDir) ? (int)std::min<size_t>(strSystemDir.size(), 0x7FFFFFFF) : 0;
    RVLOG_PROCESS_ERROR(nRetCode > 0);
    RVLOG_PROCESS_ERROR(nRetCode < _countof(szSystemPath));
    strSystemPath = strSystemDir + "\\dxdiag.exe";
    nRetCode = Rv_GetApplicationFileVersionNumber(strSystemPath.c_str(), &strFileVersion);
    RVLOG_PROCESS_ERROR(nRetCode && "Rv_GetApplicationFileVersionNumber()");
    nRetCode = FileVersion.ParseString(strFileVersion.c_str());
    RVLOG_PROCESS_ERROR(nRetCode && "FileVersion.ParseString()");
    *pRetVersion = FileVersion;
    nResult = 1;
Exit0:
    return nResult;
}

// HKEY_LOCAL_MACHINE "Software\Microsoft\DirectX" "Version".
int _ReadRegisterVersion(Rv_VersionNumber* pRetVersion)
{
    int nResult = 0;
    int nRetCode = 0;
    Pf_RegKey key;
    char szVersion[260];
    Rv_VersionNumber RegisterVersion;

    nRetCode = (int)key.Open(PF_HKEY_LOCAL_MACHINE, "Software\\Microsoft\\DirectX");
    RVLOG_PROCESS_ERROR(nRetCode == ERROR_SUCCESS);
    nRetCode = (int)key.QueryString("Version", szVersion, sizeof(szVersion));
    RVLOG_PROCESS_ERROR(nRetCode == ERROR_SUCCESS);
    nRetCode = RegisterVersion.ParseString(szVersion);
    RVLOG_PROCESS_ERROR(nRetCode && "RegisterVersion.ParseString()");
    *pRetVersion = RegisterVersion;
    nResult = 1;
Exit0:
    return nResult;
}

// The text of the first row equal to the version; 0 when none is (or a row does not parse).
int _FindRow(const Rv_VersionNumber& version, const DxVersionRow* pRows, size_t uRows, const char** ppszRetText)
{
    int nResult = 0;
    int nRetCode = 0;
    for (size_t i = 0; i < uRows; ++i) {
        Rv_VersionNumber DxVersion;
        nRetCode = DxVersion.ParseString(pRows[i].cszVersion);
        RVLOG_PROCESS_ERROR(nRetCode && "DxVersion.ParseString()");
        if (DxVersion == version) {
            *ppszRetText = pRows[i].cszText;
            nResult = 1;
            break;
        }
    }
Exit0:
    return nResult;
}

// The text of a version read from one source, by its table; needs an empty target.
int _NameVersion(int (*pfnReadVersion)(Rv_VersionNumber*), const DxVersionRow* pRows, size_t uRows,
                 std::string* pstrRetInfo)
{
    int nResult = 0;
    int nRetCode = 0;
    Rv_VersionNumber Version;
    const char* pszText = nullptr;

    RVLOG_PROCESS_ERROR(pstrRetInfo);
    RVLOG_PROCESS_ERROR(pstrRetInfo->empty());
    nRetCode = pfnReadVersion(&Version);
    RVLOG_PROCESS_ERROR(nRetCode);
    if (!_FindRow(Version, pRows, uRows, &pszText))
        goto Exit0;
    *pstrRetInfo = pszText;
    nResult = 1;
Exit0:
    return nResult;
}

}  // namespace

typedef int (NyClientReport::*Rv_DirectXSource)(std::string* pstrRetInfo);

// The first source's text, else the registry's; needs an empty target.
static int _GetDirectXText(NyClientReport* pReport, Rv_DirectXSource pfnFirst, Rv_DirectXSource pfnRegister,
                           std::string* pstrRetInfo)
{
    int nResult = 0;
    int nRetCode = 0;

    RVLOG_PROCESS_ERROR(pstrRetInfo->empty());
    nRetCode = (pReport->*pfnFirst)(pstrRetInfo);
    if (!nRetCode)
        nRetCode = (pReport->*pfnRegister)(pstrRetInfo);
    RVLOG_PROCESS_ERROR(nRetCode && "_GetDxVersionInfoInRegister()");
    nResult = 1;
Exit0:
    return nResult;
}

int NyClientReport::_GetDirectXVersionInfo(std::string* pstrRetInfo)
{
    int nResult = 0;
    RVLOG_PROCESS_ERROR(pstrRetInfo);
    nResult = _GetDirectXText(this, &NyClientReport::_GetDxDiagVersionInfo, &NyClientReport::_GetDxVersionInfoInRegister,
                              pstrRetInfo);
Exit0:
    return nResult;
}

int NyClientReport::_GetDirectXVersionInfoEx(std::string* pstrRetInfo)
{
    if (!pstrRetInfo)
        return 0;
    return _GetDirectXText(this, &NyClientReport::_GetDxDiagVersionInfoEx,
                           &NyClientReport::_GetDxVersionInfoInRegister, pstrRetInfo);
}

int NyClientReport::_GetDxDiagVersionInfo(std::string* pstrRetInfo)
{
    return _NameVersion(_ReadDxDiagFileVersion, s_aDxDiagRows, sizeof(s_aDxDiagRows) / sizeof(s_aDxDiagRows[0]),
                        pstrRetInfo);
}

int NyClientReport::_GetDxDiagVersionInfoEx(std::string* pstrRetInfo)
{
    int nResult = 0;
    int bFound = 0;
    std::string strValue;
    int nLen = 0;
    char szPropValue[255];

    RVLOG_PROCESS_ERROR(pstrRetInfo);
    // Without a diagnostics provider there is nothing to ask.
    if (!Pf_GetDxDiagDirectXVersion(&strValue, &bFound))
        goto Exit0;
    if (bFound) {
        nLen = (int)std::min<size_t>(strValue.size(), 0x7FFFFFFF);
        RVLOG_PROCESS_ERROR(nLen < _countof(szPropValue));
        *pstrRetInfo = strValue;
    } else {
        pstrRetInfo->clear();
    }
    nResult = 1;
Exit0:
    return nResult;
}

int NyClientReport::_GetDxVersionInfoInRegister(std::string* pstrRetInfo)
{
    return _NameVersion(_ReadRegisterVersion, s_aRegisterRows, sizeof(s_aRegisterRows) / sizeof(s_aRegisterRows[0]),
                        pstrRetInfo);
}

int NyClientReport::_IsDx9Installed()
{
    Rv_VersionNumber RegisterVersion;
    const char* pszText = nullptr;
    // The DirectX 9 rows are the last five of the registry table.
    const size_t uRows = sizeof(s_aRegisterRows) / sizeof(s_aRegisterRows[0]);
    if (!_ReadRegisterVersion(&RegisterVersion))
        return 0;
    return _FindRow(RegisterVersion, s_aRegisterRows + uRows - 5, 5, &pszText);
}

int NyClientReport::_IsDx11Installed()
{
    int nResult = 0;
    int nRetCode = 0;
    Rv_VersionNumber FileVersion;
    Rv_VersionNumber Dx11Version;

    nRetCode = _ReadDxDiagFileVersion(&FileVersion);
    RVLOG_PROCESS_ERROR(nRetCode);
    nRetCode = Dx11Version.ParseString(s_szDx11Version);
    RVLOG_PROCESS_ERROR(nRetCode && "DxVersion.ParseString()");
    nResult = FileVersion >= Dx11Version;
Exit0:
    return nResult;
}
