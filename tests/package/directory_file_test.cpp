// Directory files: the hash table length, the packed entry fields, loading
// (and refusing malformed files without changing anything), saving in
// hash-bucket order, address moves, the set of a package's branches, empty
// directory files, and saves interrupted by a kill.
#include "package/directory_file.h"
#include "platform/crash_point.h"
#include "platform/file.h"
#include "platform/text.h"
#include "tests/support/package_builder.h"
#include "tests/support/package_log_capture.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <sys/wait.h>
#include <unistd.h>

namespace {
class DirectoryFileTest : public ::testing::Test {
protected:
    std::u16string Folder() const { return Pf_Utf8ToUtf16(m_Dir.Path()); }
    std::string Read(const std::string& strName) const { return Rv_TestReadFile(m_Dir.File(strName)); }
    void Write(const std::string& strName, const std::string& strBytes) const { Rv_TestWriteFile(m_Dir.File(strName), strBytes); }
    bool Exists(const std::string& strName) const { return Pf_PathExists(m_Dir.File(strName)); }
    // Init and Load of "<folder>/<branch>.DIR" with the given width codes.
    int Open(Rv_DirectoryFile* pFile, const char16_t* pcszBranch, uint32_t uHash = 2, uint32_t uAddress = 2, uint32_t uSize = 2) const
    {
        return pFile->Init(Folder().c_str(), pcszBranch, uHash, uAddress, uSize) && pFile->Load();
    }

    Rv_TestTempDir m_Dir;
    Rv_TestPackageLog m_Log;
};

std::string _Le(uint64_t ullValue, unsigned uWidth)
{
    std::string str;
    for (unsigned i = 0; i < uWidth; ++i)
        str.push_back((char)(ullValue >> (8 * i)));
    return str;
}
}

TEST(DirectoryHashTableLen, FollowsTheSinglePrecisionRule)
{
    const struct {
        uint32_t uCount;
        uint32_t uLen;
    } aCases[] = {{1, 1}, {2, 2}, {3, 4}, {4, 5}, {10, 13}, {100, 133}, {1000, 1333},
                   // single precision: 16777216 / 0.75 rounds up to 22369622
                   {16777217, 22369622}};
    for (const auto& Case : aCases) {
        uint32_t uLen = 0;
        ASSERT_TRUE(Rv_GetHashTableLen(Case.uCount, &uLen)) << Case.uCount;
        EXPECT_EQ(Case.uLen, uLen) << Case.uCount;
    }
    uint32_t uLen = 0;
    EXPECT_FALSE(Rv_GetHashTableLen(0, &uLen));
    EXPECT_FALSE(Rv_GetHashTableLen(5, nullptr));
    // The largest counts give lengths beyond 32 bits: refused, not wrapped.
    EXPECT_FALSE(Rv_GetHashTableLen(UINT32_MAX, &uLen));
}

TEST(DirectoryEntryArray, FieldsOfEveryWidthStayInsideTheBuffer)
{
    Rv_TestPackageLog Log;
    RVPK_DirectoryEntryArray Array;
    uint64_t ullSize = 0;
    ASSERT_TRUE(Array.Init(2, 0, 1, 2, &ullSize));
    EXPECT_EQ(28u, ullSize);   // (2 + 4 + 8) * 2
    unsigned char abyBuffer[28] = {};
    EXPECT_FALSE(Array.AttachToBuffer(abyBuffer, 27));
    ASSERT_TRUE(Array.AttachToBuffer(abyBuffer, 28));

    ASSERT_TRUE(Array.SetFileNameHash(1, 0xBEEF));
    ASSERT_TRUE(Array.SetFileAddress(1, 0xDEADBEEF));
    ASSERT_TRUE(Array.SetFileBufferSize(1, 0x0123456789ABCDEFull));
    EXPECT_EQ(_Le(0xBEEF, 2) + _Le(0xDEADBEEF, 4) + _Le(0x0123456789ABCDEFull, 8), std::string((char*)abyBuffer + 14, 14));
    uint64_t ullValue = 0;
    ASSERT_TRUE(Array.GetFileBufferSize(1, &ullValue));
    EXPECT_EQ(0x0123456789ABCDEFull, ullValue);

    // Values too wide for their field, and indexes past the end (also ones
    // whose byte offset would wrap 32 bits), are refused.
    EXPECT_FALSE(Array.SetFileNameHash(0, 0x10000));
    EXPECT_FALSE(Array.SetFileAddress(0, 0x100000000ull));
    EXPECT_FALSE(Array.GetFileNameHash(2, &ullValue));
    EXPECT_FALSE(Array.GetFileBufferSize(2, &ullValue));
    EXPECT_FALSE(Array.GetFileNameHash(0x80000000u, &ullValue));
    EXPECT_TRUE(Log.Has("RVLOG_PROCESS_ERROR(ullValue <= "));

    EXPECT_FALSE(Array.Init(1, 3, 0, 0, &ullSize));
    EXPECT_TRUE(Log.Has("Size type error. SizeType = 3"));
}

