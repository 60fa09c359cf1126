// Whole-file reads with a size limit, as the machine probes use them.
#include "platform/file.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <cerrno>

TEST(BoundedRead, ReadsUpToTheLimitAndRefusesMore)
{
    Rv_TestTempDir dir;
    struct Case {
        size_t uSize;
        size_t uLimit;
        int bResult;
    } aCases[] = {
        {0, 0, 1}, {10, 10, 1}, {11, 10, 0}, {100000, 100000, 1}, {100001, 100000, 0}, {70000, 65536, 0},
    };
    for (const Case& c : aCases) {
        std::string strData(c.uSize, 'q');
        Rv_TestWriteFile(dir.File("data"), strData);
        std::string strRead = "kept";
        errno = 0;
        EXPECT_EQ(c.bResult, Pf_ReadWholeFileAtMost(dir.File("data"), c.uLimit, &strRead)) << c.uSize;
        if (c.bResult) {
            EXPECT_TRUE(strRead == strData) << c.uSize;
        } else {
            EXPECT_EQ("kept", strRead);
            EXPECT_EQ(EFBIG, errno);
        }
    }
    std::string strRead;
    EXPECT_FALSE(Pf_ReadWholeFileAtMost(dir.File("missing"), 10, &strRead));
    // Files whose size stat does not tell are bounded too.
    EXPECT_FALSE(Pf_ReadWholeFileAtMost("/dev/zero", 1 << 20, &strRead));
}
