// Counting processes by image path over the platform's process list.
#include "foundation/process_count.h"

#include "platform/path.h"
#include "platform/process_list.h"

#include <vector>

int Rv_GetProcessCount(const char* cszExeName, unsigned* puRetCount)
{
    std::vector<Pf_ProcessEntry> vecProcesses;
    std::string strImage;
    unsigned uCount = 0;
    if (!puRetCount)
        return 0;
    *puRetCount = 0;
    if (!cszExeName || !cszExeName[0])
        return 0;
    if (!Pf_ListProcesses(&vecProcesses))
        return 0;
    strImage = Pf_ImagePathOf(cszExeName);
    for (const Pf_ProcessEntry& process : vecProcesses) {
        if (Pf_StrCaseEqual(process.strImagePath, strImage) || Pf_StrCaseEqual(process.strImagePath, cszExeName))
            ++uCount;
    }
    *puRetCount = uCount;
    return 1;
}
