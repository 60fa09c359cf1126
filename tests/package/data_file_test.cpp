// The data files: names, new empty files, reads and writes by global address,
// block moves and batch moves (overlapping ranges too), and the refusals that
// leave every byte as it was.
#include "package/data_file.h"

#include "platform/file.h"
#include "platform/text.h"
#include "tests/support/package_log_capture.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {
const uint64_t s_ullMax = 4096;   // maximum size per data file in most tests

class DataFileTest : public ::testing::Test {
protected:
    std::u16string Folder() const { return Pf_Utf8ToUtf16(m_Dir.Path()); }
    std::string Read(const std::string& strName) const { return Rv_TestReadFile(m_Dir.File(strName)); }
    // Data files pak0.DAT .. pak<n-1>.DAT of s_ullMax bytes; byte i of file f is 'a' + (f * 7 + i) % 26.
    void MakeFiles(uint32_t uCount)
    {
        for (uint32_t f = 0; f < uCount; ++f) {
            std::string strBytes(s_ullMax, '\0');
            for (size_t i = 0; i < s_ullMax; ++i)
                strBytes[i] = (char)('a' + (f * 7 + i) % 26);
            Rv_TestWriteFile(m_Dir.File("pak" + std::to_string(f) + ".DAT"), strBytes);
        }
    }
    // All data files' bytes, in address order.
    std::string Image(uint32_t uCount) const
    {
        std::string strAll;
        for (uint32_t f = 0; f < uCount; ++f)
            strAll += Read("pak" + std::to_string(f) + ".DAT");
        return strAll;
    }
    int OpenWriter(uint32_t uCount) { return m_Writer.Init(Folder().c_str(), u"pak", s_ullMax, uCount); }
    // The first failed check logged since the last Clear, without its line
    // number and function: "RVLOG_PROCESS_ERROR(<expression>)".
    std::string FirstCheck()
    {
        for (const std::string& strLine : m_Log.Lines())
            if (strLine.rfind("RVLOG_", 0) == 0)
                return strLine.substr(0, strLine.find(" at line "));
        return "(no failed check)";
    }

    Rv_TestTempDir m_Dir;
    Rv_TestPackageLog m_Log;
    Rv_DataFileWriter m_Writer;
};
}

TEST_F(DataFileTest, NamesPreferDatAndNewFilesAreAlwaysDat)
{
    char16_t szPath[RVPK_DATA_FILE_PATH_LEN];
    ASSERT_TRUE(Rv_GetDataFilePath(szPath, RVPK_DATA_FILE_PATH_LEN, Folder().c_str(), u"pak", 0));
    EXPECT_EQ(std::u16string(szPath), Folder() + u"/pak0.DATA");
    Rv_TestWriteFile(m_Dir.File("pak0.DAT"), "x");
    ASSERT_TRUE(Rv_GetDataFilePath(szPath, RVPK_DATA_FILE_PATH_LEN, Folder().c_str(), u"pak", 0));
    EXPECT_EQ(std::u16string(szPath), Folder() + u"/pak0.DAT");
    EXPECT_FALSE(Rv_GetDataFilePath(szPath, 10, Folder().c_str(), u"pak", 0));
    EXPECT_TRUE(m_Log.Has("nRetCode != -1"));

    // A legacy-named file opens; an added one is ".DAT", full of 0xCE.
    Rv_TestWriteFile(m_Dir.File("pak0.DAT"), "");
    Pf_DeleteFile(m_Dir.File("pak0.DAT"));
    Rv_TestWriteFile(m_Dir.File("pak0.DATA"), std::string(s_ullMax, 'q'));
    ASSERT_TRUE(OpenWriter(1));
    EXPECT_FALSE(m_Writer.AddEmptyDataFile(2));   // only at the end
    ASSERT_TRUE(m_Writer.AddEmptyDataFile(1));
    EXPECT_EQ(m_Writer.GetFileCount(), 2u);
    ASSERT_TRUE(m_Writer.WriteData(s_ullMax + 1, 2, "zz"));
    ASSERT_TRUE(m_Writer.Uninit());
    std::string strExpected(s_ullMax, (char)0xCE);
    strExpected.replace(1, 2, "zz");
    EXPECT_EQ(Read("pak1.DAT"), strExpected);
    EXPECT_FALSE(Pf_PathExists(m_Dir.File("pak1.DAT.tmp")));
}

