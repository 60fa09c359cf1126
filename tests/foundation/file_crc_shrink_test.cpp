// Files cut while they are read: the file CRC and the mapping's views give a
// failure, never a fault.
#include "foundation/file_mapping.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

// Another thread cuts the file to nothing and lets it grow back, over and
// over, while the CRC reads it: every call ends with a result or a failure.
TEST(Rv_GetFileCRC, FileCutWhileReadFailsInsteadOfFaulting)
{
    Rv_TestTempDir dir;
    const std::string strPath = dir.File("changing");
    const off_t llSize = 32 << 20;
    int nFd = open(strPath.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0644);
    ASSERT_GE(nFd, 0);
    ASSERT_EQ(0, ftruncate(nFd, llSize));
    std::atomic<bool> bStop{false};
    std::atomic<int> nCuts{0};
    std::thread Cutter([&] {
        while (!bStop) {
            if (ftruncate(nFd, 0) == 0 && ftruncate(nFd, llSize) == 0)
                ++nCuts;
        }
    });
    int nFailed = 0;
    for (int i = 0; i < 40; ++i) {
        uint32_t uCRC = 0;
        if (!Rv_GetFileCRC(strPath.c_str(), &uCRC))
            ++nFailed;
    }
    bStop = true;
    Cutter.join();
    close(nFd);
    EXPECT_GT(nCuts.load(), 0);
    // Left alone, the file has its CRC again.
    uint32_t uCRC = 0;
    EXPECT_TRUE(Rv_GetFileCRC(strPath.c_str(), &uCRC));
    RecordProperty("failed_reads", nFailed);
}

// A range of the current view that the file no longer holds is refused
// before the caller could touch it.
TEST(Rv_FileMapping, RangePastAFileCutUnderTheViewIsRefused)
{
    Rv_TestTempDir dir;
    const std::string strPath = dir.File("f");
    Rv_TestWriteFile(strPath, std::string(4 * 65536, 'x'));
    Rv_FileMapping mapping;
    ASSERT_TRUE(mapping.Init(strPath.c_str()));
    void* pvData = nullptr;
    ASSERT_TRUE(mapping.GetData(0, 4 * 65536, &pvData));
    ASSERT_EQ(0, truncate(strPath.c_str(), 65536));
    EXPECT_FALSE(mapping.GetData(65536, 10, &pvData));
    EXPECT_FALSE(mapping.GetData(0, 65537, &pvData));
    ASSERT_TRUE(mapping.GetData(10, 100, &pvData));
    EXPECT_EQ('x', *(const char*)pvData);
}
