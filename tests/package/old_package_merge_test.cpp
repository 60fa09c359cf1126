// The merge of two packages of the oldest format: data appended, indexes
// merged with the second one's entries winning, malformed inputs refused with
// the first package as it was.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "package/old_package_merge.h"
#include "tests/support/temp_dir.h"

static bool operator==(const PackFileIndexEntry& A, const PackFileIndexEntry& B)
{
    return memcmp(&A, &B, sizeof(A)) == 0;
}

namespace {

// A package: header, the data at uDataOffset, then the index. Entry offsets
// are given relative to the data block.
std::string _Pack(const std::string& strData, const std::vector<PackFileIndexEntry>& Entries, uint32_t uDataOffset = 32)
{
    PackFileHeader Header {};
    memcpy(Header.bySignature, "PACK", 4);
    Header.count = (uint32_t)Entries.size();
    Header.uDataOffset = uDataOffset;
    Header.uIndexOffset = (uint32_t)(uDataOffset + strData.size());
    memset(Header.byReserved, 0x5C, sizeof(Header.byReserved));
    std::string strFile((const char*)&Header, sizeof(Header));
    strFile += std::string(uDataOffset - sizeof(Header), 'g') + strData;
    for (PackFileIndexEntry Entry : Entries) {
        Entry.uOffset += uDataOffset;
        strFile.append((const char*)&Entry, sizeof(Entry));
    }
    return strFile;
}

PackFileHeader _Header(const std::string& strFile)
{
    PackFileHeader Header {};
    memcpy(&Header, strFile.data(), sizeof(Header));
    return Header;
}

std::vector<PackFileIndexEntry> _Index(const std::string& strFile)
{
    PackFileHeader Header = _Header(strFile);
    std::vector<PackFileIndexEntry> Index(Header.count);
    memcpy(Index.data(), strFile.data() + Header.uIndexOffset, Header.count * sizeof(PackFileIndexEntry));
    return Index;
}

class OldPackageMergeTest : public ::testing::Test {
protected:
    std::string Std() const { return m_Dir.File("std.pak"); }
    std::string Add() const { return m_Dir.File("add.pak"); }
    Rv_TestTempDir m_Dir;
};

}  // namespace

TEST_F(OldPackageMergeTest, SecondPackageIsAppendedAndItsEntriesWin)
{
    for (uint32_t uAddDataOffset : {32u, 48u}) {
        SCOPED_TRACE(uAddDataOffset);
        const std::string strStd = _Pack("AAAABBBB", {{1, 0, 11, 12}, {5, 4, 51, 52}});
        Rv_TestWriteFile(Std(), strStd);
        Rv_TestWriteFile(Add(), _Pack("CCDDEE", {{0, 4, 1, 2}, {5, 0, 53, 54}, {9, 2, 91, 92}}, uAddDataOffset));
        ASSERT_TRUE(PackComb(Std().c_str(), Add().c_str()));

        std::string strNow = Rv_TestReadFile(Std());
        uint32_t uOldEnd = (uint32_t)strStd.size();
        EXPECT_EQ(strStd.substr(32), strNow.substr(32, strStd.size() - 32)) << "the old bytes stay";
        EXPECT_EQ("CCDDEE", strNow.substr(uOldEnd, 6));
        PackFileHeader Header = _Header(strNow);
        EXPECT_EQ(uOldEnd + 6, Header.uIndexOffset);
        EXPECT_EQ(32u, Header.uDataOffset);
        EXPECT_EQ(0x5C, Header.byReserved[15]);
        EXPECT_EQ(Header.uIndexOffset + 4 * sizeof(PackFileIndexEntry), strNow.size());
        EXPECT_EQ((std::vector<PackFileIndexEntry> {{0, uOldEnd + 4, 1, 2}, {1, 32, 11, 12}, {5, uOldEnd, 53, 54},
                                                    {9, uOldEnd + 2, 91, 92}}),
                  _Index(strNow));
    }
}

TEST_F(OldPackageMergeTest, MalformedInputsLeaveTheFirstPackageAsItWas)
{
    const std::string strStd = _Pack("AAAA", {{1, 0, 0, 0}});
    const std::string strAdd = _Pack("CCCC", {{2, 0, 0, 0}});
    auto WithHeader = [](std::string strFile, auto Change) {
        PackFileHeader Header = _Header(strFile);
        Change(&Header);
        memcpy(&strFile[0], &Header, sizeof(Header));
        return strFile;
    };
    const struct {
        const char* cszName;
        std::string strStd;
        std::string strAdd;
    } Cases[] = {
        {"counts whose sum wraps in 32 bits", WithHeader(strStd, [](PackFileHeader* H) { H->count = 0xFFFFFFFFu; }), strAdd},
        {"merged count at the limit", strStd, WithHeader(strAdd, [](PackFileHeader* H) { H->count = MAX_FILE - 1; })},
        {"second index cut short", strStd, strAdd.substr(0, strAdd.size() - 1)},
        {"first index cut short", strStd.substr(0, strStd.size() - 1), strAdd},
        {"second header cut short", strStd, strAdd.substr(0, 20)},
        {"index below the data", strStd, WithHeader(strAdd, [](PackFileHeader* H) { H->uDataOffset = H->uIndexOffset + 1; })},
        {"index beyond the file", strStd, WithHeader(strAdd, [](PackFileHeader* H) { H->uIndexOffset = 0xFFFFFF00u; })},
        {"entry outside the block", strStd, _Pack("CCCC", {{2, 100, 0, 0}})},
    };
    for (const auto& Case : Cases) {
        SCOPED_TRACE(Case.cszName);
        Rv_TestWriteFile(Std(), Case.strStd);
        Rv_TestWriteFile(Add(), Case.strAdd);
        EXPECT_FALSE(PackComb(Std().c_str(), Add().c_str()));
        EXPECT_EQ(Case.strStd, Rv_TestReadFile(Std()));
    }
}
