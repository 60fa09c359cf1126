// atoi-like decimal conversion with saturation.
#include "platform/number.h"

#include <climits>

int Pf_AtoI(const char* cszText)
{
    if (!cszText)
        return 0;
    const char* p = cszText;
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\f' || *p == '\v')
        ++p;
    bool bNegative = false;
    if (*p == '+' || *p == '-')
        bNegative = *p++ == '-';
    long long llValue = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        llValue = llValue * 10 + (*p - '0');
        if (llValue > (long long)INT_MAX + 1)
            llValue = (long long)INT_MAX + 1;
    }
    if (bNegative)
        return (int)-llValue;
    return llValue > INT_MAX ? INT_MAX : (int)llValue;
}
