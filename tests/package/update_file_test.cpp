// The update file reader: operation stream, the two lists, and malformed
// files (hostile counts, unterminated or unsafe names, short files).
#include "package/update_file.h"
#include "platform/text.h"
#include "tests/support/package_builder.h"
#include "tests/support/package_log_capture.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>
#include <cstring>

namespace {
class UpdateFileReaderTest : public ::testing::Test {
protected:
    // Writes the bytes as an update file and opens a reader on it.
    bool Open(const std::string& strBytes)
    {
        Rv_TestWriteFile(m_Dir.File("a.upd"), strBytes);
        return m_Reader.Init(Pf_Utf8ToUtf16(m_Dir.File("a.upd")).c_str()) && m_Reader.BeginRead(&m_Header);
    }
    Rv_TestTempDir m_Dir;
    Rv_TestPackageLog m_Log;
    Rv_UpdateFileReader m_Reader;
    RVPK_UPDATE_FILE_HEADER m_Header;
};

template <class T>
std::string Bytes(const T& Record)
{
    return std::string((const char*)&Record, sizeof(Record));
}
}

TEST_F(UpdateFileReaderTest, WalksOperationsAroundTheLists)
{
    Rv_TestUpdateFileBuilder Builder;
    Builder.uFromDataVersion = 5;
    Builder.uToDataVersion = 6;
    Builder.RemoveData(100, 20);
    Builder.AddData(7, "abc");
    Builder.AddOverwriteSegment(100, 20);
    Builder.AddOverwriteSegment(7, 3);
    Builder.AddSelfDataSource(3, "payload");
    Builder.AddFileDataSource(9, u"sub\\src.bin", 12);
    ASSERT_TRUE(Open(Builder.Build()));
    EXPECT_EQ(RVPK_UPD_SIGNATURE, +m_Header.uSignature);
    EXPECT_EQ(5u, +m_Header.uFromDataVersion);
    EXPECT_EQ(2u, +m_Header.uOperationCount);

    int8_t cType = -1;
    int bNoMore = 1;
    ASSERT_TRUE(m_Reader.GetNextOpeartionType(&cType, &bNoMore));
    EXPECT_EQ(RVPK_OP_REMOVE_DATA, cType);
    EXPECT_FALSE(bNoMore);
    // Reading the lists between operations leaves the stream where it stood.
    std::vector<RVPK_DATA_SEGMENT> vecSegments;
    ASSERT_TRUE(m_Reader.GetBackupDataSegmentRegion(&vecSegments));
    ASSERT_EQ(2u, vecSegments.size());
    EXPECT_EQ(100u, +vecSegments[0].ullAddress);
    EXPECT_EQ(3u, +vecSegments[1].ullSize);
    RVPK_DATA_SOURCE_FILE_INFO_MAP mapSources;
    ASSERT_TRUE(m_Reader.GetDataSourceFileInforMap(&mapSources));
    ASSERT_EQ(2u, mapSources.size());
    EXPECT_EQ(1u, +mapSources[3].uIsUpdateFileItself);
    EXPECT_EQ(12u, +mapSources[9].ullBaseOffset);

    RVPK_DATA_SEGMENT Range;
    ASSERT_TRUE(m_Reader.GetNextData(&Range, sizeof(Range)));
    EXPECT_EQ(100u, +Range.ullAddress);
    EXPECT_EQ(20u, +Range.ullSize);
    ASSERT_TRUE(m_Reader.GetNextOpeartionType(&cType, &bNoMore));
    EXPECT_EQ(RVPK_OP_ADD_DATA, cType);
    ASSERT_TRUE(m_Reader.GetNextData(&Range, sizeof(Range)));
    EXPECT_TRUE(m_Reader.CheckDataAvailable(3));
    char szData[3];
    ASSERT_TRUE(m_Reader.GetNextData(szData, 3));
    EXPECT_EQ("abc", std::string(szData, 3));
    ASSERT_TRUE(m_Reader.GetNextOpeartionType(&cType, &bNoMore));
    EXPECT_TRUE(bNoMore);
    EXPECT_EQ(RVPK_OP_ADD_DATA, cType);   // untouched at the end
    EXPECT_TRUE(m_Reader.EndRead());
}

