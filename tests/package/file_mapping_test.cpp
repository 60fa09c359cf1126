// Mappings of files outside any package: views at any offset and their
// bounds, the three modes, file information, path resolution, and the caches
// of idle mappings and views.
#include "package/file_mapping.h"

#include "platform/file.h"
#include "platform/mapping.h"
#include "platform/text.h"
#include "tests/support/package_log_capture.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace {
const uint32_t s_uGranularity = 65536;

class FileMappingTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(Rv_CreateOutsidePackageFileManager(nullptr, &m_piManager), S_OK); }
    void TearDown() override { Rv_ComRelease(m_piManager); }

    // A file whose byte i is (i * 7) mod 251.
    std::u16string MakeFile(const std::string& strName, size_t uSize)
    {
        std::string strBytes(uSize, '\0');
        for (size_t i = 0; i < uSize; ++i)
            strBytes[i] = (char)((i * 7) % 251);
        Rv_TestWriteFile(m_Dir.File(strName), strBytes);
        return Pf_Utf8ToUtf16(m_Dir.File(strName));
    }
    static unsigned char Expected(uint64_t ullOffset) { return (unsigned char)((ullOffset * 7) % 251); }

    IRv_FileMapping* Open(const std::u16string& strPath, uint32_t uMode)
    {
        IRv_FileMapping* piMapping = nullptr;
        EXPECT_EQ(m_piManager->CreateFileMapping(strPath.c_str(), uMode, &piMapping), S_OK);
        return piMapping;
    }

    Rv_TestTempDir m_Dir;
    Rv_TestPackageLog m_Log;
    IRv_FileManager* m_piManager = nullptr;
};
}

TEST_F(FileMappingTest, ViewsAtAnyOffsetShowExactlyTheBytesAsked)
{
    const size_t uFileSize = 3 * s_uGranularity + 100;
    IRv_FileMapping* piMapping = Open(MakeFile("a.bin", uFileSize), RV_FILE_MAPPING_MODE_READ_ONLY);
    ASSERT_NE(piMapping, nullptr);
    struct Case {
        uint64_t ullOffset;
        uint32_t uSize;
        uint32_t uExpectedSize;
    } aCases[] = {
        {0, 10, 10},
        {12345, 1000, 1000},                                   // not on the granularity
        {s_uGranularity - 3, 10, 10},                          // across a granularity boundary
        {2 * s_uGranularity + 7, 0, s_uGranularity + 93},      // size 0: the rest of the file
        {uFileSize - 1, 1, 1},
        {0, (uint32_t)uFileSize, (uint32_t)uFileSize},
    };
    for (const Case& c : aCases) {
        IRv_FileBuffer* piView = nullptr;
        ASSERT_EQ(piMapping->MapView(c.ullOffset, c.uSize, &piView), S_OK) << c.ullOffset;
        EXPECT_EQ(piView->GetSize(), c.uExpectedSize);
        const unsigned char* pbyData = (const unsigned char*)piView->GetData();
        for (uint32_t i = 0; i < c.uExpectedSize; i += 97)
            ASSERT_EQ(pbyData[i], Expected(c.ullOffset + i)) << c.ullOffset << "+" << i;
        EXPECT_EQ(pbyData[c.uExpectedSize - 1], Expected(c.ullOffset + c.uExpectedSize - 1));
        void* pvOut = &pvOut;
        EXPECT_EQ(piView->QueryInterface(Rv_GUID{}, &pvOut), E_FAIL);
        EXPECT_EQ(pvOut, &pvOut);
        EXPECT_EQ(piView->Release(), 0u);
    }
    piMapping->Release();
}

