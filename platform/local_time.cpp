// Local time to UTC through the C library's time-zone rules.
#include "platform/local_time.h"

#include <ctime>

int Pf_LocalTimeToUnix(const Pf_SYSTEMTIME& localTime, int64_t* pllRetSeconds)
{
    if (!pllRetSeconds)
        return 0;
    struct tm tmLocal = {};
    tmLocal.tm_year = localTime.nYear - 1900;
    tmLocal.tm_mon = localTime.nMonth - 1;
    tmLocal.tm_mday = localTime.nDay;
    tmLocal.tm_hour = localTime.nHour;
    tmLocal.tm_min = localTime.nMinute;
    tmLocal.tm_sec = localTime.nSecond;
    tmLocal.tm_isdst = -1;
    time_t tSeconds = mktime(&tmLocal);
    if (tSeconds == (time_t)-1)
        return 0;
    *pllRetSeconds = (int64_t)tSeconds;
    return 1;
}
