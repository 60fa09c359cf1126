// Zip access against archives made by Info-ZIP and by Python's zipfile, and
// hand-built archives with hostile names and extra fields.
#include "foundation/zip.h"
#include "foundation/zip_entry.h"
#include "platform/file.h"
#include "tests/support/temp_dir.h"
#include "tests/support/time_zone.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

int64_t _Seconds(const Pf_FILETIME& ft)
{
    int64_t llSeconds = 0;
    uint32_t uNanoseconds = 0;
    Pf_FileTimeToUnix(ft, &llSeconds, &uNanoseconds);
    return llSeconds;
}

// Every test runs in its own folder, which is current while it runs (the
// archive's root folder is the current folder at opening time), under a
// fixed time zone.
class ZipTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Pf_GetCurrentDir(&m_strOldCurrent));
        ASSERT_TRUE(Pf_CreateDir(m_dir.File("out")));
        ASSERT_TRUE(Pf_SetCurrentDir(m_dir.File("out")));
    }
    void TearDown() override
    {
        Pf_SetCurrentDir(m_strOldCurrent);
    }
    void UseZone(const char* cszZone)
    {
        setenv("TZ", cszZone, 1);
        tzset();
    }
    // Runs a Python script in the test folder; the archive helpers below are
    // defined for it.
    void RunPython(const std::string& strScript)
    {
        static const char* const s_cszHelpers = R"PY(
import struct, sys, zipfile, zlib

def raw_zip(path, items):
    """items: (name bytes, data bytes, local extra, central extra, version made by, external attr, dos time, dos date)"""
    out = bytearray()
    central = bytearray()
    for name, data, lextra, cextra, made_by, ext_attr, dtime, ddate in items:
        offset = len(out)
        crc = zlib.crc32(data)
        out += struct.pack('<IHHHHHIIIHH', 0x04034b50, 20, 0, 0, dtime, ddate, crc, len(data), len(data), len(name), len(lextra))
        out += name + lextra + data
        central += struct.pack('<IHHHHHHIIIHHHHHII', 0x02014b50, made_by, 20, 0, 0, dtime, ddate, crc, len(data), len(data),
                               len(name), len(cextra), 0, 0, 0, ext_attr, offset)
        central += name + cextra
    cd_offset = len(out)
    out += central
    out += struct.pack('<IHHHHIIH', 0x06054b50, 0, 0, len(items), len(items), len(central), cd_offset, 0)
    open(path, 'wb').write(out)

def ut(flags, *times, size=None):
    body = bytes([flags]) + b''.join(struct.pack('<i', t) for t in times)
    return b'UT' + struct.pack('<H', len(body) if size is None else size) + body
)PY";
        Rv_TestWriteFile(m_dir.File("make.py"), std::string(s_cszHelpers) + strScript);
        int nStatus = -1;
        std::string strOut = Rv_TestRun("cd '" + m_dir.Path() + "' && python3 make.py 2>&1", &nStatus);
        ASSERT_EQ(0, nStatus) << strOut;
    }
    void Shell(const std::string& strCommand)
    {
        int nStatus = -1;
        std::string strOut = Rv_TestRun("cd '" + m_dir.Path() + "' && (" + strCommand + ") 2>&1", &nStatus);
        ASSERT_EQ(0, nStatus) << strOut;
    }
    std::vector<ZipEntry> ReadAll(ZipHandle* hZip)
    {
        std::vector<ZipEntry> vecEntries;
        ZipEntry entry;
        EXPECT_EQ(ZR_OK, GetZipItem(hZip, -1, &entry));
        for (int i = 0; i < entry.index; ++i) {
            ZipEntry item;
            EXPECT_EQ(ZR_OK, GetZipItem(hZip, i, &item)) << i;
            vecEntries.push_back(item);
        }
        return vecEntries;
    }

    Rv_TestTempDir m_dir;
    std::string m_strOldCurrent;
    Rv_TestTimeZone m_Zone{"UTC0"};   // UseZone changes it; put back at the end
};

TEST(ZipMakeRelativeName, HostileNamesAreCleaned)
{
    const struct {
        const char* cszIn;
        const char* cszOut;
    } aCases[] = {
        {"a/b/c.txt", "a/b/c.txt"},
        {"..\\..\\Windows\\evil.dll", "Windows\\evil.dll"},
        {"C:\\x\\..\\y", "y"},
        {"\\..\\..\\z", "z"},
        {"/etc/passwd", "etc/passwd"},
        {"a\\../b", "b"},
        {"a/..\\b", "b"},
        {"../x", "x"},
        {"..\\x", "x"},
        {"a/../../b", "b"},
        {"../../../", ""},
        {"..", ""},
        {"C:", ""},
        {"dir/..name", "dir/..name"},
        {"...\\x", "...\\x"},
        {"a/..", "a/.."},
    };
    for (const auto& c : aCases) {
        char szName[260];
        strcpy(szName, c.cszIn);
        ZipMakeRelativeName(szName);
        EXPECT_STREQ(c.cszOut, szName) << c.cszIn;
    }
}

