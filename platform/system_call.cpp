// Optional system calls: a small table of the calls this system provides,
// less those the simulated machine says are missing.
#include "platform/system_call.h"

#include "platform/file.h"
#include "platform/os_info.h"
#include "platform/power.h"
#include "platform/sim.h"

#include <cstring>
#include <fcntl.h>
#include <sstream>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int GetFileSizeEx(int hFile, int64_t* pllRetSize)
{
    struct stat st;
    if (!pllRetSize || fstat(hFile, &st) != 0)
        return 0;
    *pllRetSize = (int64_t)st.st_size;
    return 1;
}

int IsWow64Process(int* pbRetWow64)
{
    if (!pbRetWow64)
        return 0;
    *pbRetWow64 = Pf_IsHost64Bit();
    return 1;
}

struct SystemCall {
    const char* cszModule;
    const char* cszName;
    void* pvAddress;
};

const SystemCall s_aCalls[] = {
    {"kernel32.dll", "GetFileSizeEx", (void*)&GetFileSizeEx},
    {"kernel32.dll", "GlobalMemoryStatusEx", (void*)&Pf_GlobalMemoryStatusEx},
    {"kernel32.dll", "IsWow64Process", (void*)&IsWow64Process},
    {"kernel32.dll", "GetSystemTimes", (void*)&Pf_GetSystemTimes},
};

// "kernel32" names the same module as "Kernel32.dll".
bool IsSameModule(const char* cszTable, const char* cszAsked)
{
    size_t uTable = strlen(cszTable);
    size_t uAsked = strlen(cszAsked);
    if (uAsked + 4 == uTable && strcasecmp(cszTable + uAsked, ".dll") == 0)
        return strncasecmp(cszTable, cszAsked, uAsked) == 0;
    return strcasecmp(cszTable, cszAsked) == 0;
}

bool IsMissing(const char* cszName)
{
    std::string strList;
    std::string strLine;
    if (!Pf_SimRead("missing_calls", &strList))
        return false;
    std::istringstream lines(strList);
    while (std::getline(lines, strLine)) {
        while (!strLine.empty() && (strLine.back() == '\r' || strLine.back() == ' '))
            strLine.pop_back();
        if (strLine == cszName)
            return true;
    }
    return false;
}

}  // namespace

void* Pf_GetSystemCall(const char* cszModule, const char* cszName)
{
    if (!cszModule || !cszName)
        return nullptr;
    for (const SystemCall& call : s_aCalls) {
        if (IsSameModule(call.cszModule, cszModule) && strcmp(call.cszName, cszName) == 0)
            return IsMissing(cszName) ? nullptr : call.pvAddress;
    }
    return nullptr;
}

int Pf_OpenExistingForRead(const std::string& strPath)
{
    return Pf_Open(strPath, O_RDONLY);
}

void Pf_CloseFile(int hFile)
{
    if (hFile >= 0)
        close(hFile);
}
