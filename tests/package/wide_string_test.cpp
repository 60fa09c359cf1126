// Wide string helpers: bounded copy, fixed record fields, name checks, and the
// folder and path helpers.
#include "package/folder_helpers.h"
#include "package/wide_string.h"
#include "platform/file.h"
#include "platform/text.h"
#include "tests/support/package_log_capture.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>

TEST(StrCopy, FitsOrIsCutWithALogLine)
{
    Rv_TestPackageLog Log;
    char16_t szDest[4];
    memset(szDest, 0x55, sizeof(szDest));
    EXPECT_TRUE(Rv_StrCopy(szDest, 4, u"ab"));
    EXPECT_EQ(szDest[2], u'\0');
    EXPECT_EQ(szDest[3], u'\0');
    EXPECT_TRUE(Log.Lines().empty());

    EXPECT_FALSE(Rv_StrCopy(szDest, 4, u"abcd"));
    EXPECT_EQ(std::u16string(szDest), u"abc");
    EXPECT_TRUE(Log.Has("The last char of the string is not NULL, It is 'd'"));
    EXPECT_TRUE(Log.Has("The the string is 'abc'."));

    EXPECT_FALSE(Rv_StrCopy(szDest, 0, u"a"));
    EXPECT_TRUE(Log.Has("RVLOG_ASSERT_EXIT(uDestLen)"));
    EXPECT_FALSE(Rv_StrCopy(nullptr, 4, u"a"));
    EXPECT_FALSE(Rv_StrCopy(szDest, 4, nullptr));
}

TEST(FixedString, ReadsAtMostTheFieldAndNeedsATerminator)
{
    Rv_TestPackageLog Log;
    unsigned char abyRecord[1 + 8 + 2];   // odd offset on purpose
    memset(abyRecord, 'x', sizeof(abyRecord));
    std::u16string wstr;
    ASSERT_TRUE(Rv_WriteFixedString(abyRecord + 1, 4, u"abc"));
    EXPECT_TRUE(Rv_ReadFixedString(abyRecord + 1, 4, &wstr));
    EXPECT_EQ(wstr, u"abc");
    EXPECT_EQ(abyRecord[9], 'x');   // nothing written past the field

    EXPECT_FALSE(Rv_WriteFixedString(abyRecord + 1, 4, u"abcd"));   // no room for the terminator
    EXPECT_TRUE(Rv_ReadFixedString(abyRecord + 1, 4, &wstr));      // left unchanged
    EXPECT_EQ(wstr, u"abc");

    memset(abyRecord, 'x', sizeof(abyRecord));                      // a field full of text
    wstr = u"kept";
    EXPECT_FALSE(Rv_ReadFixedString(abyRecord + 1, 4, &wstr));
    EXPECT_EQ(wstr, u"kept");
    EXPECT_TRUE(Log.Has("text field without terminator"));
}

TEST(NameChecks, FileNamesAndRelativePaths)
{
    for (const char16_t* cpsz : {u"pak", u"Branch_1", u"a.b", u"..x"})
        EXPECT_TRUE(Rv_IsSafeFileName(cpsz)) << Pf_Utf16ToUtf8(cpsz);
    for (const char16_t* cpsz : {u"", u".", u"..", u"a/b", u"a\\b", u"C:x", u"/abs", u"a\tb"})
        EXPECT_FALSE(Rv_IsSafeFileName(cpsz)) << Pf_Utf16ToUtf8(cpsz);
    for (const char16_t* cpsz : {u"a.txt", u"sub/a.txt", u"sub\\deeper/a.txt"})
        EXPECT_TRUE(Rv_IsSafeRelativePath(cpsz)) << Pf_Utf16ToUtf8(cpsz);
    for (const char16_t* cpsz : {u"", u"/etc/passwd", u"\\x", u"C:\\x", u"../x", u"a/../../x", u"a\\..\\x", u"a//b", u"a/"})
        EXPECT_FALSE(Rv_IsSafeRelativePath(cpsz)) << Pf_Utf16ToUtf8(cpsz);
    EXPECT_TRUE(Rv_StrCaseEqual(u"DIR", u"dir"));
    EXPECT_FALSE(Rv_StrCaseEqual(u"DIR", u"dirx"));
    EXPECT_EQ(Rv_GetExtension(u"a.b.DIR"), u"DIR");
    EXPECT_EQ(Rv_GetExtension(u"BackupDir"), u"");
}

