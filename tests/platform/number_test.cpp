// atoi-like conversion of decimal texts.
#include "platform/number.h"

#include <gtest/gtest.h>

TEST(AtoI, LikeTheRuntimeWithSaturation)
{
    struct Case {
        const char* cszText;
        int nValue;
    } aCases[] = {
        {"42", 42},       {"  -17", -17},    {"+8", 8},       {"12abc", 12},
        {"abc", 0},       {"", 0},           {"0x10", 0},     {"2147483647", 2147483647},
        {"99999999999", 2147483647},         {"-2147483648", -2147483647 - 1},
        {"-99999999999", -2147483647 - 1},  {"\t 5 6", 5},
    };
    for (const Case& c : aCases)
        EXPECT_EQ(c.nValue, Pf_AtoI(c.cszText)) << c.cszText;
}