TEST_F(UpdateFileReaderTest, EmptyStreamAndEmptyLists)
{
    Rv_TestUpdateFileBuilder Builder;
    std::string strBytes = Builder.Build();
    RVPK_UPDATE_FILE_HEADER Header;
    memcpy(&Header, strBytes.data(), sizeof(Header));
    // Offset 0 yields no segments whatever the count; count 0 yields no sources whatever the offset.
    Header.uOverwriteDataSegmentCount = 5;
    Header.ullDataSourceFileListOffset = 12345;
    ASSERT_TRUE(Open(Bytes(Header)));
    std::vector<RVPK_DATA_SEGMENT> vecSegments;
    EXPECT_TRUE(m_Reader.GetBackupDataSegmentRegion(&vecSegments));
    EXPECT_TRUE(vecSegments.empty());
    RVPK_DATA_SOURCE_FILE_INFO_MAP mapSources;
    EXPECT_TRUE(m_Reader.GetDataSourceFileInforMap(&mapSources));
    EXPECT_TRUE(mapSources.empty());
    int8_t cType;
    int bNoMore = 0;
    ASSERT_TRUE(m_Reader.GetNextOpeartionType(&cType, &bNoMore));
    EXPECT_TRUE(bNoMore);
    EXPECT_TRUE(m_Reader.EndRead());
}

TEST_F(UpdateFileReaderTest, EndReadBeforeTheLastOperationFails)
{
    Rv_TestUpdateFileBuilder Builder;
    Builder.RemoveData(0, 1);
    ASSERT_TRUE(Open(Builder.Build()));
    EXPECT_FALSE(m_Reader.EndRead());
    EXPECT_TRUE(m_Log.Has("m_uReadOperationCount == m_Header.uOperationCount"));
}

TEST_F(UpdateFileReaderTest, ShortFilesFailAtTheFirstUnsatisfiedRead)
{
    Rv_TestUpdateFileBuilder Builder;
    EXPECT_FALSE(Open(Builder.Build().substr(0, 255)));
    EXPECT_TRUE(m_Log.Has("uReadCount == 1"));

    Rv_UpdateFileReader Reader;
    Builder.nOperationCountDelta = 1;   // the header promises one operation more than the stream holds
    Rv_TestWriteFile(m_Dir.File("b.upd"), Builder.Build());
    RVPK_UPDATE_FILE_HEADER Header;
    ASSERT_TRUE(Reader.Init(Pf_Utf8ToUtf16(m_Dir.File("b.upd")).c_str()));
    ASSERT_TRUE(Reader.BeginRead(&Header));
    int8_t cType;
    int bNoMore = 0;
    EXPECT_FALSE(Reader.GetNextOpeartionType(&cType, &bNoMore));
    EXPECT_FALSE(Reader.CheckDataAvailable(1));
}

TEST_F(UpdateFileReaderTest, HostileListsAreRefusedBeforeAllocation)
{
    struct Case {
        const char* cszName;
        uint64_t ullSegmentOffset;
        uint32_t uSegmentCount;
        uint64_t ullSourceOffset;
        uint32_t uSourceCount;
        const char* cszLogText;
    } aCases[] = {
        {"segment count 0 with an offset", 256, 0, 0, 0, "RVLOG_PROCESS_ERROR(uReadCount == 1) at line"},
        {"segment count beyond the file", 256, 0xFFFFFFFF, 0, 0, "RVLOG_PROCESS_ERROR(list inside the file)"},
        {"segment offset beyond the file", 0xFFFFFFFFFFFFFF00ULL, 1, 0, 0, "RVLOG_PROCESS_ERROR(list inside the file)"},
        {"source count beyond the file", 0, 0, 256, 0xFFFFFFFF, "RVLOG_PROCESS_ERROR(list inside the file)"},
        {"source offset beyond the file", 0, 0, 1ULL << 62, 1, "RVLOG_PROCESS_ERROR(list inside the file)"},
    };
    for (const Case& c : aCases) {
        Rv_TestUpdateFileBuilder Builder;
        std::string strBytes = Builder.Build() + std::string(400, '\0');
        RVPK_UPDATE_FILE_HEADER Header;
        memcpy(&Header, strBytes.data(), sizeof(Header));
        Header.ullOverwriteDataSegmentListOffset = c.ullSegmentOffset;
        Header.uOverwriteDataSegmentCount = c.uSegmentCount;
        Header.ullDataSourceFileListOffset = c.ullSourceOffset;
        Header.uDataSourceFileCount = c.uSourceCount;
        memcpy(strBytes.data(), &Header, sizeof(Header));
        Rv_TestWriteFile(m_Dir.File("h.upd"), strBytes);
        Rv_UpdateFileReader Reader;
        m_Log.Clear();
        ASSERT_TRUE(Reader.Init(Pf_Utf8ToUtf16(m_Dir.File("h.upd")).c_str()));
        ASSERT_TRUE(Reader.BeginRead(&Header));
        std::vector<RVPK_DATA_SEGMENT> vecSegments;
        RVPK_DATA_SOURCE_FILE_INFO_MAP mapSources;
        EXPECT_FALSE(Reader.GetBackupDataSegmentRegion(&vecSegments) && Reader.GetDataSourceFileInforMap(&mapSources)) << c.cszName;
        EXPECT_TRUE(m_Log.Has(c.cszLogText)) << c.cszName << "\n" << m_Log.All();
    }
}