TEST(ZipAttributes, DosAndUnixHosts)
{
    const struct {
        uint32_t uMadeBy;
        uint32_t uExternal;
        uint32_t uAttr;
    } aCases[] = {
        {0x0014, 0x21, 0x21},                     // DOS: archive, read-only
        {0x0B14, 0x16, 0x16},                     // NTFS: folder, hidden, system
        {0x0E14, 0xFFFFFF20, 0x20},               // VFAT: only the low byte's bits count
        {0x0714, 0x01, 0x01},                     // Macintosh
        {0x031E, 0x81A40000, 0x20},               // Unix 0644 file
        {0x031E, 0x81240000, 0x21},               // Unix 0444 file
        {0x031E, 0x41ED0010, 0x30},               // Unix 0755 folder
        {0x031E, 0x41600010, 0x31},               // Unix folder without owner write
    };
    for (const auto& c : aCases)
        EXPECT_EQ(c.uAttr, ZipAttributes(c.uMadeBy, c.uExternal)) << std::hex << c.uMadeBy << " " << c.uExternal;
}

TEST_F(ZipTest, InfoZipArchiveReadAndExtracted)
{
    Shell("mkdir -p src/sub/deep && cd src && head -c 100000 /dev/urandom > sub/b.bin && echo hello > a.txt && "
          "echo locked > ro.txt && chmod 444 ro.txt && "
          "touch -m -d @1400000000 a.txt && touch -a -d @1300000000 a.txt && "
          "zip -q ../info.zip a.txt ro.txt sub/ sub/deep/ sub/b.bin");
    ZipHandle* hZip = OpenZip(m_dir.File("info.zip").c_str());
    ASSERT_TRUE(hZip);
    std::vector<ZipEntry> vecEntries = ReadAll(hZip);
    ASSERT_EQ(5u, vecEntries.size());
    const struct {
        const char* cszName;
        uint32_t uAttr;
        int32_t nSize;
    } aExpected[] = {
        {"a.txt", 0x20, 6}, {"ro.txt", 0x21, 7}, {"sub/", 0x30, 0}, {"sub/deep/", 0x30, 0}, {"sub/b.bin", 0x20, 100000},
    };
    for (size_t i = 0; i < vecEntries.size(); ++i) {
        EXPECT_EQ((int)i, vecEntries[i].index);
        EXPECT_STREQ(aExpected[i].cszName, vecEntries[i].name);
        EXPECT_EQ(aExpected[i].uAttr, vecEntries[i].attr) << vecEntries[i].name;
        EXPECT_EQ(aExpected[i].nSize, vecEntries[i].unc_size) << vecEntries[i].name;
    }
    // "UT" gives modification and access time; creation comes from the DOS time.
    EXPECT_EQ(1400000000, _Seconds(vecEntries[0].mtime));
    EXPECT_EQ(1300000000, _Seconds(vecEntries[0].atime));
    EXPECT_EQ(1400000000, _Seconds(vecEntries[0].ctime));

    // Backwards, forwards and the same item again.
    ZipEntry entry;
    for (int i : {4, 1, 1, 0, 3}) {
        ASSERT_EQ(ZR_OK, GetZipItem(hZip, i, &entry));
        EXPECT_STREQ(aExpected[i].cszName, entry.name);
    }
    for (const ZipEntry& item : vecEntries)
        ASSERT_EQ(ZR_OK, ExtractZipItem(hZip, item.index, item.name)) << item.name;
    EXPECT_EQ(ZR_OK, CloseZipHandle(hZip));

    // Times first: reading the file may move its access time.
    Pf_FILETIME ftCreation, ftAccess, ftWrite;
    ASSERT_TRUE(Pf_GetFileTimes(m_dir.File("out/a.txt"), &ftCreation, &ftAccess, &ftWrite));
    EXPECT_EQ(1400000000, _Seconds(ftWrite));
    EXPECT_EQ(1300000000, _Seconds(ftAccess));
    EXPECT_EQ("hello\n", Rv_TestReadFile(m_dir.File("out/a.txt")));
    EXPECT_EQ(Rv_TestReadFile(m_dir.File("src/sub/b.bin")), Rv_TestReadFile(m_dir.File("out/sub/b.bin")));
    EXPECT_TRUE(Pf_DirExists(m_dir.File("out/sub/deep")));
    uint32_t uAttr = 0;
    ASSERT_TRUE(Pf_GetFileAttributes(m_dir.File("out/ro.txt"), &uAttr));
    EXPECT_EQ(0x21u, uAttr);
}

