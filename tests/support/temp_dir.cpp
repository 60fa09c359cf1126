// Temporary folders, file helpers and shell commands for tests.
#include "tests/support/temp_dir.h"

#include "platform/file.h"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <sys/wait.h>

Rv_TestTempDir::Rv_TestTempDir()
{
    const char* cszBase = getenv("TMPDIR");
    std::string strTemplate = std::string(cszBase && *cszBase ? cszBase : "/tmp") + "/rvt.XXXXXX";
    if (!mkdtemp(strTemplate.data()))
        throw std::runtime_error("mkdtemp failed");
    m_strPath = strTemplate;
}

Rv_TestTempDir::~Rv_TestTempDir()
{
    std::string strCommand = "chmod -R u+rwX '" + m_strPath + "' 2>/dev/null; rm -rf '" + m_strPath + "'";
    int nStatus = system(strCommand.c_str());
    (void)nStatus;
}

void Rv_TestWriteFile(const std::string& strPath, const std::string& strData)
{
    size_t uSlash = strPath.find_last_of('/');
    if (uSlash != std::string::npos && uSlash > 0)
        Pf_CreateDirChain(strPath.substr(0, uSlash));
    FILE* pFile = fopen(strPath.c_str(), "wb");
    if (!pFile)
        throw std::runtime_error("cannot write " + strPath);
    size_t uDone = fwrite(strData.data(), 1, strData.size(), pFile);
    if (fclose(pFile) != 0 || uDone != strData.size())
        throw std::runtime_error("cannot write " + strPath);
}

std::string Rv_TestReadFile(const std::string& strPath)
{
    std::string strData;
    FILE* pFile = fopen(strPath.c_str(), "rb");
    if (!pFile)
        return strData;
    char szBuf[65536];
    size_t uRead;
    while ((uRead = fread(szBuf, 1, sizeof(szBuf), pFile)) > 0)
        strData.append(szBuf, uRead);
    fclose(pFile);
    return strData;
}

std::string Rv_TestRun(const std::string& strCommand, int* pnRetStatus)
{
    std::string strOutput;
    FILE* pPipe = popen(strCommand.c_str(), "r");
    if (!pPipe) {
        if (pnRetStatus)
            *pnRetStatus = -1;
        return strOutput;
    }
    char szBuf[4096];
    size_t uRead;
    while ((uRead = fread(szBuf, 1, sizeof(szBuf), pPipe)) > 0)
        strOutput.append(szBuf, uRead);
    int nStatus = pclose(pPipe);
    if (pnRetStatus)
        *pnRetStatus = WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
    return strOutput;
}