TEST_F(DataFileTest, NewEmptyFilesAreFilledWholeWhateverTheirSize)
{
    // 25 MiB: views of 10, 10 and 5 MiB; 20 MiB: no empty last view.
    for (uint64_t ullSize : {(uint64_t)25 << 20, (uint64_t)20 << 20, (uint64_t)1, (uint64_t)65537}) {
        std::string strPath = m_Dir.File("new.DAT");
        ASSERT_TRUE(Rv_CreateEmptyDataFile(Pf_Utf8ToUtf16(strPath).c_str(), ullSize)) << ullSize << m_Log.All();
        std::string strBytes = Rv_TestReadFile(strPath);
        ASSERT_EQ(strBytes.size(), ullSize);
        EXPECT_EQ(strBytes.find_first_not_of((char)0xCE), std::string::npos) << ullSize;
        EXPECT_FALSE(Pf_PathExists(strPath + ".tmp"));
    }
    for (uint64_t ullSize : {(uint64_t)0, (uint64_t)UINT32_MAX + 1})
        EXPECT_FALSE(Rv_CreateEmptyDataFile(Pf_Utf8ToUtf16(m_Dir.File("bad.DAT")).c_str(), ullSize)) << ullSize;
    EXPECT_FALSE(Pf_PathExists(m_Dir.File("bad.DAT")));
}

TEST_F(DataFileTest, ReaderSplitsAddressesAndRefusesRangesOutsideAFile)
{
    MakeFiles(4);
    Rv_DataFileReader Reader;
    ASSERT_TRUE(Reader.Init(Folder().c_str(), u"pak", s_ullMax, 4));
    IRv_Buffer* piBuffer = nullptr;
    ASSERT_TRUE(Reader.ReadRawData(3 * s_ullMax + 5, 10, &piBuffer));
    EXPECT_EQ(std::string((const char*)piBuffer->GetData(), 10), Image(4).substr(3 * s_ullMax + 5, 10));
    piBuffer->Release();
    struct Case {
        uint64_t ullAddress;
        uint64_t ullSize;
        const char* cszCheck;
    } aCases[] = {
        {4 * s_ullMax, 1, "RVLOG_PROCESS_ERROR(uDataFielIndex < m_fpDataFileArray.size())"},   // past the last file
        {s_ullMax - 5, 10, "RVLOG_PROCESS_ERROR(uReadCount == 1)"},                             // would spill into the next file
        {0, s_ullMax + 1, "RVLOG_PROCESS_ERROR(ullSize <= m_ullMaxSizePerDataFile)"},
        {0, 0, "RVLOG_ASSERT_EXIT(ullSize > 0)"},
        {UINT64_MAX, 1, "RVLOG_PROCESS_ERROR(uDataFielIndex < m_fpDataFileArray.size())"},
        // Refused before any buffer is sized.
        {0, (uint64_t)UINT32_MAX + 10, "RVLOG_PROCESS_ERROR(ullSize <= m_ullMaxSizePerDataFile)"},
    };
    for (const Case& c : aCases) {
        piBuffer = nullptr;
        m_Log.Clear();
        EXPECT_FALSE(Reader.ReadRawData(c.ullAddress, c.ullSize, &piBuffer)) << c.ullAddress << "+" << c.ullSize;
        EXPECT_EQ(piBuffer, nullptr);
        EXPECT_EQ(FirstCheck(), c.cszCheck) << c.ullAddress << "+" << c.ullSize << "\n" << m_Log.All();
    }
    Reader.Uninit();
    // Bad settings and a missing file.
    Rv_DataFileReader Other;
    EXPECT_FALSE(Other.Init(Folder().c_str(), u"pak", 0, 4));
    EXPECT_FALSE(Other.Init(Folder().c_str(), u"pak", s_ullMax, 0));
    EXPECT_FALSE(Other.Init(Folder().c_str(), u"../pak", s_ullMax, 1));
    EXPECT_FALSE(Other.Init(Folder().c_str(), u"pak", s_ullMax, 5));
    EXPECT_TRUE(m_Log.Has("Open DATA file error. File Path = " + m_Dir.File("pak4.DATA")));
}

