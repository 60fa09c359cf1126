// A data file cut by another program while an update moves data in and out
// of it: the writer's calls fail, the process is never killed by a fault.
#include "package/data_file.h"

#include "platform/text.h"
#include "tests/support/package_log_capture.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

TEST(DataFileShrink, MovesOutOfAndIntoAFileBeingCutFailWithoutAFault)
{
    Rv_TestTempDir dir;
    Rv_TestPackageLog log;
    const uint64_t ullMax = 16 << 20;
    const uint64_t ullBlock = 8 << 20;
    for (const char* cszName : {"pak0.DAT", "pak1.DAT"})
        Rv_TestWriteFile(dir.File(cszName), std::string(ullMax, '\xCE'));
    Rv_DataFileWriter writer;
    ASSERT_TRUE(writer.Init(Pf_Utf8ToUtf16(dir.Path()).c_str(), u"pak", ullMax, 2));

    int nFd = open(dir.File("pak0.DAT").c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(nFd, 0);
    std::atomic<bool> bStop{false};
    std::atomic<int> nCuts{0};
    std::thread Cutter([&] {
        while (!bStop) {
            if (ftruncate(nFd, 0) == 0 && ftruncate(nFd, (off_t)ullMax) == 0)
                ++nCuts;
        }
    });
    for (int i = 0; i < 20; ++i) {
        writer.MoveDataBlock(0, ullBlock, ullMax);   // out of the file being cut
        writer.MoveDataBlock(ullMax, ullBlock, 0);   // and into it
    }
    bStop = true;
    Cutter.join();
    close(nFd);
    EXPECT_GT(nCuts.load(), 0);
    // Whole again, the file takes a move as before.
    EXPECT_TRUE(writer.MoveDataBlock(ullMax, ullBlock, 0));
    EXPECT_TRUE(writer.Uninit());
}