TEST(DirectoryEntryArray, SizeOfAHostileCountDoesNotWrap)
{
    RVPK_DirectoryEntryArray Array;
    uint64_t ullSize = 0;
    ASSERT_TRUE(Array.Init(0xFFFFFFFFu, 2, 2, 2, &ullSize));
    EXPECT_EQ(24ull * 0xFFFFFFFFull, ullSize);
}

TEST_F(DirectoryFileTest, RoundTripsInBucketOrderForEveryWidth)
{
    const struct {
        uint32_t uHash, uAddress, uSize;
    } aWidths[] = {{2, 2, 2}, {0, 1, 2}, {1, 0, 0}, {2, 1, 0}, {0, 0, 0}};
    const std::vector<Rv_TestDirEntry> vecEntries = {{9, 100, 1}, {5, 200, 2}, {6, 300, 3}, {0xFFF0, 0xFFFF, 0xFFFF}, {13, 0, 0}};
    for (const auto& W : aWidths) {
        SCOPED_TRACE(testing::Message() << W.uHash << W.uAddress << W.uSize);
        std::string strFile = Rv_TestMakeDirFile("main", 3, vecEntries, W.uHash, W.uAddress, W.uSize);
        memset(strFile.data() + 272, 0x77, 240);   // uninterpreted header bytes survive a save
        Write("main.DIR", strFile);

        Rv_DirectoryFile File;
        ASSERT_TRUE(Open(&File, u"main", W.uHash, W.uAddress, W.uSize));
        ASSERT_EQ(vecEntries.size(), File.GetItemMap().size());
        for (const Rv_TestDirEntry& Entry : vecEntries) {
            const RVPK_DIRECTORY_ENTRY& Loaded = File.GetItemMap().at(Entry.ullHash);
            EXPECT_EQ(Entry.ullAddress, Loaded.ullAddress);
            EXPECT_EQ(Entry.ullSize, Loaded.ullSize);
        }
        EXPECT_EQ(3u, File.GetHeader().uDataVersion);

        ASSERT_TRUE(File.Save(4));
        std::string strExpected = Rv_TestMakeDirFile("main", 4, vecEntries, W.uHash, W.uAddress, W.uSize);
        memset(strExpected.data() + 272, 0x77, 240);
        EXPECT_EQ(strExpected, Read("main.DIR"));
        EXPECT_EQ(1u, Rv_TestSnapshotFolder(m_Dir.Path()).size());   // no temporary left
    }
}

TEST_F(DirectoryFileTest, EntriesStandInBucketOrderAscendingWithinABucket)
{
    Write("main.DIR", Rv_TestMakeDirFile("main", 1, {}));
    Rv_DirectoryFile File;
    ASSERT_TRUE(Open(&File, u"main"));
    // L = 4: buckets 9 -> 1, 5 -> 1, 6 -> 2.
    for (uint64_t ullHash : {9, 6, 5})
        ASSERT_TRUE(File.AddDirectoryItem(ullHash, ullHash * 10, 1));
    ASSERT_TRUE(File.Save(2));
    std::string strEntries = Read("main.DIR").substr(512);
    EXPECT_EQ(_Le(5, 8) + _Le(50, 8) + _Le(1, 8) + _Le(9, 8) + _Le(90, 8) + _Le(1, 8) + _Le(6, 8) + _Le(60, 8) + _Le(1, 8), strEntries);
}

TEST_F(DirectoryFileTest, EmptyFileLoadsEmptyAndSavesAsTheHeaderAlone)
{
    Write("main.DIR", Rv_TestMakeDirFile("main", 1, {}));
    Rv_DirectoryFile File;
    ASSERT_TRUE(Open(&File, u"main"));
    EXPECT_TRUE(File.GetItemMap().empty());
    ASSERT_TRUE(File.Save(7));
    EXPECT_EQ(Rv_TestMakeDirFile("main", 7, {}), Read("main.DIR"));
}