TEST_F(ZipTest, PythonArchiveWithDosTimesInTheLocalZone)
{
    RunPython(R"PY(
with zipfile.ZipFile('py.zip', 'w') as z:
    i = zipfile.ZipInfo('dos/file.txt', (2015, 6, 7, 8, 9, 10))
    i.create_system = 0
    i.external_attr = 0x21
    i.compress_type = zipfile.ZIP_DEFLATED
    z.writestr(i, b'x' * 50000)
    i = zipfile.ZipInfo('unix.txt', (2015, 1, 2, 3, 4, 6))
    i.create_system = 3
    i.external_attr = 0o100600 << 16
    z.writestr(i, b'plain')
    i = zipfile.ZipInfo('folder/', (2015, 1, 2, 3, 4, 6))
    i.external_attr = (0o40755 << 16) | 0x10
    z.writestr(i, b'')
)PY");
    // Central European summer time: two hours ahead of UTC in June.
    UseZone("CET-1CEST,M3.5.0,M10.5.0/3");
    ZipHandle* hZip = OpenZip(m_dir.File("py.zip").c_str());
    ASSERT_TRUE(hZip);
    std::vector<ZipEntry> vecEntries = ReadAll(hZip);
    ASSERT_EQ(3u, vecEntries.size());
    EXPECT_STREQ("dos/file.txt", vecEntries[0].name);
    EXPECT_EQ(0x21u, vecEntries[0].attr);
    EXPECT_EQ(50000, vecEntries[0].unc_size);
    EXPECT_LT(vecEntries[0].comp_size, 1000);
    struct tm tmUtc = {};
    tmUtc.tm_year = 115, tmUtc.tm_mon = 5, tmUtc.tm_mday = 7, tmUtc.tm_hour = 6, tmUtc.tm_min = 9, tmUtc.tm_sec = 10;
    int64_t llJune = (int64_t)timegm(&tmUtc);
    for (const Pf_FILETIME* pTime : {&vecEntries[0].mtime, &vecEntries[0].atime, &vecEntries[0].ctime})
        EXPECT_EQ(llJune, _Seconds(*pTime));
    tmUtc.tm_mon = 0, tmUtc.tm_mday = 2, tmUtc.tm_hour = 2, tmUtc.tm_min = 4, tmUtc.tm_sec = 6;
    EXPECT_EQ((int64_t)timegm(&tmUtc), _Seconds(vecEntries[1].mtime));   // winter: one hour
    EXPECT_EQ(0x20u, vecEntries[1].attr);
    EXPECT_EQ(0x30u, vecEntries[2].attr);

    ASSERT_EQ(ZR_OK, ExtractZipItem(hZip, 0, "copy\\of\\file.txt"));
    EXPECT_EQ(std::string(50000, 'x'), Rv_TestReadFile(m_dir.File("out/copy/of/file.txt")));
    // A folder item creates the folder chain and no file; an empty target only the root.
    ASSERT_EQ(ZR_OK, ExtractZipItem(hZip, 2, "made\\here"));
    EXPECT_TRUE(Pf_DirExists(m_dir.File("out/made/here")));
    ASSERT_EQ(ZR_OK, ExtractZipItem(hZip, 2, ""));
    // A target beginning with a separator is taken as it stands.
    ASSERT_EQ(ZR_OK, ExtractZipItem(hZip, 1, m_dir.File("abs/unix.txt").c_str()));
    EXPECT_EQ("plain", Rv_TestReadFile(m_dir.File("abs/unix.txt")));
    EXPECT_EQ(ZR_OK, CloseZipHandle(hZip));
}

