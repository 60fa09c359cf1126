// The computer name from the host name, the shared data folder fixed or
// taken from the simulated machine.
#include "platform/machine_facts.h"

#include "platform/file.h"
#include "platform/sim.h"

#include <unistd.h>

enum { PF_MAX_COMPUTER_NAME = 260 };

int Pf_GetComputerName(std::string* pstrRetName)
{
    std::string strFact;
    char szName[PF_MAX_COMPUTER_NAME + 1] = {};
    if (!pstrRetName)
        return 0;
    if (Pf_SimRead("computer_name", &strFact)) {
        if (strFact.size() > PF_MAX_COMPUTER_NAME)
            return 0;
        *pstrRetName = strFact;
        return 1;
    }
    if (gethostname(szName, PF_MAX_COMPUTER_NAME) != 0)
        return 0;
    szName[PF_MAX_COMPUTER_NAME] = '\0';
    *pstrRetName = szName;
    return 1;
}

int Pf_GetCommonAppDataDir(std::string* pstrRetDir)
{
    std::string strDir = "/var/lib";
    std::string strFact;
    if (!pstrRetDir)
        return 0;
    if (Pf_SimRead("common_app_data", &strFact) && !strFact.empty())
        strDir = strFact;
    while (strDir.size() > 1 && (strDir.back() == '/' || strDir.back() == '\\'))
        strDir.pop_back();
    if (!Pf_DirExists(strDir) && !Pf_CreateDirChain(strDir))
        return 0;
    *pstrRetDir = strDir;
    return 1;
}