TEST_F(DirectoryFileTest, MalformedFilesAreRefusedAndLeftAlone)
{
    const std::string strGood = Rv_TestMakeDirFile("main", 1, {{5, 1, 2}, {6, 3, 4}});
    auto Patched = [&](size_t uOffset, const std::string& strBytes) {
        std::string str = strGood;
        str.replace(uOffset, strBytes.size(), strBytes);
        return str;
    };
    std::string strNoBranchEnd = strGood;
    for (size_t i = 16; i < 144; i += 2)
        strNoBranchEnd[i] = 'b';
    std::string strNoConfigEnd = strGood;
    for (size_t i = 144; i < 272; i += 2)
        strNoConfigEnd[i] = 'c';
    const std::string strDuplicate = Rv_TestMakeDirFile("main", 1, {{5, 1, 2}}) + _Le(5, 8) + _Le(7, 8) + _Le(8, 8);
    const struct {
        const char* cszName;
        std::string strFile;
        const char* cszLog;
    } aCases[] = {
        {"bad signature", Patched(0, "DIX "), "uSignature == RVPK_DIR_SIGNATURE"},
        {"bad format version", Patched(4, _Le(0x20000, 4)), "uFileFormatVersion == RVPK_VERSION"},
        {"short header", strGood.substr(0, 300), "uReadCount == 1"},
        {"branch name without terminator", strNoBranchEnd, "szBranchName terminated"},
        {"configuration name without terminator", strNoConfigEnd, "szConfigFileName terminated"},
        {"hostile entry count", Patched(12, _Le(0xFFFFFFFF, 4)), "entries within the file"},
        {"one entry more than the file holds", Patched(12, _Le(3, 4)), "entries within the file"},
        {"last entry cut short", strGood.substr(0, strGood.size() - 1), "entries within the file"},
        {"duplicate hash", strGood.substr(0, 512) + strDuplicate.substr(512), "pairRetCode.second"},
    };
    for (const auto& Case : aCases) {
        SCOPED_TRACE(Case.cszName);
        m_Log.Clear();
        Write("main.DIR", Case.strFile);
        Rv_DirectoryFile File;
        EXPECT_FALSE(Open(&File, u"main"));
        EXPECT_TRUE(File.GetItemMap().empty());
        EXPECT_TRUE(m_Log.Has(Case.cszLog)) << m_Log.All();
        EXPECT_EQ(Case.strFile, Read("main.DIR"));
        EXPECT_EQ(1u, Rv_TestSnapshotFolder(m_Dir.Path()).size());
    }
}

TEST_F(DirectoryFileTest, MissingFileIsReported)
{
    Rv_DirectoryFile File;
    EXPECT_FALSE(Open(&File, u"main"));
    EXPECT_TRUE(m_Log.Has("Error: open file failed. m_szFilePath = "));
}

TEST_F(DirectoryFileTest, UnsafeBranchNamesAreRefused)
{
    const char16_t* apcszNames[] = {u"", u"..", u".", u"a/b", u"a\\b", u"C:x", u"0123456789012345678901234567890123456789012345678901234567890123"};
    for (const char16_t* pcszName : apcszNames) {
        Rv_DirectoryFile File;
        EXPECT_FALSE(File.Init(Folder().c_str(), pcszName, 2, 2, 2)) << Pf_Utf16ToUtf8(pcszName);
        EXPECT_FALSE(Rv_CreateEmptyDirectoryFile(Folder().c_str(), pcszName, u"Package.CFG")) << Pf_Utf16ToUtf8(pcszName);
    }
    EXPECT_TRUE(Rv_TestSnapshotFolder(m_Dir.Path()).empty());
}

TEST_F(DirectoryFileTest, ValueTooWideForItsFieldFailsTheSaveAndWritesNothing)
{
    const std::string strOld = Rv_TestMakeDirFile("main", 1, {{5, 1, 2}}, 0, 0, 0);
    Write("main.DIR", strOld);
    Rv_DirectoryFile File;
    ASSERT_TRUE(Open(&File, u"main", 0, 0, 0));
    ASSERT_TRUE(File.AddDirectoryItem(0x10000, 1, 1));
    EXPECT_FALSE(File.Save(2));
    EXPECT_EQ(strOld, Read("main.DIR"));
    EXPECT_EQ(1u, Rv_TestSnapshotFolder(m_Dir.Path()).size());
    EXPECT_EQ(1u, File.GetHeader().uDataVersion);
}