TEST_F(UpdateFileReaderTest, UnsafeNamesAreRefused)
{
    // Branch names of the header.
    for (const char* cszBranch : {"", "..", "a/b", "..\\x", "C:x"}) {
        Rv_TestUpdateFileBuilder Builder;
        Builder.strBranchName = cszBranch;
        Rv_UpdateFileReader Reader;
        Rv_TestWriteFile(m_Dir.File("n.upd"), Builder.Build());
        RVPK_UPDATE_FILE_HEADER Header;
        ASSERT_TRUE(Reader.Init(Pf_Utf8ToUtf16(m_Dir.File("n.upd")).c_str()));
        EXPECT_FALSE(Reader.BeginRead(&Header)) << cszBranch;
    }
    {
        Rv_TestUpdateFileBuilder Builder;
        std::string strBytes = Builder.Build();
        for (size_t i = 40; i < 168; i += 2)
            strBytes[i] = 'b';   // no terminator
        m_Log.Clear();
        EXPECT_FALSE(Open(strBytes));
        EXPECT_TRUE(m_Log.Has("szBranchName terminated"));
    }
    // Data-source names.
    for (const char16_t* cszName : {u"", u"../x.bin", u"/etc/passwd", u"a\\..\\..\\b", u"C:\\x"}) {
        Rv_TestUpdateFileBuilder Builder;
        Builder.AddFileDataSource(1, cszName, 0);
        Rv_UpdateFileReader Reader;
        Rv_TestWriteFile(m_Dir.File("s.upd"), Builder.Build());
        RVPK_UPDATE_FILE_HEADER Header;
        ASSERT_TRUE(Reader.Init(Pf_Utf8ToUtf16(m_Dir.File("s.upd")).c_str()));
        ASSERT_TRUE(Reader.BeginRead(&Header));
        RVPK_DATA_SOURCE_FILE_INFO_MAP mapSources;
        EXPECT_FALSE(Reader.GetDataSourceFileInforMap(&mapSources)) << Pf_Utf16ToUtf8(cszName);
    }
}

TEST_F(UpdateFileReaderTest, DuplicateDataSourceIdFails)
{
    Rv_TestUpdateFileBuilder Builder;
    Builder.AddSelfDataSource(4, "a");
    Builder.AddSelfDataSource(4, "b");
    ASSERT_TRUE(Open(Builder.Build()));
    RVPK_DATA_SOURCE_FILE_INFO_MAP mapSources;
    EXPECT_FALSE(m_Reader.GetDataSourceFileInforMap(&mapSources));
    EXPECT_TRUE(m_Log.Has("RVLOG_PROCESS_ERROR(ibRetCode.second) at line ")) << m_Log.All();
}

TEST_F(UpdateFileReaderTest, ZeroSizedReadFails)
{
    Rv_TestUpdateFileBuilder Builder;
    ASSERT_TRUE(Open(Builder.Build()));
    char c;
    EXPECT_FALSE(m_Reader.GetNextData(&c, 0));
    EXPECT_TRUE(m_Log.Has("uDataSize > 0"));
}