TEST_F(DataFileTest, WriterRefusesBadSettingsAndBadRangesWithoutChangingAByte)
{
    MakeFiles(2);
    const std::string strBefore = Image(2);
    Rv_DataFileWriter Writer;
    EXPECT_FALSE(Writer.Init(Folder().c_str(), u"pak", 0, 2));
    EXPECT_FALSE(Writer.Init(Folder().c_str(), u"pak", (uint64_t)UINT32_MAX + 1, 2));
    EXPECT_FALSE(Writer.Init(Folder().c_str(), u"a/b", s_ullMax, 2));
    EXPECT_FALSE(Writer.Init(Folder().c_str(), u"pak", s_ullMax, 3));
    EXPECT_TRUE(m_Log.Has("ERROR: CreateFileMapping failed. szDataFilePath = "));

    // Each refusal names the first check that failed.
    const char* cszRange = "RVLOG_ASSERT_EXIT(ullOffset + uSize <= m_ullFileSize)";
    const char* cszIndex = "RVLOG_PROCESS_ERROR(uDataFielIndex < m_FileMappingArray.size())";
    const char* cszSrcIndex = "RVLOG_PROCESS_ERROR(uSrcDataFielIndex < m_FileMappingArray.size())";
    const char* cszDestIndex = "RVLOG_PROCESS_ERROR(uDestDataFileIndex < m_FileMappingArray.size())";
    ASSERT_TRUE(OpenWriter(2));
    struct WriteCase {
        int bRemove;
        uint64_t ullAddress, ullSize;
        const char* cszCheck;
    } aWrites[] = {
        {0, s_ullMax - 2, 4, cszRange},   // across two files
        {0, 2 * s_ullMax, 1, cszIndex},
        {0, 0, 0, "RVLOG_ASSERT_EXIT(ullSize > 0)"},
        {1, s_ullMax - 1, 2, cszRange},
        {1, UINT64_MAX - 1, 1, cszIndex},
    };
    for (const WriteCase& c : aWrites) {
        m_Log.Clear();
        EXPECT_FALSE(c.bRemove ? m_Writer.RemoveData(c.ullAddress, c.ullSize) : m_Writer.WriteData(c.ullAddress, c.ullSize, "abcd"));
        EXPECT_EQ(FirstCheck(), c.cszCheck) << c.bRemove << " " << c.ullAddress << "+" << c.ullSize << "\n" << m_Log.All();
    }
    struct MoveCase {
        uint64_t ullSrc, ullSize, ullDest;
        const char* cszCheck;
    } aMoves[] = {
        {100, 50, 120, "RVLOG_ASSERT_EXIT(ullDestAddress >= ullSrcAddress + ullSize || ullDestAddress < ullSrcAddress)"},
        {120, 50, 100, "RVLOG_ASSERT_EXIT(ullSrcAddress >= ullDestAddress + ullSize || ullSrcAddress < ullDestAddress)"},
        {100, 50, 100, "RVLOG_ASSERT_EXIT(ullSrcAddress != ullDestAddress)"},
        {100, 0, 500, "RVLOG_ASSERT_EXIT(ullSize != 0)"},
        {100, 50, 2 * s_ullMax, cszDestIndex},
        {2 * s_ullMax, 1, 0, cszSrcIndex},
        {s_ullMax - 10, 20, 0, cszRange},
        {0, 20, UINT64_MAX - 5, cszDestIndex},
        {s_ullMax - 10, 20, 5 * s_ullMax, cszDestIndex},   // both files are checked before either range
    };
    for (const MoveCase& c : aMoves) {
        m_Log.Clear();
        EXPECT_FALSE(m_Writer.MoveDataBlock(c.ullSrc, c.ullSize, c.ullDest)) << c.ullSrc << " " << c.ullDest;
        EXPECT_EQ(FirstCheck(), c.cszCheck) << c.ullSrc << " " << c.ullSize << " " << c.ullDest << "\n" << m_Log.All();
    }
    struct BatchCase {
        std::vector<RVPK_MOVE_DATA_BLOCK> vecMoves;
        const char* cszCheck;
    } aBatches[] = {
        {{{0, 100, 10}, {200, 2 * s_ullMax, 10}}, cszDestIndex},
        {{{0, 100, 10}, {300, 300, 10}}, "RVLOG_PROCESS_ERROR(itMoveDataItem->ullSrcAddress != itMoveDataItem->ullDestAddress)"},
        // A move of nothing is refused like a single one, whatever its addresses.
        {{{0, 100, 10}, {1000, 999999999, 0}}, "RVLOG_PROCESS_ERROR(ullSize != 0)"},
        {{{0, 10, 0}, {20, 40, 5}}, "RVLOG_PROCESS_ERROR(ullSize != 0)"},
        // Every source is checked before any destination.
        {{{100, 5 * s_ullMax, 10}, {3 * s_ullMax, 0, 10}}, cszSrcIndex},
        {{{0, 100, 10}, {s_ullMax - 5, 200, 10}}, cszRange},
    };
    for (const BatchCase& c : aBatches) {
        m_Log.Clear();
        EXPECT_FALSE(m_Writer.BatchMoveMoveDataBlock(c.vecMoves));
        EXPECT_EQ(FirstCheck(), c.cszCheck) << m_Log.All();
    }
    ASSERT_TRUE(m_Writer.Uninit());
    EXPECT_EQ(Image(2), strBefore);
}

