// Large buffers: every byte of the asked size is there and starts as zero,
// whatever the size against the huge-page size; sizes the system cannot give
// fail without a signal.
#include "platform/large_buffer.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>

TEST(LargeBuffer, EveryByteOfTheSizeIsThereAndStartsAsZero)
{
    const size_t auSizes[] = {1, 4095, (2u << 20) - 1, 2u << 20, (2u << 20) + 1, (5u << 20) + 3};
    for (size_t uSize : auSizes) {
        Pf_LargeBuffer Buffer;
        ASSERT_TRUE(Buffer.Allocate(uSize)) << uSize;
        EXPECT_EQ(uSize, Buffer.Size());
        size_t uNonZero = 0;
        for (size_t i = 0; i < uSize; i += 4096)
            uNonZero += Buffer.Data()[i] != 0;
        uNonZero += Buffer.Data()[uSize - 1] != 0;
        EXPECT_EQ(0u, uNonZero) << uSize;
        for (size_t i = 0; i < uSize; i += 4096)
            Buffer.Data()[i] = 0xCE;
        Buffer.Data()[uSize - 1] = 0xCE;
    }
}

TEST(LargeBuffer, ImpossibleSizesFailAndKeepWhatWasHeld)
{
    Pf_LargeBuffer Buffer;
    ASSERT_TRUE(Buffer.Allocate(3 << 20));
    unsigned char* pbyHeld = Buffer.Data();
    pbyHeld[(3 << 20) - 1] = 7;
    EXPECT_FALSE(Buffer.Allocate(0));
    EXPECT_FALSE(Buffer.Allocate(SIZE_MAX - 4096));
    EXPECT_EQ(ENOMEM, errno);
    EXPECT_FALSE(Buffer.Allocate((size_t)1 << 60)) << "more than the address space holds";
    EXPECT_EQ(pbyHeld, Buffer.Data());
    EXPECT_EQ(7, Buffer.Data()[(3 << 20) - 1]);
    Buffer.Free();
    EXPECT_EQ(nullptr, Buffer.Data());
    EXPECT_EQ(0u, Buffer.Size());
    Pf_FreeLarge(nullptr, 10);
}
