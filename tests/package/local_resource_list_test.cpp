// The streaming downloader's local resource list: load with its checks,
// file-link lists applied against the table as it was, and whole-file saves.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>
#include <string>

#include "foundation/crc32.h"
#include "package/local_resource_list.h"
#include "tests/support/temp_dir.h"

namespace {

// A list file as the downloader writes it, with a correct CRC trailer unless
// the caller changes bytes afterwards.
std::string _ListFile(const std::map<uint64_t, uint64_t>& Links, const std::set<uint64_t>& Origins, uint32_t uVersion)
{
    Rv_LocalResourceListHeader Header {};
    memcpy(Header.bySignature, "LCLF", 4);
    Header.byVersion = 3;
    Header.uLinkCount = (uint32_t)Links.size();
    Header.uLinkTableOffset = 32;
    Header.uOriginCount = (uint32_t)Origins.size();
    Header.uOriginTableOffset = (uint32_t)(32 + 16 * Links.size());
    Header.uDataVersion = uVersion;
    std::string strData((const char*)&Header, sizeof(Header));
    for (const auto& Link : Links) {
        Rv_LocalResourceLink Entry {Link.first, Link.second};
        strData.append((const char*)&Entry, sizeof(Entry));
    }
    for (uint64_t ullOrigin : Origins)
        strData.append((const char*)&ullOrigin, sizeof(ullOrigin));
    return strData + std::string(4, '\0');
}

// Puts the CRC of all bytes but the last four into the last four.
std::string _WithCRC(std::string strData)
{
    uint32_t uCRC = Rv_CRC32(0, (const uint8_t*)strData.data(), strData.size() - 4);
    memcpy(&strData[strData.size() - 4], &uCRC, 4);
    return strData;
}

class LocalResourceListTest : public ::testing::Test {
protected:
    std::string List() const { return m_Dir.File("v3.lcl"); }
    std::string LinkList(const std::string& strText)
    {
        std::string strPath = m_Dir.File("links" + std::to_string(++m_nLists) + ".FileLinkList");
        Rv_TestWriteFile(strPath, strText);
        return strPath;
    }

    Rv_TestTempDir m_Dir;
    int m_nLists = 0;
};

}  // namespace

TEST_F(LocalResourceListTest, LoadsWhatItSavesAndAnEmptyListIs36Bytes)
{
    Rv_LocalResourceList List;
    ASSERT_TRUE(List.Load(this->List().c_str()));
    EXPECT_EQ(0u, List.m_uDataVersion);
    List.m_uDataVersion = 7;
    ASSERT_TRUE(List.Save());
    EXPECT_EQ(_WithCRC(_ListFile({}, {}, 7)), Rv_TestReadFile(this->List()));

    const std::string strFull = _WithCRC(_ListFile({{10, 20}, {30, 20}, {40, 10}}, {30, 40}, 9));
    Rv_TestWriteFile(this->List(), strFull);
    Rv_LocalResourceList Loaded;
    ASSERT_TRUE(Loaded.Load(this->List().c_str()));
    EXPECT_EQ((std::map<uint64_t, uint64_t> {{10, 20}, {30, 20}, {40, 10}}), Loaded.m_LinkTable);
    EXPECT_EQ((std::set<uint64_t> {30, 40}), Loaded.m_OriginSet);
    EXPECT_EQ((std::vector<uint64_t> {10, 30}), Loaded.m_TargetIndex[20]);
    EXPECT_EQ(9u, Loaded.m_uDataVersion);
    ASSERT_TRUE(Loaded.Save());
    EXPECT_EQ(strFull, Rv_TestReadFile(this->List()));
    EXPECT_EQ("v3.lcl\n", Rv_TestRun("ls '" + m_Dir.Path() + "'")) << "no temporary file is left";
}

TEST_F(LocalResourceListTest, MalformedFilesAreRefused)
{
    const std::string strGood = _ListFile({{10, 20}}, {5}, 3);
    auto Changed = [&](size_t uOffset, const void* pData, size_t uSize) {
        std::string strData = strGood;
        memcpy(&strData[uOffset], pData, uSize);
        return _WithCRC(strData);
    };
    const uint32_t uHuge = 0x10000000u;     // 16 × this wraps to 0 in 32 bits
    const uint32_t uFar = 0xFFFFFFF0u;
    const uint32_t uLow = 31;
    const std::pair<const char*, std::string> Cases[] = {
        {"35 bytes", _WithCRC(strGood).substr(0, 35)},
        {"signature", Changed(0, "LCLX", 4)},
        {"format version", Changed(4, "\x02", 1)},
        {"byte 5", Changed(5, "\x01", 1)},
        {"checksum", _WithCRC(strGood).substr(0, strGood.size() - 1) + "\x01"},
        {"link count that wraps", Changed(8, &uHuge, 4)},
        {"origin count that wraps", Changed(16, &uHuge, 4)},
        {"link table far beyond the file", Changed(12, &uFar, 4)},
        {"link table inside the header", Changed(12, &uLow, 4)},
        {"origin table inside the header", Changed(20, &uLow, 4)},
    };
    for (const auto& Case : Cases) {
        SCOPED_TRACE(Case.first);
        Rv_TestWriteFile(List(), Case.second);
        Rv_LocalResourceList List;
        EXPECT_FALSE(List.Load(this->List().c_str()));
        EXPECT_TRUE(List.m_LinkTable.empty());
    }
}