TEST(FolderHelpers, SplitPath)
{
    Rv_TestPackageLog Log;
    char16_t szDir[260], szName[260];
    ASSERT_TRUE(Rv_GetDirectoryAndFileName(u"/game/pakV3/Package.CFG", szDir, 260, szName, 260));
    EXPECT_EQ(std::u16string(szDir), u"/game/pakV3");
    EXPECT_EQ(std::u16string(szName), u"Package.CFG");
    ASSERT_TRUE(Rv_GetDirectoryAndFileName(u"C:\\game\\a.upd", szDir, 260, nullptr, 0));
    EXPECT_EQ(std::u16string(szDir), u"C:\\game");

    EXPECT_FALSE(Rv_GetDirectoryAndFileName(u"/game/", szDir, 260, szName, 260));
    EXPECT_TRUE(Log.Has("uLastSplashPos > 0 && (uLastSplashPos < uFilePathLength - 1)"));
    EXPECT_FALSE(Rv_GetDirectoryAndFileName(u"noslash", szDir, 260, szName, 260));
    EXPECT_FALSE(Rv_GetDirectoryAndFileName(u"/file", szDir, 260, szName, 260));
    EXPECT_TRUE(Log.Has("RVLOG_PROCESS_ERROR(i != 0)"));
    EXPECT_FALSE(Rv_GetDirectoryAndFileName(u"/ab/cdef", szDir, 3, szName, 260));
    EXPECT_FALSE(Rv_GetDirectoryAndFileName(u"/ab/cdef", szDir, 260, nullptr, 5));
}

TEST(FolderHelpers, CreateListMove)
{
    Rv_TestTempDir Dir;
    std::u16string wstrRoot = Pf_Utf8ToUtf16(Dir.Path());
    std::u16string wstrDeep = wstrRoot + u"/a\\b/c";
    ASSERT_TRUE(Rv_RecursiveCreateDirectory(wstrDeep.c_str()));
    ASSERT_TRUE(Rv_RecursiveCreateDirectory(wstrDeep.c_str()));   // all exist
    EXPECT_TRUE(Pf_DirExists(Dir.File("a/b/c")));
    Rv_TestWriteFile(Dir.File("a/f.txt"), "x");
    std::u16string wstrBlocked = wstrRoot + u"/a/f.txt/sub";
    EXPECT_FALSE(Rv_RecursiveCreateDirectory(wstrBlocked.c_str()));

    RV_DIR_HANDLE h = nullptr;
    std::u16string wstrA = wstrRoot + u"/a";
    ASSERT_TRUE(Rv_OpenDirectory(wstrA.c_str(), &h));
    std::set<std::u16string> setFiles, setDirs;
    for (;;) {
        RV_DIR_ITEM Item;
        int bNoMore = 0;
        ASSERT_TRUE(Rv_ReadDirectory(h, &Item, &bNoMore));
        if (bNoMore) {
            EXPECT_EQ(Item.eType, RV_DIR_ITEM_TYPE_NONE);
            break;
        }
        (Item.eType == RV_DIR_ITEM_TYPE_FILE ? setFiles : setDirs).insert(Item.pcszName);
    }
    EXPECT_TRUE(Rv_CloseDirectory(h));
    EXPECT_EQ(setFiles, std::set<std::u16string>({u"f.txt"}));
    EXPECT_EQ(setDirs, std::set<std::u16string>({u".", u"..", u"b"}));
    EXPECT_FALSE(Rv_OpenDirectory(u"", &h));
    std::u16string wstrMissing = wstrRoot + u"/missing";
    EXPECT_FALSE(Rv_OpenDirectory(wstrMissing.c_str(), &h));

    std::u16string wstrFrom = wstrRoot + u"/a/f.txt", wstrTo = wstrRoot + u"/a/b/g.txt";
    EXPECT_TRUE(Rv_IsFileExist(wstrFrom.c_str()));
    EXPECT_TRUE(Rv_MoveFileOverwrite(wstrFrom.c_str(), wstrTo.c_str()));
    EXPECT_FALSE(Rv_IsFileExist(wstrFrom.c_str()));
    EXPECT_EQ(Rv_TestReadFile(Dir.File("a/b/g.txt")), "x");
}