TEST_F(FileMappingTest, ViewsOutsideTheFileAreRefused)
{
    const size_t uFileSize = 2 * s_uGranularity;
    IRv_FileMapping* piMapping = Open(MakeFile("a.bin", uFileSize), RV_FILE_MAPPING_MODE_READ_WRITE);
    ASSERT_NE(piMapping, nullptr);
    struct Case {
        uint64_t ullOffset;
        uint32_t uSize;
        const char* cszLogged;
    } aCases[] = {
        {0, (uint32_t)uFileSize + 1, "uSize <= m_ullFileSize"},
        {1, (uint32_t)uFileSize, "ullOffset + uSize <= m_ullFileSize"},
        {uFileSize - 10, 11, "ullOffset + uSize <= m_ullFileSize"},
        {UINT64_MAX - 5, 10, "ullOffset + uSize <= m_ullFileSize"},   // the sum would wrap
        {uFileSize, 0, "ullRemainSize > 0"},                           // nothing left to map
    };
    for (const Case& c : aCases) {
        m_Log.Clear();
        IRv_FileBuffer* piView = nullptr;
        EXPECT_EQ(piMapping->MapView(c.ullOffset, c.uSize, &piView), E_FAIL) << c.ullOffset << "+" << c.uSize;
        EXPECT_EQ(piView, nullptr);
        EXPECT_TRUE(m_Log.Has(c.cszLogged)) << m_Log.All();
    }
    EXPECT_EQ(piMapping->MapView(0, 1, nullptr), E_FAIL);
    piMapping->Release();
}

TEST_F(FileMappingTest, ViewNearFourGibibytesDoesNotWrapIntoASmallView)
{
    // A sparse file above 4 GiB: a view of almost 4 GiB at an offset off the
    // granularity needs more than 32 bits for its aligned size.
    std::string strPath = m_Dir.File("big.bin");
    int nFd = open(strPath.c_str(), O_CREAT | O_RDWR, 0644);
    ASSERT_GE(nFd, 0);
    ASSERT_EQ(ftruncate(nFd, (off_t)5 << 30), 0);
    close(nFd);
    IRv_FileMapping* piMapping = Open(Pf_Utf8ToUtf16(strPath), RV_FILE_MAPPING_MODE_READ_ONLY);
    ASSERT_NE(piMapping, nullptr);
    IRv_FileBuffer* piView = nullptr;
    EXPECT_EQ(piMapping->MapView(s_uGranularity - 1, UINT32_MAX - 100, &piView), E_FAIL);
    EXPECT_EQ(piView, nullptr);
    piMapping->Release();
}

TEST_F(FileMappingTest, ModesDecideWhetherWritesReachTheFile)
{
    std::u16string strPath = MakeFile("a.bin", 1000);
    const std::string strBefore = Rv_TestReadFile(m_Dir.File("a.bin"));
    // Copy-on-write: the caller may write, the file stays as it was.
    IRv_FileMapping* piCopy = Open(strPath, RV_FILE_MAPPING_MODE_WRITE_COPY);
    ASSERT_NE(piCopy, nullptr);
    IRv_FileBuffer* piView = nullptr;
    ASSERT_EQ(piCopy->MapView(10, 20, &piView), S_OK);
    memset(piView->GetData(), 'x', 20);
    EXPECT_EQ(((char*)piView->GetData())[0], 'x');
    piView->Release();
    piCopy->Release();
    EXPECT_EQ(Rv_TestReadFile(m_Dir.File("a.bin")), strBefore);

    // Read-write: the changes reach the file.
    IRv_FileMapping* piWrite = Open(strPath, RV_FILE_MAPPING_MODE_READ_WRITE);
    ASSERT_NE(piWrite, nullptr);
    ASSERT_EQ(piWrite->MapView(0, 5, &piView), S_OK);
    memcpy(piView->GetData(), "hello", 5);
    piView->Release();
    piWrite->Release();
    std::string strAfter = strBefore;
    strAfter.replace(0, 5, "hello");
    EXPECT_EQ(Rv_TestReadFile(m_Dir.File("a.bin")), strAfter);

    // Read-only views read.
    IRv_FileMapping* piRead = Open(strPath, RV_FILE_MAPPING_MODE_READ_ONLY);
    ASSERT_NE(piRead, nullptr);
    ASSERT_EQ(piRead->MapView(0, 5, &piView), S_OK);
    EXPECT_EQ(std::string((const char*)piView->GetData(), 5), "hello");
    piView->Release();
    piRead->Release();
}