TEST_F(DataFileTest, WritesRemovalsAndMovesLandAtTheirAddresses)
{
    MakeFiles(3);
    std::string strModel = Image(3);
    ASSERT_TRUE(OpenWriter(3));
    ASSERT_TRUE(m_Writer.WriteData(s_ullMax + 10, 5, "HELLO"));
    strModel.replace(s_ullMax + 10, 5, "HELLO");
    ASSERT_TRUE(m_Writer.RemoveData(2 * s_ullMax + 100, 300));
    strModel.replace(2 * s_ullMax + 100, 300, std::string(300, (char)0xCE));
    // A move across files: the destination gets the bytes, the source reads 0xCE.
    ASSERT_TRUE(m_Writer.MoveDataBlock(s_ullMax + 8, 10, 50));
    strModel.replace(50, 10, strModel.substr(s_ullMax + 8, 10));
    strModel.replace(s_ullMax + 8, 10, std::string(10, (char)0xCE));
    ASSERT_TRUE(m_Writer.SyncDataFiles());
    ASSERT_TRUE(m_Writer.Uninit());
    EXPECT_EQ(Image(3), strModel);

    Rv_DataFileReader Reader;
    ASSERT_TRUE(Reader.Init(Folder().c_str(), u"pak", s_ullMax, 3));
    IRv_Buffer* piBuffer = nullptr;
    ASSERT_TRUE(Reader.ReadRawData(50, 10, &piBuffer));
    EXPECT_EQ(std::string((const char*)piBuffer->GetData(), 10), strModel.substr(50, 10));
    piBuffer->Release();
}