TEST_F(ZipTest, HostileNamesLandUnderTheRoot)
{
    RunPython(R"PY(
names = ['..\\..\\Windows\\evil.dll', '../../up.txt', 'a/../../b.txt', '/abs.txt', 'C:\\drive.txt',
         'long/' + 'n' * 300]
with zipfile.ZipFile('hostile.zip', 'w') as z:
    for n in names:
        z.writestr(zipfile.ZipInfo(n, (2020, 1, 1, 0, 0, 0)), n.encode())
)PY");
    ZipHandle* hZip = OpenZip(m_dir.File("hostile.zip").c_str());
    ASSERT_TRUE(hZip);
    std::vector<ZipEntry> vecEntries = ReadAll(hZip);
    ASSERT_EQ(6u, vecEntries.size());
    const char* const aszExpected[] = {"Windows\\evil.dll", "up.txt", "b.txt", "abs.txt", "drive.txt"};
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_STREQ(aszExpected[i], vecEntries[i].name);
        ASSERT_EQ(ZR_OK, ExtractZipItem(hZip, (int)i, vecEntries[i].name)) << vecEntries[i].name;
    }
    // A name of 260 bytes or more is cut to 259 and terminated.
    EXPECT_EQ(259u, strlen(vecEntries[5].name));
    EXPECT_EQ("long/" + std::string(254, 'n'), vecEntries[5].name);
    EXPECT_EQ(ZR_OK, CloseZipHandle(hZip));

    EXPECT_EQ("..\\..\\Windows\\evil.dll", Rv_TestReadFile(m_dir.File("out/Windows/evil.dll")));
    EXPECT_EQ("a/../../b.txt", Rv_TestReadFile(m_dir.File("out/b.txt")));
    std::vector<Pf_DirEntry> vecList;
    ASSERT_TRUE(Pf_ListDir(m_dir.Path(), &vecList));
    for (const Pf_DirEntry& e : vecList)
        EXPECT_TRUE(e.strName == "." || e.strName == ".." || e.strName == "out" || e.strName == "make.py" ||
                    e.strName == "hostile.zip")
            << e.strName;
}

TEST_F(ZipTest, UnixTimeRecordsWithinBounds)
{
    // Times: DOS 2010-01-01 00:00:00 (UTC zone); UT values far from it.
    RunPython(R"PY(
dt, dd = 0, (30 << 9) | (1 << 5) | 1
pad300 = b'XX' + struct.pack('<H', 300) + b'\0' * 300
items = [
    (b'mtime_only', ut(1, 1500000000)),
    (b'all_three', ut(7, 1500000000, 1400000000, 1300000000)),
    (b'record_cut', ut(7, 1500000000, 1400000000, 1300000000, size=5)),
    (b'buffer_cut', b'UT' + struct.pack('<H', 13) + bytes([7]) + struct.pack('<i', 1500000000) + b'\1\2'),
    (b'after_big', pad300 + ut(1, 1500000000)),
    (b'flags_only', b'UT' + struct.pack('<H', 1) + bytes([1]) + b'\0\0\0\0'),
    (b'negative', ut(1, -86400)),
]
raw_zip('ut.zip', [(n, n, e, b'', 0x031E, 0o100644 << 16, dt, dd) for n, e in items])
)PY");
    const int64_t llDos = 1262304000;
    const struct {
        const char* cszName;
        int64_t llM, llA, llC;
    } aCases[] = {
        {"mtime_only", 1500000000, llDos, llDos},
        {"all_three", 1500000000, 1400000000, 1300000000},
        {"record_cut", 1500000000, llDos, llDos},
        {"buffer_cut", 1500000000, llDos, llDos},
        {"after_big", 1500000000, llDos, llDos},
        {"flags_only", llDos, llDos, llDos},
        {"negative", -86400, llDos, llDos},
    };
    ZipHandle* hZip = OpenZip(m_dir.File("ut.zip").c_str());
    ASSERT_TRUE(hZip);
    std::vector<ZipEntry> vecEntries = ReadAll(hZip);
    ASSERT_EQ(sizeof(aCases) / sizeof(aCases[0]), vecEntries.size());
    for (size_t i = 0; i < vecEntries.size(); ++i) {
        EXPECT_STREQ(aCases[i].cszName, vecEntries[i].name);
        EXPECT_EQ(aCases[i].llM, _Seconds(vecEntries[i].mtime)) << aCases[i].cszName;
        EXPECT_EQ(aCases[i].llA, _Seconds(vecEntries[i].atime)) << aCases[i].cszName;
        EXPECT_EQ(aCases[i].llC, _Seconds(vecEntries[i].ctime)) << aCases[i].cszName;
        ASSERT_EQ(ZR_OK, ExtractZipItem(hZip, (int)i, vecEntries[i].name));
        EXPECT_EQ(aCases[i].cszName, Rv_TestReadFile(m_dir.File(std::string("out/") + aCases[i].cszName)));
    }
    EXPECT_EQ(ZR_OK, CloseZipHandle(hZip));
}

