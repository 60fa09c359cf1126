// The package configuration file: loading checks, byte-exact saves, the
// replace-by-rename save that never leaves a short file, the version reader.
#include "package/data_config.h"
#include "platform/file.h"
#include "platform/text.h"
#include "tests/support/package_builder.h"
#include "tests/support/package_log_capture.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>
#include <cstring>
#include <unistd.h>

namespace {
std::u16string W(const std::string& str)
{
    return Pf_Utf8ToUtf16(str);
}
}

TEST(DataConfigFile, LoadAndSaveKeepUninterpretedBytes)
{
    Rv_TestTempDir dir;
    Rv_TestConfigSpec Spec;
    Spec.byFill = 0xA7;
    Spec.uDataVersion = 41;
    std::string strOriginal = Rv_TestMakeConfig(Spec);
    Rv_TestWriteFile(dir.File("Package.CFG"), strOriginal);

    Rv_DataConfigFile File;
    ASSERT_TRUE(File.Init(W(dir.File("Package.CFG")).c_str()));
    RVPK_DATA_CONFIG Config;
    ASSERT_TRUE(File.LoadDataConfig(&Config));
    EXPECT_EQ(41u, +Config.uDataVersion);
    EXPECT_EQ(4096u, +Config.ullMaxSizePerDataFile);
    Config.uDataVersion = 42;
    Config.PackageState = RVPK_PACKAGE_STATE_UPDATING;
    ASSERT_TRUE(File.SaveDataConfig(&Config));

    std::string strSaved = Rv_TestReadFile(dir.File("Package.CFG"));
    ASSERT_EQ(204u, strSaved.size());
    std::string strExpected = strOriginal;
    uint32_t uVersion = 42;
    memcpy(strExpected.data() + 24, &uVersion, 4);
    strExpected[192] = 2;
    EXPECT_EQ(strExpected, strSaved);
    EXPECT_FALSE(Pf_PathExists(dir.File("Package.CFG.temp")));
}

TEST(DataConfigFile, MalformedFilesAreRefused)
{
    Rv_TestConfigSpec Good;
    std::string strGood = Rv_TestMakeConfig(Good);
    auto WithPrefix = [&](const std::u16string& strPrefix, bool bTerminate) {
        std::string str = strGood;
        char16_t szField[64];
        memset(szField, 0, sizeof(szField));
        for (size_t i = 0; i < strPrefix.size() && i < 64; ++i)
            szField[i] = strPrefix[i];
        if (!bTerminate)
            for (size_t i = strPrefix.size(); i < 64; ++i)
                szField[i] = u'x';
        memcpy(str.data() + 60, szField, sizeof(szField));
        return str;
    };
    Rv_TestConfigSpec ZeroMax;
    ZeroMax.ullMaxSizePerDataFile = 0;
    Rv_TestConfigSpec FourGiB;
    FourGiB.ullMaxSizePerDataFile = 0x100000000ull;
    Rv_TestConfigSpec HugeMax;
    HugeMax.ullMaxSizePerDataFile = UINT64_MAX;
    struct Case {
        const char* cszName;
        std::string strBytes;
        const char* cszLogText;
    } aCases[] = {
        {"203 bytes", strGood.substr(0, 203), "uReadCount == 1"},
        {"205 bytes", strGood + "x", "lFileSize == sizeof(RVPK_DATA_CONFIG)"},
        {"prefix without terminator", WithPrefix(u"pak", false), "szFileNamePrefix terminated"},
        {"empty prefix", WithPrefix(u"", true), "Rv_IsSafeFileName(szFileNamePrefix)"},
        {"prefix ..", WithPrefix(u"..", true), "Rv_IsSafeFileName(szFileNamePrefix)"},
        {"prefix with separator", WithPrefix(u"..\\..\\x", true), "Rv_IsSafeFileName(szFileNamePrefix)"},
        {"prefix absolute", WithPrefix(u"/etc/pak", true), "Rv_IsSafeFileName(szFileNamePrefix)"},
        {"maximum size 0", Rv_TestMakeConfig(ZeroMax), "ullMaxSizePerDataFile > 0"},
        {"maximum size 4 GiB", Rv_TestMakeConfig(FourGiB), "ullMaxSizePerDataFile <= UINT32_MAX"},
        {"maximum size far above 4 GiB", Rv_TestMakeConfig(HugeMax), "ullMaxSizePerDataFile = 18446744073709551615"},
    };
    for (const Case& c : aCases) {
        Rv_TestTempDir dir;
        Rv_TestPackageLog Log;
        Rv_TestWriteFile(dir.File("Package.CFG"), c.strBytes);
        Rv_DataConfigFile File;
        ASSERT_TRUE(File.Init(W(dir.File("Package.CFG")).c_str()));
        RVPK_DATA_CONFIG Config;
        EXPECT_FALSE(File.LoadDataConfig(&Config)) << c.cszName;
        EXPECT_TRUE(Log.Has(c.cszLogText)) << c.cszName << "\n" << Log.All();
        EXPECT_EQ(c.strBytes, Rv_TestReadFile(dir.File("Package.CFG"))) << c.cszName;
    }
}