TEST_F(LocalResourceListTest, UnreadableListIsNotTakenForAMissingOne)
{
    // A link that leads to itself cannot be opened, but the list is there.
    ASSERT_EQ("", Rv_TestRun("ln -s v3.lcl '" + List() + "' 2>&1"));
    Rv_LocalResourceList List;
    EXPECT_FALSE(List.Load(this->List().c_str()));
}

TEST_F(LocalResourceListTest, FailedSaveKeepsTheOldList)
{
    const std::string strOld = _WithCRC(_ListFile({{10, 20}}, {}, 3));
    Rv_TestWriteFile(List(), strOld);
    Rv_LocalResourceList List;
    ASSERT_TRUE(List.Load(this->List().c_str()));
    ASSERT_TRUE(List.ApplyFileLinkList(4, LinkList("30>40\n").c_str()));
    // The temporary name is taken by a folder, so the new list cannot be written.
    ASSERT_EQ("", Rv_TestRun("mkdir '" + this->List() + ".tmp' && touch '" + this->List() + ".tmp/x' 2>&1"));
    EXPECT_FALSE(List.Save());
    EXPECT_EQ(strOld, Rv_TestReadFile(this->List()));
}

TEST_F(LocalResourceListTest, FileLinkListsApplyAgainstTheTableAsItWas)
{
    struct Case {
        const char* cszName;
        std::map<uint64_t, uint64_t> Before;
        std::string strLines;
        std::map<uint64_t, uint64_t> After;
        std::set<uint64_t> Origins;
    } Cases[] = {
        {"a link to a linked id is followed one step", {{10, 20}}, "30>10\n", {{10, 20}, {30, 20}}, {30}},
        {"a line that would close a loop changes nothing", {{10, 20}}, "20>10\n", {{10, 20}}, {}},
        {"a named id that would loop loses its link", {{10, 30}, {20, 10}}, "10>20\n", {{20, 10}}, {}},
        {"a line to itself is ignored", {}, "5>5\n", {}, {}},
        {"blanks, empty lines and line ends of Windows", {}, "\n  7> 8\r\n\n", {{7, 8}}, {7}},
        {"a later line for an id wins", {}, "1>2\n1>3\n", {{1, 3}}, {1}},
        {"lines are judged against the table before the list; a target is no origin", {}, "1>2\n3>1\n", {{1, 2}, {3, 1}}, {3}},
    };
    for (const Case& c : Cases) {
        SCOPED_TRACE(c.cszName);
        Rv_TestWriteFile(List(), _WithCRC(_ListFile(c.Before, {}, 1)));
        Rv_LocalResourceList List;
        ASSERT_TRUE(List.Load(this->List().c_str()));
        ASSERT_TRUE(List.ApplyFileLinkList(2, LinkList(c.strLines).c_str()));
        EXPECT_EQ(c.After, List.m_LinkTable);
        EXPECT_EQ(c.Origins, List.m_OriginSet);
        EXPECT_EQ(2u, List.m_uDataVersion);
    }
}

TEST_F(LocalResourceListTest, RefusedFileLinkListsChangeNothing)
{
    Rv_TestWriteFile(List(), _WithCRC(_ListFile({{10, 20}}, {10}, 5)));
    Rv_LocalResourceList List;
    ASSERT_TRUE(List.Load(this->List().c_str()));
    const std::pair<uint32_t, std::string> Cases[] = {
        {6, "1>2\n5-6\n"},                          // a line without ">"
        {6, "1>2\n" + std::string(100, '1') + ">2\n"},   // a line over 99 characters
        {6, "99999999999999999999>1\n"},            // beyond 64 bits
        {5, "1>2\n"},                               // not newer than the list
        {4, "1>2\n"},
    };
    for (const auto& Case : Cases) {
        EXPECT_FALSE(List.ApplyFileLinkList(Case.first, LinkList(Case.second).c_str())) << Case.second;
        EXPECT_EQ((std::map<uint64_t, uint64_t> {{10, 20}}), List.m_LinkTable);
        EXPECT_EQ((std::set<uint64_t> {10}), List.m_OriginSet);
        EXPECT_EQ(5u, List.m_uDataVersion);
    }
    EXPECT_FALSE(List.ApplyFileLinkList(6, m_Dir.File("missing.FileLinkList").c_str()));
    // Without a list only the version rises.
    EXPECT_TRUE(List.ApplyFileLinkList(6, nullptr));
    EXPECT_EQ(6u, List.m_uDataVersion);
    EXPECT_EQ((std::map<uint64_t, uint64_t> {{10, 20}}), List.m_LinkTable);
}
