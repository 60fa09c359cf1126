// The reader of outside data sources: names from the update file, the update
// file itself as a source, base offsets, and refusals.
#include "package/data_source_file.h"

#include "package/wide_string.h"
#include "platform/text.h"
#include "tests/support/package_log_capture.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {
RVPK_DATA_SOURCE_FILE_INFO MakeInfo(uint32_t uId, uint32_t bItself, const std::u16string& strName, uint64_t ullBase)
{
    RVPK_DATA_SOURCE_FILE_INFO Info;
    memset(&Info, 0, sizeof(Info));
    Info.uDataSourceId = uId;
    Info.uIsUpdateFileItself = bItself;
    Rv_WriteFixedString(Info.szFileName, 64, strName);
    Info.ullBaseOffset = ullBase;
    return Info;
}
}

TEST(DataSourceFileReader, ReadsFromNamedSourcesAndTheUpdateFileItself)
{
    Rv_TestTempDir Dir;
    Rv_TestPackageLog Log;
    Rv_TestWriteFile(Dir.File("src.bin"), "0123456789abcdef");
    Rv_TestWriteFile(Dir.File("update.pak"), "HEADERpayload");
    std::u16string strFolder = Pf_Utf8ToUtf16(Dir.Path());
    std::u16string strUpdate = Pf_Utf8ToUtf16(Dir.File("update.pak"));
    RVPK_DATA_SOURCE_FILE_INFO_MAP Map = {{1, MakeInfo(1, 0, u"src.bin", 4)}, {7, MakeInfo(7, 1, u"ignored", 6)}};
    Rv_DataSourceFileReader Reader;
    ASSERT_TRUE(Reader.Init(Map, strUpdate.c_str(), strFolder.c_str()));
    char szBuffer[8] = {};
    ASSERT_TRUE(Reader.ReadData(1, 2, 3, szBuffer));
    EXPECT_EQ(std::string(szBuffer, 3), "678");
    ASSERT_TRUE(Reader.ReadData(7, 0, 7, szBuffer));
    EXPECT_EQ(std::string(szBuffer, 7), "payload");
    EXPECT_FALSE(Reader.ReadData(7, 1, 7, szBuffer));        // past the end
    EXPECT_FALSE(Reader.ReadData(2, 0, 1, szBuffer));        // unknown id
    EXPECT_FALSE(Reader.ReadData(1, 0, 0, szBuffer));
    EXPECT_FALSE(Reader.ReadData(1, UINT64_MAX - 2, 1, szBuffer));   // the position would wrap
    EXPECT_TRUE(Reader.Uninit());
    Rv_DataSourceFileReader Empty;
    EXPECT_TRUE(Empty.Init({}, nullptr, nullptr));
}

TEST(DataSourceFileReader, OpensSourcesInSubFoldersOfTheWorkingFolder)
{
    Rv_TestTempDir Dir;
    Rv_TestPackageLog Log;
    Rv_TestWriteFile(Dir.File("sub/deeper/inner.bin"), "0123456789");
    std::u16string strFolder = Pf_Utf8ToUtf16(Dir.Path());
    for (const std::u16string& strName : {std::u16string(u"sub/deeper/inner.bin"), std::u16string(u"sub\\deeper\\inner.bin")}) {
        Rv_DataSourceFileReader Reader;
        ASSERT_TRUE(Reader.Init({{1, MakeInfo(1, 0, strName, 2)}}, nullptr, strFolder.c_str())) << Log.All();
        char szBuffer[4] = {};
        ASSERT_TRUE(Reader.ReadData(1, 1, 3, szBuffer));
        EXPECT_EQ("345", std::string(szBuffer, 3));
    }
}

TEST(DataSourceFileReader, RefusesNamesThatLeaveTheFolderOrHaveNoEnd)
{
    Rv_TestTempDir Dir;
    Rv_TestPackageLog Log;
    Rv_TestTempDir Outside;
    Rv_TestWriteFile(Dir.File("ok.bin"), "data");
    Rv_TestWriteFile(Dir.File("sub/inner.bin"), "data");
    std::u16string strFolder = Pf_Utf8ToUtf16(Dir.Path());
    RVPK_DATA_SOURCE_FILE_INFO Unterminated = MakeInfo(2, 0, u"ok.bin", 0);
    for (char16_t& c : Unterminated.szFileName)
        c = u'a';
    std::u16string aNames[] = {u"../ok.bin",  u"sub/../../ok.bin", u"sub//inner.bin", u"C:\\ok.bin", u"\\ok.bin",
                               Pf_Utf8ToUtf16(Dir.File("ok.bin")), u"", u"missing.bin"};
    for (const std::u16string& strName : aNames) {
        Rv_DataSourceFileReader Reader;
        RVPK_DATA_SOURCE_FILE_INFO_MAP Map = {{1, MakeInfo(1, 0, u"ok.bin", 0)}, {2, MakeInfo(2, 0, strName, 0)}};
        EXPECT_FALSE(Reader.Init(Map, nullptr, strFolder.c_str())) << Pf_Utf16ToUtf8(strName);
        char c = 0;
        EXPECT_FALSE(Reader.ReadData(1, 0, 1, &c));   // everything opened was closed again
    }
    Rv_DataSourceFileReader Reader;
    EXPECT_FALSE(Reader.Init({{2, Unterminated}}, nullptr, strFolder.c_str()));
    EXPECT_TRUE(Log.Has("szFileName terminated"));
    EXPECT_TRUE(Log.Has("Error: open file failed. szDataSourceFilePath = " + Dir.File("missing.bin")));
}