TEST(DataConfigFile, MissingFileAndBadArguments)
{
    Rv_TestTempDir dir;
    Rv_TestPackageLog Log;
    Rv_DataConfigFile File;
    EXPECT_FALSE(File.Init(nullptr));
    EXPECT_FALSE(File.Init(u""));
    EXPECT_FALSE(File.Init(std::u16string(260, u'a').c_str()));
    ASSERT_TRUE(File.Init(W(dir.File("Package.CFG")).c_str()));
    RVPK_DATA_CONFIG Config;
    EXPECT_FALSE(File.LoadDataConfig(&Config));
    EXPECT_TRUE(Log.Has("Error: open file failed. m_szDataFilePath = " + dir.File("Package.CFG")));
    EXPECT_FALSE(File.LoadDataConfig(nullptr));
}

// A write that fails only when the buffer is flushed (a full disk) fails the
// save, and the good file stays in place.
TEST(DataConfigFile, FullDiskAtCloseKeepsTheOldFile)
{
    Rv_TestTempDir dir;
    Rv_TestPackageLog Log;
    std::string strOriginal = Rv_TestMakeConfig(Rv_TestConfigSpec());
    Rv_TestWriteFile(dir.File("Package.CFG"), strOriginal);
    ASSERT_EQ(0, symlink("/dev/full", dir.File("Package.CFG.temp").c_str()));

    Rv_DataConfigFile File;
    ASSERT_TRUE(File.Init(W(dir.File("Package.CFG")).c_str()));
    RVPK_DATA_CONFIG Config;
    ASSERT_TRUE(File.LoadDataConfig(&Config));
    Config.uDataVersion = 7;
    EXPECT_FALSE(File.SaveDataConfig(&Config));
    EXPECT_TRUE(Log.Has("Rv_CloseWrittenFile(fpTempDataConfig)")) << Log.All();
    EXPECT_EQ(strOriginal, Rv_TestReadFile(dir.File("Package.CFG")));
}

TEST(DataConfigFile, SaveReplacesLeftoverTemporaryFile)
{
    Rv_TestTempDir dir;
    Rv_TestWriteFile(dir.File("Package.CFG"), Rv_TestMakeConfig(Rv_TestConfigSpec()));
    Rv_TestWriteFile(dir.File("Package.CFG.temp"), "half");
    Rv_DataConfigFile File;
    ASSERT_TRUE(File.Init(W(dir.File("Package.CFG")).c_str()));
    RVPK_DATA_CONFIG Config;
    ASSERT_TRUE(File.LoadDataConfig(&Config));
    ASSERT_TRUE(File.SaveDataConfig(&Config));
    EXPECT_EQ(Rv_TestMakeConfig(Rv_TestConfigSpec()), Rv_TestReadFile(dir.File("Package.CFG")));
    EXPECT_FALSE(Pf_PathExists(dir.File("Package.CFG.temp")));
}

TEST(PakV3DataVersion, ReadsAtLeast204Bytes)
{
    Rv_TestTempDir dir;
    Rv_TestConfigSpec Spec;
    Spec.uDataVersion = 1234;
    uint32_t uVersion = 0;

    Rv_TestWriteFile(dir.File("Package.CFG"), Rv_TestMakeConfig(Spec) + "trailing");
    EXPECT_TRUE(Rv_GetPakV3DataVersion(&uVersion, W(dir.Path()).c_str()));
    EXPECT_EQ(1234u, uVersion);

    Rv_TestWriteFile(dir.File("Package.CFG"), Rv_TestMakeConfig(Spec).substr(0, 203));
    EXPECT_FALSE(Rv_GetPakV3DataVersion(&uVersion, W(dir.Path()).c_str()));
    EXPECT_FALSE(Rv_GetPakV3DataVersion(&uVersion, nullptr));
    EXPECT_FALSE(Rv_GetPakV3DataVersion(nullptr, W(dir.Path()).c_str()));

    // A folder of 258 characters still gets its whole file name.
    std::string strLong = dir.Path() + "/";
    strLong += std::string(258 - strLong.size(), 'd');
    Rv_TestWriteFile(strLong + "/Package.CFG", Rv_TestMakeConfig(Spec));
    uVersion = 0;
    EXPECT_TRUE(Rv_GetPakV3DataVersion(&uVersion, W(strLong).c_str()));
    EXPECT_EQ(1234u, uVersion);
}