TEST_F(FileMappingTest, UnknownModesMissingAndEmptyFilesFail)
{
    std::u16string strPath = MakeFile("a.bin", 100);
    Rv_TestWriteFile(m_Dir.File("empty.bin"), "");
    struct Case {
        std::u16string strPath;
        uint32_t uMode;
    } aCases[] = {
        {strPath, 3},
        {strPath, 0xFFFFFFFF},
        {Pf_Utf8ToUtf16(m_Dir.File("missing.bin")), RV_FILE_MAPPING_MODE_READ_ONLY},
        {Pf_Utf8ToUtf16(m_Dir.File("empty.bin")), RV_FILE_MAPPING_MODE_READ_WRITE},
        {u"", RV_FILE_MAPPING_MODE_READ_ONLY},
    };
    for (const Case& c : aCases) {
        IRv_FileMapping* piMapping = nullptr;
        EXPECT_EQ(m_piManager->CreateFileMapping(c.strPath.c_str(), c.uMode, &piMapping), E_FAIL) << c.uMode;
        EXPECT_EQ(piMapping, nullptr);
    }
    IRv_FileMapping* piMapping = nullptr;
    EXPECT_EQ(m_piManager->CreateFileMapping(nullptr, 1, &piMapping), E_FAIL);
    EXPECT_EQ(m_piManager->CreateFileMapping(strPath.c_str(), 1, nullptr), E_FAIL);
}

TEST_F(FileMappingTest, ViewKeepsItsMappingAliveAndQueriesFail)
{
    IRv_FileMapping* piMapping = Open(MakeFile("a.bin", 5000), RV_FILE_MAPPING_MODE_READ_ONLY);
    ASSERT_NE(piMapping, nullptr);
    void* pvOut = &pvOut;
    EXPECT_EQ(piMapping->QueryInterface(Rv_GUID{1, 2, 3, {4}}, &pvOut), E_FAIL);
    EXPECT_EQ(m_piManager->QueryInterface(Rv_GUID{}, &pvOut), E_FAIL);
    EXPECT_EQ(pvOut, &pvOut);
    EXPECT_EQ(piMapping->AddRef(), 2u);
    EXPECT_EQ(piMapping->Release(), 1u);

    IRv_FileBuffer* piView = nullptr;
    ASSERT_EQ(piMapping->MapView(4000, 10, &piView), S_OK);
    EXPECT_EQ(piMapping->Release(), 1u);   // the view's reference remains
    EXPECT_EQ(((const unsigned char*)piView->GetData())[9], Expected(4009));
    EXPECT_EQ(piView->Release(), 0u);
}

TEST_F(FileMappingTest, FileInfoGivesSizeModeAndTimesInUnixSeconds)
{
    std::u16string strPath = MakeFile("a.bin", 777);
    Pf_FILETIME ftWrite = Pf_UnixToFileTime(1000000000, 500);
    ASSERT_TRUE(Pf_SetFileTimes(m_Dir.File("a.bin"), nullptr, &ftWrite));
    IRv_FileMapping* piMapping = Open(strPath, RV_FILE_MAPPING_MODE_READ_WRITE);
    ASSERT_NE(piMapping, nullptr);
    Rv_FileInfo Info;
    memset(&Info, 0xAB, sizeof(Info));
    ASSERT_EQ(piMapping->GetFileInfo(&Info), S_OK);
    EXPECT_EQ(Info.ullFileSize, 777u);
    EXPECT_EQ(Info.ullLastWriteTime, 1000000000u);
    EXPECT_EQ(Info.uMode, (uint32_t)RV_FILE_MAPPING_MODE_READ_WRITE);
    EXPECT_EQ(Info.uReserved, 0u);
    EXPECT_EQ(piMapping->GetFileInfo(nullptr), E_FAIL);
    piMapping->Release();
}

