// Service addresses from the environment or the simulated machine.
#include "platform/service_setting.h"

#include "platform/sim.h"

#include <cctype>
#include <cstdlib>

int Pf_ReadServiceSetting(const char* cszName, std::string* pstrRetValue)
{
    if (!cszName || !*cszName || !pstrRetValue)
        return 0;
    std::string strVariable = "RV_";
    for (const char* p = cszName; *p; ++p)
        strVariable += (char)toupper((unsigned char)*p);
    const char* cszValue = getenv(strVariable.c_str());
    if (cszValue && *cszValue) {
        *pstrRetValue = cszValue;
        return 1;
    }
    return Pf_SimRead(cszName, pstrRetValue);
}