TEST_F(DirectoryFileTest, AddAndModifyCheckWhetherTheHashIsThere)
{
    Write("main.DIR", Rv_TestMakeDirFile("main", 1, {{5, 1, 2}}));
    Rv_DirectoryFile File;
    ASSERT_TRUE(Open(&File, u"main"));
    EXPECT_FALSE(File.AddDirectoryItem(5, 9, 9));
    EXPECT_FALSE(File.ModifyDirectoryItem(6, 9, 9));
    ASSERT_TRUE(File.ModifyDirectoryItem(5, 10, 20));
    ASSERT_TRUE(File.AddDirectoryItem(6, 30, 40));
    ASSERT_TRUE(File.Save(2));
    EXPECT_EQ(Rv_TestMakeDirFile("main", 2, {{5, 10, 20}, {6, 30, 40}}), Read("main.DIR"));
}

TEST_F(DirectoryFileTest, SetLoadsEveryBranchAndSkipsOtherFiles)
{
    Write("main.DIR", Rv_TestMakeDirFile("main", 1, {{1, 100, 1}}));
    Write("extra.dir", Rv_TestMakeDirFile("extra", 1, {{2, 200, 1}}));
    Write("main.DIR.BackupDir", "not a directory file");
    Write("main.DIR.123.tmp", "not a directory file");
    Write("DIR", "no extension");
    Write("pak0.DAT", "data");
    Rv_DirectoryFiles Files;
    ASSERT_TRUE(Files.Init(Folder().c_str(), 2, 2, 2));
    EXPECT_EQ(2u, Files.GetFilePaths().size());
    Rv_DirectoryFile* pFile = nullptr;
    ASSERT_TRUE(Files.GetDirectoryFile(u"extra", &pFile));
    EXPECT_EQ(200u, pFile->GetItemMap().at(2).ullAddress);
    EXPECT_FALSE(Files.GetDirectoryFile(u"other", &pFile));
    EXPECT_FALSE(Files.GetDirectoryFile(u"", &pFile));
    // A branch is loaded once, whatever the case of its name.
    EXPECT_FALSE(Files.Load(Folder().c_str(), u"main"));
    EXPECT_FALSE(Files.Load(Folder().c_str(), u"MAIN"));
    EXPECT_TRUE(Files.IsBranchLoaded(u"Extra"));
    EXPECT_FALSE(Files.IsBranchLoaded(u"other"));

    ASSERT_TRUE(Files.Save(5));
    EXPECT_EQ(Rv_TestMakeDirFile("main", 5, {{1, 100, 1}}), Read("main.DIR"));
    EXPECT_EQ(Rv_TestMakeDirFile("extra", 5, {{2, 200, 1}}), Read("extra.dir"));
}

TEST_F(DirectoryFileTest, SetRefusesABadBranchFileAndHoldsNothing)
{
    const struct {
        const char* cszName;
        std::string strFile;
    } aCases[] = {
        {"main.DIR", "short"},
        {".DIR", Rv_TestMakeDirFile("x", 1, {})},
        {"..DIR", Rv_TestMakeDirFile("x", 1, {})},
    };
    for (const auto& Case : aCases) {
        SCOPED_TRACE(Case.cszName);
        Rv_TestTempDir Dir;
        Rv_TestWriteFile(Dir.File("a.DIR"), Rv_TestMakeDirFile("a", 1, {{1, 1, 1}}));
        Rv_TestWriteFile(Dir.File(Case.cszName), Case.strFile);
        Rv_DirectoryFiles Files;
        EXPECT_FALSE(Files.Init(Pf_Utf8ToUtf16(Dir.Path()).c_str(), 2, 2, 2));
        EXPECT_TRUE(Files.GetFilePaths().empty());
    }
}

