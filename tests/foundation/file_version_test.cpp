// File versions read from the version stamp of executables on disk.
#include "foundation/file_version.h"
#include "tests/foundation/log_capture.h"

#include <gtest/gtest.h>

namespace {

// A stamp block as the build writes it: marker, 32-bit LE length, pairs of
// zero-terminated texts and a final zero. The marker is put together here so
// that this test's own executable holds no copy of it.
std::string _StampBlock(const std::string& strPairs)
{
    std::string strMarker = "\x7e" "RVVERSION1";
    strMarker[0] = (char)(strMarker[0] + 1);
    std::string strPayload = strPairs + std::string(1, '\0');
    std::string strLength;
    for (int i = 0; i < 4; ++i)
        strLength += (char)((strPayload.size() >> (8 * i)) & 0xFF);
    return strMarker + strLength + strPayload;
}

std::string _Pair(const std::string& strKey, const std::string& strValue)
{
    return strKey + std::string(1, '\0') + strValue + std::string(1, '\0');
}

}  // namespace

TEST(FileVersion, ReadsTheBuiltExecutablesStamp)
{
    std::string strVersion;
    ASSERT_TRUE(Rv_GetApplicationFileVersionNumber(RV_BINARY_DIR "/bin/Refitter.exe", &strVersion));
    EXPECT_EQ("1.0.0.1", strVersion);
}

TEST(FileVersion, UsesTheFirstTranslation)
{
    Rv_TestTempDir dir;
    std::string strFile = dir.File("Tool.exe");
    Rv_TestWriteFile(strFile, std::string(5000, '\x90') +
                                  _StampBlock(_Pair("\\VarFileInfo\\Translation", "040904e4") +
                                              _Pair("\\StringFileInfo\\080404b0\\FileVersion", "9.9.9.9") +
                                              _Pair("\\StringFileInfo\\040904e4\\FileVersion", "2.5.0.17")) +
                                  std::string(100, '\0'));
    std::string strVersion = "old";
    ASSERT_TRUE(Rv_GetApplicationFileVersionNumber(strFile.c_str(), &strVersion));
    EXPECT_EQ("2.5.0.17", strVersion);
}

TEST(FileVersion, FailuresLogTheCheckAndTheFile)
{
    Rv_TestTempDir dir;
    Rv_TestLogCapture log(dir);
    std::string strPlain = dir.File("true.exe");
    ASSERT_EQ("", Rv_TestRun("cp /bin/true '" + strPlain + "' 2>&1"));
    std::string strOtherTranslation = dir.File("other.exe");
    Rv_TestWriteFile(strOtherTranslation, _StampBlock(_Pair("\\VarFileInfo\\Translation", "040904e4") +
                                                      _Pair("\\StringFileInfo\\080404b0\\FileVersion", "1.2")));
    std::string strNoTranslation = dir.File("none.exe");
    Rv_TestWriteFile(strNoTranslation, _StampBlock(_Pair("\\StringFileInfo\\080404b0\\FileVersion", "1.2")));

    struct Case {
        std::string strFile;
        const char* cszCheck;
    } aCases[] = {
        {strPlain, "RVLOG_PROCESS_ERROR(uInfoSize > 0)"},
        {dir.File("missing.exe"), "RVLOG_PROCESS_ERROR(uInfoSize > 0)"},
        {strOtherTranslation, "RVLOG_PROCESS_ERROR(nRetCode && \"VerQueryValue(FileVersion)\")"},
        {strNoTranslation, "RVLOG_PROCESS_ERROR(nRetCode && \"VerQueryValue(Translation)\")"},
    };
    for (const Case& c : aCases) {
        std::string strVersion = "kept";
        EXPECT_FALSE(Rv_GetApplicationFileVersionNumber(c.strFile.c_str(), &strVersion)) << c.strFile;
        EXPECT_EQ("kept", strVersion);
    }
    std::string strVersion;
    EXPECT_FALSE(Rv_GetApplicationFileVersionNumber("", &strVersion));
    EXPECT_FALSE(Rv_GetApplicationFileVersionNumber(strPlain.c_str(), nullptr));

    std::string strLog = log.Text();
    for (const Case& c : aCases) {
        EXPECT_NE(std::string::npos, strLog.find(std::string(c.cszCheck) + " at line ")) << c.cszCheck;
        EXPECT_NE(std::string::npos, strLog.find("Failed to get version number for file `" + c.strFile + "`, Error code: "))
            << c.strFile;
    }
    EXPECT_NE(std::string::npos, strLog.find(" in Rv_GetApplicationFileVersionNumber\r\n"));
    EXPECT_NE(std::string::npos, strLog.find("Failed to get version number for file `" + dir.File("missing.exe") +
                                             "`, Error code: 2.\r\n"));
    EXPECT_NE(std::string::npos, strLog.find("RVLOG_PROCESS_ERROR(cszFileName && cszFileName[0]) at line "));
    EXPECT_NE(std::string::npos, strLog.find("RVLOG_PROCESS_ERROR(pstrRetVersionNumber) at line "));
}

// A stamp is found wherever it starts, the last bytes before each 1 MiB
// boundary of the reader's chunks included.
TEST(FileVersion, StampAtAnyOffset)
{
    Rv_TestTempDir dir;
    const size_t uMiB = 1u << 20;
    const std::string strStamp = _StampBlock(_Pair("\\VarFileInfo\\Translation", "080404b0") +
                                             _Pair("\\StringFileInfo\\080404b0\\FileVersion", "3.1.4.1"));
    const size_t auOffsets[] = {0, 1, uMiB - 11, uMiB - 10, uMiB - 5, uMiB - 1, uMiB, 2 * uMiB - 3, 3 * uMiB + 7};
    for (size_t uOffset : auOffsets) {
        std::string strFile = dir.File("at" + std::to_string(uOffset) + ".exe");
        // The rest of the file is longer than what the reader takes beyond a chunk.
        Rv_TestWriteFile(strFile, std::string(uOffset, '\x90') + strStamp + std::string(128 * 1024, '\0'));
        std::string strVersion;
        EXPECT_TRUE(Rv_GetApplicationFileVersionNumber(strFile.c_str(), &strVersion)) << uOffset;
        EXPECT_EQ("3.1.4.1", strVersion) << uOffset;
    }
}

// Keys are compared as the system's version query does: without case.
TEST(FileVersion, KeysWithoutCase)
{
    Rv_TestTempDir dir;
    std::string strFile = dir.File("Tool.exe");
    Rv_TestWriteFile(strFile, _StampBlock(_Pair("\\varfileinfo\\TRANSLATION", "080404B0") +
                                          _Pair("\\StringFileInfo\\080404B0\\fileversion", "7.0.0.2")));
    std::string strVersion;
    ASSERT_TRUE(Rv_GetApplicationFileVersionNumber(strFile.c_str(), &strVersion));
    EXPECT_EQ("7.0.0.2", strVersion);
}