TEST_F(ZipTest, EncryptedAndDamagedItems)
{
    Shell("echo secret > s.txt && zip -q -P pw enc.zip s.txt");
    RunPython(R"PY(
with zipfile.ZipFile('plain.zip', 'w') as z:
    z.writestr('good.txt', b'good data')
    z.writestr('crc.txt', b'will be damaged')
    z.writestr('header.txt', b'header changed')
data = bytearray(open('plain.zip', 'rb').read())
pos = data.find(b'will be damaged')
data[pos] ^= 0xFF
pos = data.find(b'PK\x03\x04header.txt'[:4], data.find(b'header.txt') - 30)
data[pos + 8] = 8          # the local header now claims deflate
open('plain.zip', 'wb').write(bytes(data))
)PY");
    ZipHandle* hZip = OpenZip(m_dir.File("enc.zip").c_str());
    ASSERT_TRUE(hZip);
    ZipEntry entry;
    ASSERT_EQ(ZR_OK, GetZipItem(hZip, 0, &entry));
    EXPECT_STREQ("s.txt", entry.name);
    EXPECT_EQ(ZR_PASSWORD_ERROR, ExtractZipItem(hZip, 0, "s.txt"));
    EXPECT_FALSE(Pf_PathExists(m_dir.File("out/s.txt")));
    EXPECT_EQ(ZR_OK, CloseZipHandle(hZip));

    hZip = OpenZip(m_dir.File("plain.zip").c_str());
    ASSERT_TRUE(hZip);
    EXPECT_EQ(ZR_OK, ExtractZipItem(hZip, 0, "good.txt"));
    EXPECT_EQ(ZR_INFLATE_ERROR, ExtractZipItem(hZip, 1, "crc.txt"));
    EXPECT_EQ(ZR_CORRUPT_ITEM, GetZipItem(hZip, 2, &entry));
    // The handle stays usable after failures.
    EXPECT_EQ(ZR_OK, ExtractZipItem(hZip, 0, "again.txt"));
    EXPECT_EQ("good data", Rv_TestReadFile(m_dir.File("out/again.txt")));
    // A target that cannot be created.
    EXPECT_EQ(ZR_FILE_ERROR, ExtractZipItem(hZip, 0, ""));
    EXPECT_EQ(ZR_OK, CloseZipHandle(hZip));
}

TEST_F(ZipTest, BadArgumentsAndHandles)
{
    Shell("echo x > x.txt && zip -q one.zip x.txt && echo 'not a zip' > bad.zip");
    EXPECT_FALSE(OpenZip(m_dir.File("missing.zip").c_str()));
    EXPECT_FALSE(OpenZip(m_dir.File("bad.zip").c_str()));
    EXPECT_FALSE(OpenZip(nullptr));

    ZipHandle* hZip = OpenZip(m_dir.File("one.zip").c_str());
    ASSERT_TRUE(hZip);
    ZipEntry entry;
    memset(&entry, 0x55, sizeof(entry));
    ASSERT_EQ(ZR_OK, GetZipItem(hZip, -1, &entry));
    EXPECT_EQ(1, entry.index);
    EXPECT_STREQ("", entry.name);
    EXPECT_EQ(0u, entry.attr);
    EXPECT_EQ(0, entry.unc_size);
    EXPECT_EQ(ZR_BAD_ARGUMENT, GetZipItem(hZip, 1, &entry));
    EXPECT_EQ(ZR_BAD_ARGUMENT, GetZipItem(hZip, -2, &entry));
    EXPECT_EQ(ZR_BAD_ARGUMENT, ExtractZipItem(hZip, -1, "x.txt"));
    EXPECT_EQ(ZR_BAD_ARGUMENT, ExtractZipItem(hZip, 1, "x.txt"));
    EXPECT_FALSE(Pf_PathExists(m_dir.File("out/x.txt")));
    EXPECT_EQ(ZR_BAD_ARGUMENT, GetZipItem(nullptr, 0, &entry));
    EXPECT_EQ(ZR_BAD_ARGUMENT, ExtractZipItem(nullptr, 0, "x"));
    EXPECT_EQ(ZR_BAD_ARGUMENT, CloseZipHandle(nullptr));
    ZipHandle wrong = {2, hZip->pArchive};
    EXPECT_EQ(ZR_WRONG_HANDLE, GetZipItem(&wrong, 0, &entry));
    EXPECT_EQ(ZR_WRONG_HANDLE, ExtractZipItem(&wrong, 0, "x"));
    EXPECT_EQ(ZR_WRONG_HANDLE, CloseZipHandle(&wrong));
    EXPECT_EQ(ZR_OK, ExtractZipItem(hZip, 0, "x.txt"));
    EXPECT_EQ("x\n", Rv_TestReadFile(m_dir.File("out/x.txt")));
    EXPECT_EQ(ZR_OK, CloseZipHandle(hZip));
}

} // namespace