TEST_F(FileMappingTest, RelativePathsResolveAgainstTheRootOrTheCurrentFolder)
{
    std::string strCurrent;
    ASSERT_TRUE(Pf_GetCurrentDir(&strCurrent));
    struct Case {
        const char16_t* pcszRoot;
        const char16_t* pcszPath;
        std::u16string strExpected;
    } aCases[] = {
        {u"C:/game", u"pakV3/a.DAT", u"C:/game/pakV3/a.DAT"},
        {u"C:/game", u"D:/other/a.DAT", u"D:/other/a.DAT"},
        {u"/srv/game", u"/abs/a.DAT", u"/abs/a.DAT"},
        {u"", u"pakV3/a.DAT", Pf_Utf8ToUtf16(strCurrent) + u"/pakV3/a.DAT"},
        {nullptr, u"a.DAT", Pf_Utf8ToUtf16(strCurrent) + u"/a.DAT"},
    };
    for (const Case& c : aCases) {
        std::u16string strResolved;
        ASSERT_TRUE(Rv_GetOutsidePackageRealPath(c.pcszRoot, c.pcszPath, &strResolved));
        EXPECT_EQ(strResolved, c.strExpected);
    }
    std::u16string strResolved;
    EXPECT_FALSE(Rv_GetOutsidePackageRealPath(u"/root", std::u16string(300, u'a').c_str(), &strResolved));

    // A manager with a root opens relative names inside it.
    MakeFile("inside.bin", 50);
    IRv_FileManager* piRooted = nullptr;
    ASSERT_EQ(Rv_CreateOutsidePackageFileManager(Pf_Utf8ToUtf16(m_Dir.Path()).c_str(), &piRooted), S_OK);
    IRv_FileMapping* piMapping = nullptr;
    ASSERT_EQ(piRooted->CreateFileMapping(u"inside.bin", RV_FILE_MAPPING_MODE_READ_ONLY, &piMapping), S_OK);
    Rv_FileInfo Info;
    ASSERT_EQ(piMapping->GetFileInfo(&Info), S_OK);
    EXPECT_EQ(Info.ullFileSize, 50u);
    piMapping->Release();
    int bExists = -1;
    EXPECT_TRUE(piRooted->IsFileExists(Pf_Utf8ToUtf16(m_Dir.File("inside.bin")).c_str(), &bExists));
    EXPECT_EQ(bExists, 1);
    EXPECT_TRUE(piRooted->IsFileExists(Pf_Utf8ToUtf16(m_Dir.File("nope.bin")).c_str(), &bExists));
    EXPECT_EQ(bExists, 0);
    EXPECT_FALSE(piRooted->IsFileExists(nullptr, &bExists));
    piRooted->Release();
}

TEST_F(FileMappingTest, IdleMappingsAndViewsAreCappedAtEight)
{
    std::u16string strPath = MakeFile("a.bin", 100);
    std::vector<IRv_FileMapping*> vecMappings;
    std::vector<IRv_FileBuffer*> vecViews;
    for (int i = 0; i < 9; ++i) {
        vecMappings.push_back(Open(strPath, RV_FILE_MAPPING_MODE_READ_ONLY));
        ASSERT_NE(vecMappings.back(), nullptr);
        IRv_FileBuffer* piView = nullptr;
        ASSERT_EQ(vecMappings.back()->MapView(i, 1, &piView), S_OK);
        vecViews.push_back(piView);
    }
    for (int i = 0; i < 9; ++i) {
        EXPECT_EQ(((const unsigned char*)vecViews[i]->GetData())[0], Expected(i));
        vecViews[i]->Release();
        vecMappings[i]->Release();
    }
    EXPECT_EQ(Rv_GetIdleFileMappingCount(), 8u);
    EXPECT_EQ(Rv_GetIdleFileBufferCount(), 8u);
    // A recycled mapping works like a new one.
    IRv_FileMapping* piAgain = Open(strPath, RV_FILE_MAPPING_MODE_READ_ONLY);
    ASSERT_NE(piAgain, nullptr);
    EXPECT_EQ(Rv_GetIdleFileMappingCount(), 7u);
    Rv_FileInfo Info;
    ASSERT_EQ(piAgain->GetFileInfo(&Info), S_OK);
    EXPECT_EQ(Info.ullFileSize, 100u);
    piAgain->Release();
}
