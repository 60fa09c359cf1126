// Reading an executable's file version through its version information.
#include "foundation/file_version.h"

#include "foundation/log.h"
#include "platform/file.h"
#include "platform/version_info.h"

#include <cstdio>

int Rv_GetApplicationFileVersionNumber(const char* cszFileName, std::string* pstrRetVersionNumber)
{
    int nResult = 0;
    int nRetCode = 0;
    unsigned uInfoSize = 0;
    std::string strInfoBlock;
    unsigned uLanguage = 0;
    unsigned uCodePage = 0;
    char szQuery[128];
    std::string strVersion;

    RVLOG_PROCESS_ERROR(cszFileName && cszFileName[0]);
    RVLOG_PROCESS_ERROR(pstrRetVersionNumber);

    uInfoSize = Pf_GetFileVersionInfoSize(cszFileName);
    RVLOG_PROCESS_ERROR(uInfoSize > 0);
    strInfoBlock.reserve(uInfoSize);
    nRetCode = Pf_GetFileVersionInfo(cszFileName, &strInfoBlock);
    RVLOG_PROCESS_ERROR(nRetCode && "GetFileVersionInfo()");

    nRetCode = Pf_VerQueryTranslation(strInfoBlock, &uLanguage, &uCodePage);
    RVLOG_PROCESS_ERROR(nRetCode && "VerQueryValue(Translation)");

    nRetCode = snprintf(szQuery, sizeof(szQuery), "\\StringFileInfo\\%04x%04x\\FileVersion", uLanguage, uCodePage);
    RVLOG_PROCESS_ERROR(nRetCode > 0 && nRetCode < (int)sizeof(szQuery));
    nRetCode = Pf_VerQueryValue(strInfoBlock, szQuery, &strVersion);
    RVLOG_PROCESS_ERROR(nRetCode && "VerQueryValue(FileVersion)");

    *pstrRetVersionNumber = strVersion;
    nResult = 1;
Exit0:
    if (!nResult)
        RvLog_Write(RVLOG_DEBUG, "Failed to get version number for file `%s`, Error code: %d.",
                    cszFileName ? cszFileName : "", Pf_GetLastError());
    return nResult;
}