TEST_F(DataFileTest, BatchMovesTakeEffectAllAtOnce)
{
    struct Case {
        const char* cszName;
        std::vector<RVPK_MOVE_DATA_BLOCK> vecMoves;
    } aCases[] = {
        {"disjoint", {{100, 2000, 50}, {s_ullMax, 3000, 20}}},
        {"chain A->B->C", {{0, 100, 100}, {100, 200, 100}}},
        {"compaction to the left", {{100, 50, 200}, {300, 250, 200}, {500, 450, 100}}},
        {"shift right onto itself", {{0, 10, 500}}},
        {"swap", {{0, 1000, 100}, {1000, 0, 100}}},
        {"cross-file chain", {{s_ullMax, 0, 64}, {0, s_ullMax + 32, 64}}},
    };
    for (const Case& c : aCases) {
        MakeFiles(2);
        std::string strBefore = Image(2);
        // All at once: destinations get the bytes their sources held before
        // the batch; source bytes no destination covers read 0xCE.
        std::string strModel = strBefore;
        std::vector<bool> vecCovered(strModel.size(), false);
        for (const RVPK_MOVE_DATA_BLOCK& Move : c.vecMoves)
            for (uint64_t i = 0; i < Move.ullSize; ++i)
                vecCovered[Move.ullDestAddress + i] = true;
        for (const RVPK_MOVE_DATA_BLOCK& Move : c.vecMoves)
            for (uint64_t i = 0; i < Move.ullSize; ++i)
                if (!vecCovered[Move.ullSrcAddress + i])
                    strModel[Move.ullSrcAddress + i] = (char)0xCE;
        for (const RVPK_MOVE_DATA_BLOCK& Move : c.vecMoves)
            strModel.replace(Move.ullDestAddress, Move.ullSize, strBefore.substr(Move.ullSrcAddress, Move.ullSize));
        Rv_DataFileWriter Writer;
        ASSERT_TRUE(Writer.Init(Folder().c_str(), u"pak", s_ullMax, 2));
        ASSERT_TRUE(Writer.BatchMoveMoveDataBlock(c.vecMoves)) << c.cszName << m_Log.All();
        ASSERT_TRUE(Writer.Uninit());
        EXPECT_EQ(Image(2), strModel) << c.cszName;
    }
}

TEST_F(DataFileTest, OnlyWrittenFilesGetTheCurrentTime)
{
    MakeFiles(3);
    Pf_FILETIME ftOld = Pf_UnixToFileTime(1000000000, 0);
    for (int f = 0; f < 3; ++f)
        ASSERT_TRUE(Pf_SetFileTimes(m_Dir.File("pak" + std::to_string(f) + ".DAT"), nullptr, &ftOld));
    ASSERT_TRUE(OpenWriter(3));
    // File 1 is only a batch-move source, file 2 is not touched.
    ASSERT_TRUE(m_Writer.BatchMoveMoveDataBlock({{s_ullMax + 10, 20, 100}}));
    ASSERT_TRUE(m_Writer.SyncDataFiles());
    ASSERT_TRUE(m_Writer.Uninit());
    for (int f = 0; f < 3; ++f) {
        Pf_FILETIME ftWrite{};
        ASSERT_TRUE(Pf_GetFileTimes(m_Dir.File("pak" + std::to_string(f) + ".DAT"), nullptr, nullptr, &ftWrite));
        int64_t llSeconds = 0;
        uint32_t uNanoseconds = 0;
        Pf_FileTimeToUnix(ftWrite, &llSeconds, &uNanoseconds);
        if (f == 0)
            EXPECT_GT(llSeconds, 1000000000);
        else
            EXPECT_EQ(llSeconds, 1000000000) << f;
    }
    EXPECT_EQ(Read("pak1.DAT").substr(10, 20), std::string(20, (char)0xCE));
}
