// The string table: the texts the message boxes show, and unknown ids.
#include "app/load_string.h"
#include "resources/string_table.h"

#include <gtest/gtest.h>

#include <set>

TEST(LoadString, KnownTextsVerbatim)
{
    struct Case {
        unsigned uId;
        const char* cszText;
    };
    const Case aCases[] = {
        {121, "云岫更新程序"},
        {122, "云岫更新程序"},
        {131, "无法启动，可能文件不存在！\n\n"},
        {137, "云岫更新程序正在运行，关闭后再尝试更新！"},
        {140, "安装DirectX运行包失败！\n您的系统未安装云岫依赖的组件，自动安装时出错！\n请手动运行云岫安装根目录下的 "
              "3rdParty\\dx9_43\\DXSETUP.exe,\n或到官方网站下载并手动安装."},
        {142, "云岫更新程序"},
        {154, "正在下载更新包...      "},
        {162, "云岫所在磁盘分区"},
        {163, "剩余空间过低，客户端启动失败。\n请先清理该磁盘分区，然后重试!"},
        {167, "正在同步资源文件...    "},
        {172, "程序检测到您的CPU占用率过高。\n为达到更加流畅的游戏效果，建议退出部分非必要的程序！"},
    };
    char szBuffer[RVU_STRING_BUFFER_SIZE];
    for (const Case& c : aCases)
        EXPECT_EQ(c.cszText, RVU_LoadString(szBuffer, c.uId)) << c.uId;
}

TEST(LoadString, UnknownIdGivesEmptyText)
{
    char szBuffer[RVU_STRING_BUFFER_SIZE];
    for (unsigned uId : {0u, 120u, 161u, 173u, 0xFFFFFFFFu}) {
        szBuffer[0] = 'x';
        EXPECT_EQ("", RVU_LoadString(szBuffer, uId)) << uId;
        EXPECT_EQ('\0', szBuffer[0]);
    }
}

// Every entry has its own id in the program's range, fits the buffer and is
// well-formed UTF-8.
TEST(LoadString, TableIsWellFormed)
{
    std::set<unsigned> setIds;
    for (unsigned i = 0; i < g_uRvStringTableCount; ++i) {
        const Rv_StringTableEntry& entry = g_RvStringTable[i];
        EXPECT_TRUE(setIds.insert(entry.uId).second) << entry.uId;
        EXPECT_GE(entry.uId, 121u);
        EXPECT_LE(entry.uId, 172u);
        std::string strText = entry.cszText;
        EXPECT_FALSE(strText.empty()) << entry.uId;
        EXPECT_LT(strText.size(), (size_t)RVU_STRING_BUFFER_SIZE);
        for (size_t u = 0; u < strText.size();) {
            unsigned char c = (unsigned char)strText[u];
            size_t uLen = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
            ASSERT_NE(0u, uLen) << entry.uId;
            ASSERT_LE(u + uLen, strText.size()) << entry.uId;
            for (size_t k = 1; k < uLen; ++k)
                ASSERT_EQ(0x80, (unsigned char)strText[u + k] & 0xC0) << entry.uId;
            u += uLen;
        }
    }
}
