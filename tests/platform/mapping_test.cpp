// File mappings: granularity, bounds against the file's size, read-write views.
#include "platform/mapping.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <unistd.h>

TEST(Pf_Mapping, ReadOnlyViewsAreBoundedByMappingAndFile)
{
    Rv_TestTempDir dir;
    const uint32_t uGranularity = Pf_GetAllocationGranularity();
    ASSERT_EQ(65536u, uGranularity);
    std::string strData(3 * uGranularity + 10, 'a');
    strData[2 * uGranularity] = 'b';
    Rv_TestWriteFile(dir.File("f"), strData);

    Pf_MapFile* pFile = Pf_OpenMapFile(dir.File("f"), 0);
    ASSERT_TRUE(pFile);
    uint64_t ullSize = 0;
    ASSERT_TRUE(Pf_GetMapFileSize(pFile, &ullSize));
    EXPECT_EQ(strData.size(), ullSize);
    EXPECT_FALSE(Pf_CreateMapping(pFile, 1, 0));                  // the file is read-only here
    EXPECT_FALSE(Pf_CreateMapping(pFile, 0, ullSize + 1));        // longer than the file
    Pf_Mapping* pMapping = Pf_CreateMapping(pFile, 0, 0);
    ASSERT_TRUE(pMapping);
    Pf_CloseMapFile(pFile);                                       // the mapping keeps its own

    void* pvView = nullptr;
    ASSERT_TRUE(Pf_MapView(pMapping, 2 * uGranularity, uGranularity + 10, 0, &pvView));
    EXPECT_EQ('b', *(const char*)pvView);
    EXPECT_TRUE(Pf_UnmapView(pvView, uGranularity + 10));

    const struct {
        uint64_t ullOffset;
        size_t uSize;
        int bWritable;
    } aRefused[] = {
        {1, 10, 0},                                   // offset off the granularity
        {0, 0, 0},                                    // empty view
        {0, strData.size() + 1, 0},                   // past the end
        {4ULL * uGranularity, 1, 0},                  // wholly past the end
        {0xFFFFFFFFFFFF0000ULL, 0x20000, 0},          // wraps around
        {0, 10, 1},                                   // writable view of a read-only mapping
    };
    for (const auto& c : aRefused)
        EXPECT_FALSE(Pf_MapView(pMapping, c.ullOffset, c.uSize, c.bWritable, &pvView)) << c.ullOffset << "+" << c.uSize;

    // The file shrinks under the mapping: views past its new end are refused.
    ASSERT_EQ(0, truncate(dir.File("f").c_str(), uGranularity));
    EXPECT_FALSE(Pf_MapView(pMapping, 0, uGranularity + 1, 0, &pvView));
    EXPECT_FALSE(Pf_MapView(pMapping, 2 * uGranularity, 10, 0, &pvView));
    ASSERT_TRUE(Pf_MapView(pMapping, 0, uGranularity, 0, &pvView));
    Pf_UnmapView(pvView, uGranularity);
    // It grows beyond the mapping's size: the mapping keeps its size.
    ASSERT_EQ(0, truncate(dir.File("f").c_str(), 8 * uGranularity));
    EXPECT_FALSE(Pf_MapView(pMapping, 4 * uGranularity, 10, 0, &pvView));
    Pf_CloseMapping(pMapping);

    Rv_TestWriteFile(dir.File("empty"), "");
    pFile = Pf_OpenMapFile(dir.File("empty"), 0);
    ASSERT_TRUE(pFile);
    EXPECT_FALSE(Pf_CreateMapping(pFile, 0, 0));
    Pf_CloseMapFile(pFile);
    EXPECT_FALSE(Pf_OpenMapFile(dir.File("missing"), 0));
    EXPECT_FALSE(Pf_OpenMapFile(dir.Path(), 0));
}

TEST(Pf_Mapping, WritableMappingGrowsTheFileAndWritesThrough)
{
    Rv_TestTempDir dir;
    const uint32_t uGranularity = Pf_GetAllocationGranularity();
    Rv_TestWriteFile(dir.File("f"), "head");
    Pf_MapFile* pFile = Pf_OpenMapFile(dir.File("f"), 1);
    ASSERT_TRUE(pFile);
    Pf_Mapping* pMapping = Pf_CreateMapping(pFile, 1, 2 * uGranularity);
    ASSERT_TRUE(pMapping);
    uint64_t ullSize = 0;
    ASSERT_TRUE(Pf_GetMapFileSize(pFile, &ullSize));
    EXPECT_EQ(2u * uGranularity, ullSize);

    void* pvView = nullptr;
    ASSERT_TRUE(Pf_MapView(pMapping, uGranularity, uGranularity, 1, &pvView));
    memcpy(pvView, "tail", 4);
    EXPECT_TRUE(Pf_FlushView(pvView, uGranularity));
    EXPECT_TRUE(Pf_UnmapView(pvView, uGranularity));
    Pf_CloseMapping(pMapping);
    Pf_CloseMapFile(pFile);

    std::string strData = Rv_TestReadFile(dir.File("f"));
    ASSERT_EQ(2u * uGranularity, strData.size());
    EXPECT_EQ("head", strData.substr(0, 4));
    EXPECT_EQ("tail", strData.substr(uGranularity, 4));
}

TEST(Pf_Mapping, ReadsAndWritesThroughTheFileStayInsideItsCurrentSize)
{
    Rv_TestTempDir dir;
    Rv_TestWriteFile(dir.File("f"), "0123456789");
    Pf_MapFile* pFile = Pf_OpenMapFile(dir.File("f"), 1);
    ASSERT_TRUE(pFile);
    char szBuf[16] = "";
    ASSERT_TRUE(Pf_ReadMapFile(pFile, 2, szBuf, 3));
    EXPECT_EQ("234", std::string(szBuf, 3));
    ASSERT_TRUE(Pf_WriteMapFile(pFile, 8, "AB", 2));
    EXPECT_FALSE(Pf_ReadMapFile(pFile, 8, szBuf, 3));     // the file ends first
    EXPECT_FALSE(Pf_WriteMapFile(pFile, 9, "CD", 2));     // a write never grows the file
    ASSERT_EQ(0, truncate(dir.File("f").c_str(), 4));     // cut under the caller
    EXPECT_FALSE(Pf_ReadMapFile(pFile, 2, szBuf, 3));
    EXPECT_FALSE(Pf_WriteMapFile(pFile, 2, "xyz", 3));
    Pf_CloseMapFile(pFile);
    EXPECT_EQ("0123", Rv_TestReadFile(dir.File("f")));

    pFile = Pf_OpenMapFile(dir.File("f"), 0);
    ASSERT_TRUE(pFile);
    EXPECT_FALSE(Pf_WriteMapFile(pFile, 0, "x", 1));       // opened read-only
    Pf_CloseMapFile(pFile);
}
