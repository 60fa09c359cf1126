// Making a machine identifier from what differs between machines and between
// moments.
#include "telemetry/id_generator.h"

#include "foundation/md5.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "platform/guid.h"
#include "platform/machine_facts.h"
#include "platform/os_info.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

std::string Rv_MachineIdSource()
{
    std::string strSource;
    char szPart[128];
    Pf_GUID guid = {};
    Pf_SYSTEMTIME now = {};
    std::string strComputerName;
    char szNameMD5[33] = {};
    std::string strSystemDir;
    uint64_t ullFree = 0;

    srand((unsigned)time(nullptr));
    snprintf(szPart, sizeof(szPart), "%05ld", (long)(rand() & 0x7FFF));
    strSource += szPart;

    if (Pf_CreateGuid(&guid)) {
        bool bAllZero = guid.Data1 == 0 && guid.Data2 == 0 && guid.Data3 == 0;
        for (uint8_t by : guid.Data4)
            bAllZero = bAllZero && by == 0;
        if (!bAllZero) {
            snprintf(szPart, sizeof(szPart), "%08lX%04X%04x%02X%02X%02X%02X%02X%02X%02X%02X",
                     (unsigned long)guid.Data1, guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2],
                     guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
            strSource += szPart;
        }
    }

    Pf_GetLocalTime(&now);
    snprintf(szPart, sizeof(szPart), "%03d%02d%02d%04d%02d%02d%02d", now.nMilliseconds, now.nMinute, now.nDay,
             now.nYear, now.nHour, now.nSecond, now.nMonth);
    strSource += szPart;

    if (!Pf_GetComputerName(&strComputerName))
        strComputerName.clear();
    MakeBytesMD5(szNameMD5, strComputerName.data(), strComputerName.size());
    strSource += szNameMD5;

    if (!Pf_GetSystemDir(&strSystemDir) || !Pf_GetFreeSpace(strSystemDir, &ullFree))
        ullFree = 0;
    snprintf(szPart, sizeof(szPart), "%010lu", (unsigned long)(uint32_t)ullFree);
    strSource += szPart;
    return strSource;
}

void Rv_GenerateMachineId(std::string* pstrRetId)
{
    char szMD5[33] = {};
    std::string strSource = Rv_MachineIdSource();
    MakeBytesMD5(szMD5, strSource.data(), strSource.size());
    *pstrRetId = szMD5;
}
