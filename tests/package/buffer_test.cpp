// The memory buffer: size, reference counting, the failing query.
#include "package/buffer.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(Buffer, SizeCountsAndQuery)
{
    IRv_Buffer* piBuffer = nullptr;
    ASSERT_EQ(Rv_CreateBuffer(100, &piBuffer), S_OK);
    ASSERT_NE(piBuffer, nullptr);
    EXPECT_EQ(piBuffer->GetSize(), 100u);
    memset(piBuffer->GetData(), 0xAB, 100);
    void* pvOut = &pvOut;
    EXPECT_EQ(piBuffer->QueryInterface(Rv_GUID{}, &pvOut), E_FAIL);
    EXPECT_EQ(pvOut, &pvOut);   // untouched
    EXPECT_EQ(piBuffer->AddRef(), 2u);
    EXPECT_EQ(piBuffer->Release(), 1u);
    EXPECT_EQ(piBuffer->Release(), 0u);   // freed; ASan would see a leak otherwise

    EXPECT_EQ(Rv_CreateBuffer(1, nullptr), E_FAIL);
    IRv_Buffer* piEmpty = nullptr;
    ASSERT_EQ(Rv_CreateBuffer(0, &piEmpty), S_OK);
    EXPECT_EQ(piEmpty->GetSize(), 0u);
    piEmpty->Release();
}
