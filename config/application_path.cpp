// The application path and its "laptop" adjustment.
#include "config/application_path.h"

#include "foundation/log.h"
#include "platform/file.h"
#include "platform/path.h"

static size_t _LastSeparator(const std::string& str)
{
    return str.find_last_of("\\/");
}

int Rv_CutAfterLastSeparator(const std::string& strPath, std::string* pstrRetFolder)
{
    size_t uPos = _LastSeparator(strPath);
    if (uPos == std::string::npos)
        return 0;
    *pstrRetFolder = strPath.substr(0, uPos + 1);
    return 1;
}

static std::string s_strApplicationNameForTest;

void Rv_SetApplicationNameForTest(const std::string& strPath)
{
    s_strApplicationNameForTest = strPath;
}

int Rv_GetApplicationName(std::string* pstrRetPath)
{
    int nResult = 0;
    std::string strPath = s_strApplicationNameForTest;
    if (strPath.empty())
        RVLOG_PROCESS_ERROR(Pf_GetExecutablePath(&strPath));
    RVLOG_PROCESS_ERROR(strPath.size() > 0 && strPath.size() < 260);
    *pstrRetPath = strPath;
    nResult = 1;
Exit0:
    return nResult;
}

int Rv_AdjustApplicationPath(std::string* pstrPath)
{
    int nResult = 0;
    size_t uFilePos = 0;
    size_t uFolderPos = 0;
    std::string strFolder;
    std::string strFileName;
    std::string strParent;
    std::string strWorkPath;
    std::string strNewPath;

    RVLOG_PROCESS_ERROR(pstrPath);
    uFilePos = _LastSeparator(*pstrPath);
    RVLOG_PROCESS_ERROR(uFilePos != std::string::npos);
    strFolder = pstrPath->substr(0, uFilePos);
    strFileName = pstrPath->substr(uFilePos + 1);
    uFolderPos = _LastSeparator(strFolder);
    RVLOG_PROCESS_ERROR(uFolderPos != std::string::npos);
    RVLOG_PROCESS_SUCCESS(!Pf_StrCaseEqual(strFolder.substr(uFolderPos + 1), "laptop"));

    strParent = strFolder.substr(0, uFolderPos + 1);
    strWorkPath = strParent + "zhcn";
    RVLOG_PROCESS_ERROR(strWorkPath.size() > 0 && strWorkPath.size() < 260);
    RVLOG_PROCESS_ERROR(Pf_SetCurrentDir(strWorkPath));
    strNewPath = strWorkPath + pstrPath->substr(uFilePos, 1) + strFileName;
    RVLOG_PROCESS_ERROR(strNewPath.size() > 0 && strNewPath.size() < 259);
    *pstrPath = strNewPath;
Exit1:
    nResult = 1;
Exit0:
    return nResult;
}