TEST_F(DirectoryFileTest, MovesApplyAllAtOnceToEveryBranch)
{
    Write("a.DIR", Rv_TestMakeDirFile("a", 1, {{1, 100, 1}, {2, 200, 1}, {3, 300, 1}}));
    Write("b.DIR", Rv_TestMakeDirFile("b", 1, {{7, 200, 1}}));
    Rv_DirectoryFiles Files;
    ASSERT_TRUE(Files.Init(Folder().c_str(), 2, 2, 2));
    // 100 -> 200 and 200 -> 300 do not chain: the entry at 100 stops at 200.
    ASSERT_TRUE(Files.MoveDirectoryAddress(200, 300));
    ASSERT_TRUE(Files.MoveDirectoryAddress(100, 200));
    ASSERT_TRUE(Files.MoveDirectoryAddress(300, 100));
    EXPECT_FALSE(Files.MoveDirectoryAddress(400, 400));
    ASSERT_TRUE(Files.Save(1));
    EXPECT_EQ(Rv_TestMakeDirFile("a", 1, {{1, 100, 1}, {2, 200, 1}, {3, 300, 1}}), Read("a.DIR"));   // nothing before the flush
    ASSERT_TRUE(Files.FlushMoveDirectory());
    ASSERT_TRUE(Files.Save(2));
    EXPECT_EQ(Rv_TestMakeDirFile("a", 2, {{1, 200, 1}, {2, 300, 1}, {3, 100, 1}}), Read("a.DIR"));
    EXPECT_EQ(Rv_TestMakeDirFile("b", 2, {{7, 300, 1}}), Read("b.DIR"));
    // The list was emptied: a second flush moves nothing.
    ASSERT_TRUE(Files.FlushMoveDirectory());
    ASSERT_TRUE(Files.Save(2));
    EXPECT_EQ(Rv_TestMakeDirFile("b", 2, {{7, 300, 1}}), Read("b.DIR"));
}

TEST_F(DirectoryFileTest, EmptyDirectoryFileOfANewBranch)
{
    ASSERT_TRUE(Rv_CreateEmptyDirectoryFile(Folder().c_str(), u"main", u"Package.CFG"));
    EXPECT_EQ(Rv_TestMakeDirFile("main", 0, {}), Read("main.DIR"));
    EXPECT_EQ(1u, Rv_TestSnapshotFolder(m_Dir.Path()).size());

    IRv_Buffer* piBuffer = nullptr;
    ASSERT_TRUE(Rv_CreateEmptyDirectoryFileInMemory(u"main", u"Package.CFG", &piBuffer));
    EXPECT_EQ(Read("main.DIR"), std::string((const char*)piBuffer->GetData(), piBuffer->GetSize()));
    piBuffer->Release();
    // Names must leave room for their terminator in 64 units.
    EXPECT_FALSE(Rv_CreateEmptyDirectoryFileInMemory(u"main", std::u16string(64, u'c').c_str(), &piBuffer));
    EXPECT_FALSE(Rv_CreateEmptyDirectoryFileInMemory(u"main", u"Package.CFG", nullptr));

    // A folder that cannot take the file: the open failure names the file.
    m_Log.Clear();
    const std::string strMissing = m_Dir.File("missing");
    EXPECT_FALSE(Rv_CreateEmptyDirectoryFile(Pf_Utf8ToUtf16(strMissing).c_str(), u"main", u"Package.CFG"));
    EXPECT_TRUE(m_Log.Has("Error: open file failed. szDirFilePath = " + strMissing + "\\main.DIR")) << m_Log.All();
    EXPECT_TRUE(m_Log.Has("RVLOG_PROCESS_ERROR(fpFile) at line ")) << m_Log.All();
}

TEST_F(DirectoryFileTest, KilledSaveLeavesTheOldOrTheNewFile)
{
    const std::string strOld = Rv_TestMakeDirFile("main", 1, {{5, 1, 2}});
    const std::string strNew = Rv_TestMakeDirFile("main", 2, {{5, 1, 2}, {6, 3, 4}});
    auto Save = [&]() {
        Rv_DirectoryFile File;
        return Open(&File, u"main") && File.AddDirectoryItem(6, 3, 4) && File.Save(2);
    };
    std::set<std::string> setSeen;
    for (uint64_t uStep = 1;; ++uStep) {
        SCOPED_TRACE(uStep);
        Write("main.DIR", strOld);
        pid_t nChild = fork();
        ASSERT_NE(-1, nChild);
        if (nChild == 0) {
            Pf_ArmCrashPoint(uStep);
            _exit(Save() ? 0 : 1);
        }
        int nStatus = 0;
        ASSERT_EQ(nChild, waitpid(nChild, &nStatus, 0));
        std::string strNow = Read("main.DIR");
        EXPECT_TRUE(strNow == strOld || strNow == strNew);
        if (WIFEXITED(nStatus)) {
            EXPECT_EQ(0, WEXITSTATUS(nStatus));
            EXPECT_EQ(strNew, strNow);
            break;
        }
        ASSERT_TRUE(WIFSIGNALED(nStatus));
        setSeen.insert(strNow);
        // Whatever the kill left loads.
        Rv_DirectoryFile File;
        ASSERT_TRUE(Open(&File, u"main"));
        ASSERT_LT(uStep, 10u);
    }
    EXPECT_EQ(1u, setSeen.count(strOld));
}
