// Reading and writing the game's per-version-type registry values.
#include "foundation/registry_value.h"

#include "foundation/log.h"
#include "platform/registry.h"

#include <cstdio>

static const char s_szGameKey[] = "SOFTWARE\\Tervana\\QV7\\";

// The key of a version type in a buffer of 260 characters; a longer one fails.
static int _BuildKeyPath(const char* cszVersionType, char (&szRetKeyPath)[260])
{
    int nLen = snprintf(szRetKeyPath, sizeof(szRetKeyPath), "%s%s", s_szGameKey, cszVersionType);
    return nLen > 0 && nLen < (int)sizeof(szRetKeyPath);
}

int Rv_GetStringValueFromRegister(const char* cszVersionType, const char* cszKeyName, char* pszRetBuffer,
                                  unsigned uBufferSize)
{
    int nResult = 0;
    long nRetCode = 0;
    char szKeyPath[260];
    Pf_RegKey key;

    RVLOG_PROCESS_ERROR(cszVersionType && cszVersionType[0]);
    RVLOG_PROCESS_ERROR(cszKeyName);
    RVLOG_PROCESS_ERROR(pszRetBuffer && uBufferSize > 0);
    pszRetBuffer[0] = '\0';
    RVLOG_PROCESS_ERROR(_BuildKeyPath(cszVersionType, szKeyPath));

    nRetCode = key.Open(PF_HKEY_LOCAL_MACHINE, szKeyPath);
    if (nRetCode != ERROR_SUCCESS)
        goto Exit0;     // no key, nothing installed: not worth a line

    nRetCode = key.QueryString(cszKeyName, pszRetBuffer, uBufferSize);
    RVLOG_PROCESS_ERROR(nRetCode == ERROR_SUCCESS);

    nResult = 1;
Exit0:
    key.Close();
    return nResult;
}

int Rv_SetStringValueToRegister(const char* cszVersionType, const char* cszKeyName, const char* cszValue)
{
    int nResult = 0;
    long nRetCode = 0;
    char szKeyPath[260];
    Pf_RegKey key;

    RVLOG_PROCESS_ERROR(cszVersionType && cszVersionType[0]);
    RVLOG_PROCESS_ERROR(cszKeyName && cszKeyName[0]);
    RVLOG_PROCESS_ERROR(cszValue && cszValue[0]);
    RVLOG_PROCESS_ERROR(_BuildKeyPath(cszVersionType, szKeyPath));

    nRetCode = key.Create(PF_HKEY_LOCAL_MACHINE, szKeyPath);
    RVLOG_PROCESS_ERROR(nRetCode == ERROR_SUCCESS && "RegOpenKeyEx()");

    nRetCode = key.SetString(cszKeyName, cszValue);
    RVLOG_PROCESS_ERROR(nRetCode == ERROR_SUCCESS && "RegSetValueEx()");

    nResult = 1;
Exit0:
    key.Close();
    return nResult;
}
