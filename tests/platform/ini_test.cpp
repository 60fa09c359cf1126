// Private-profile ini files: lookups, value rules, writes and concurrent writers.
#include "platform/file.h"
#include "platform/file_lock.h"
#include "platform/ini.h"
#include "platform/thread.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>
#include <cstdlib>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

TEST(Ini, LookupRules)
{
    Rv_TestTempDir dir;
    std::string strFile = dir.File("Config.ini");
    Rv_TestWriteFile(strFile,
                     "\xEF\xBB\xBF[Main]\r\n"
                     "; Server=commented\r\n"
                     "  Server  =  update.example.org  \r\n"
                     "Quoted=\"  spaced  \"\r\n"
                     "Single='x'\r\n"
                     "Unbalanced=\"x'\r\n"
                     "Empty=\r\n"
                     "Equals=a=b\r\n"
                     "NoEquals\r\n"
                     "Server=second\r\n"
                     "\r\n"
                     "[ Other ]\n"
                     "Server=other\n"
                     "[main]\n"
                     "Late=late\n");
    struct Case {
        const char* cszSection;
        const char* cszKey;
        int bPresent;
        const char* cszValue;
    } aCases[] = {
        {"Main", "Server", 1, "update.example.org"},
        {"MAIN", "server", 1, "update.example.org"},
        {"Main", "Quoted", 1, "  spaced  "},
        {"Main", "Single", 1, "x"},
        {"Main", "Unbalanced", 1, "\"x'"},
        {"Main", "Empty", 1, ""},
        {"Main", "Equals", 1, "a=b"},
        {"Main", "NoEquals", 0, ""},
        {"Main", "; Server", 0, ""},
        {"Other", "Server", 1, "other"},
        {"Main", "Late", 0, ""},      // only the first section of a name counts
        {"Missing", "Server", 0, ""},
    };
    for (const Case& c : aCases) {
        std::string strValue;
        EXPECT_EQ(c.bPresent, Pf_IniGetString(strFile, c.cszSection, c.cszKey, &strValue)) << c.cszKey;
        if (c.bPresent) {
            EXPECT_EQ(c.cszValue, strValue) << c.cszKey;
        }
    }
    // Defaults only for absent keys.
    EXPECT_EQ("", Pf_IniReadString(strFile, "Main", "Empty", "dflt"));
    EXPECT_EQ("dflt", Pf_IniReadString(strFile, "Main", "Absent", "dflt"));
    EXPECT_EQ("dflt", Pf_IniReadString(dir.File("none.ini"), "Main", "Server", "dflt"));
    EXPECT_EQ(7, Pf_IniReadInt(strFile, "Main", "Absent", 7));
    EXPECT_EQ(0, Pf_IniReadInt(strFile, "Main", "Empty", 7));
    // The file name is looked up without case and with the system's separators.
    EXPECT_EQ("other", Pf_IniReadString(dir.Path() + "\\CONFIG.INI", "other", "SERVER", ""));

    std::vector<std::string> vecKeys;
    ASSERT_TRUE(Pf_IniGetSectionKeys(strFile, "main", &vecKeys));
    EXPECT_EQ((std::vector<std::string>{"Server", "Quoted", "Single", "Unbalanced", "Empty", "Equals"}), vecKeys);
    EXPECT_FALSE(Pf_IniGetSectionKeys(strFile, "Missing", &vecKeys));
}

TEST(Ini, LongValueComesBackWhole)
{
    Rv_TestTempDir dir;
    std::string strFile = dir.File("a.ini");
    std::string strLong(5000, 'v');
    ASSERT_TRUE(Pf_IniWriteString(strFile, "S", "K", strLong));
    EXPECT_EQ(strLong, Pf_IniReadString(strFile, "S", "K", ""));
}

TEST(Ini, WritesAddReplaceAndKeepTheRest)
{
    Rv_TestTempDir dir;
    std::string strFile = dir.File("u.ini");
    // A new file and a new section.
    ASSERT_TRUE(Pf_IniWriteString(strFile, "Main", "Version", "1.0"));
    EXPECT_EQ("[Main]\r\nVersion=1.0\r\n", Rv_TestReadFile(strFile));

    Rv_TestWriteFile(strFile,
                     "; keep me\n"
                     "[Main]\n"
                     "version = 1.0\n"
                     "Path=x\n"
                     "\n"
                     "[Beta]\n"
                     "a=1");
    ASSERT_TRUE(Pf_IniWriteString(strFile, "MAIN", "VERSION", "2.0"));
    ASSERT_TRUE(Pf_IniWriteString(strFile, "main", "New", ""));
    ASSERT_TRUE(Pf_IniWriteString(strFile, "Beta", "b", "2"));
    ASSERT_TRUE(Pf_IniWriteString(strFile, "Third", "c", "\"quoted\""));
    EXPECT_EQ("; keep me\n"
              "[Main]\n"
              "version=2.0\n"
              "Path=x\n"
              "New=\n"
              "\n"
              "[Beta]\n"
              "a=1\n"
              "b=2\n"
              "[Third]\n"
              "c=\"quoted\"\n",
              Rv_TestReadFile(strFile));
    EXPECT_EQ("2.0", Pf_IniReadString(strFile, "main", "version", ""));
    EXPECT_EQ("", Pf_IniReadString(strFile, "main", "new", "dflt"));
    EXPECT_EQ("quoted", Pf_IniReadString(strFile, "third", "C", ""));
    std::vector<std::string> vecKeys;
    ASSERT_TRUE(Pf_IniGetSectionKeys(strFile, "Main", &vecKeys));
    EXPECT_EQ((std::vector<std::string>{"version", "Path", "New"}), vecKeys);
}

// A write leaves the folder as it found it but for the file itself: the
// lock lies in the user's runtime folder, and a rewritten file keeps its mode.
TEST(Ini, WritesLeaveNothingBesideTheFileAndKeepItsMode)
{
    Rv_TestTempDir dir;
    Rv_TestTempDir runtime;
    setenv("RV_EVENT_PREFIX", (runtime.Path() + "/").c_str(), 1);
    std::string strFile = dir.File("client/refitter.ini");
    Rv_TestWriteFile(strFile, "[Main]\na=1\n");
    for (mode_t uMode : {0600, 0640, 0664}) {
        ASSERT_EQ(0, chmod(strFile.c_str(), uMode));
        ASSERT_TRUE(Pf_IniWriteString(strFile, "Main", "a", std::to_string(uMode)));
        struct stat st;
        ASSERT_EQ(0, stat(strFile.c_str(), &st));
        EXPECT_EQ(uMode, st.st_mode & 07777) << uMode;
    }
    EXPECT_EQ("refitter.ini\n", Rv_TestRun("ls -A '" + dir.File("client") + "'"));
    std::string strLock;
    ASSERT_TRUE(Pf_FileLockPathFor(strFile, &strLock));
    EXPECT_EQ(runtime.Path() + "/", strLock.substr(0, runtime.Path().size() + 1));
    EXPECT_TRUE(Pf_FileExists(strLock)) << strLock;
    unsetenv("RV_EVENT_PREFIX");
}

// One lock for the file however its path is spelled, another for another file.
TEST(Ini, LockIsKeyedByTheFilesPath)
{
    Rv_TestTempDir dir;
    ASSERT_TRUE(Pf_CreateDirChain(dir.File("a/b")));
    ASSERT_EQ("", Rv_TestRun("ln -s '" + dir.File("a") + "' '" + dir.File("link") + "' 2>&1"));
    std::string strLock;
    ASSERT_TRUE(Pf_FileLockPathFor(dir.File("a/x.ini"), &strLock));
    for (const std::string& strSpelling : {dir.File("a/b/../x.ini"), dir.File("link/x.ini"), dir.File("a/X.INI")}) {
        std::string strOther;
        ASSERT_TRUE(Pf_FileLockPathFor(strSpelling, &strOther));
        EXPECT_EQ(strLock, strOther) << strSpelling;
    }
    std::string strOther;
    ASSERT_TRUE(Pf_FileLockPathFor(dir.File("a/b/x.ini"), &strOther));
    EXPECT_NE(strLock, strOther);
}

TEST(Ini, RefusesWritesThatWouldBreakTheFile)
{
    Rv_TestTempDir dir;
    std::string strFile = dir.File("u.ini");
    Rv_TestWriteFile(strFile, "[S]\nk=v\n");
    const char* aBad[][3] = {
        {"", "k", "v"},       {"S]", "k", "v"},   {" S", "k", "v"},  {"S", "", "v"},
        {"S", "a=b", "v"},    {"S", ";k", "v"},   {"S", "[k", "v"},  {"S", "k ", "v"},
        {"S", "k", "v\nx=y"}, {"S", "k", "v\r"},  {"S\n", "k", "v"},
    };
    for (const auto& a : aBad)
        EXPECT_FALSE(Pf_IniWriteString(strFile, a[0], a[1], a[2])) << a[0] << "/" << a[1] << "/" << a[2];
    EXPECT_EQ("[S]\nk=v\n", Rv_TestReadFile(strFile));
    // No file is made in a missing folder.
    EXPECT_FALSE(Pf_IniWriteString(dir.File("missing/u.ini"), "S", "k", "v"));
}

namespace {

struct WriterArg {
    std::string strFile;
    std::string strPrefix;
    int nCount;
};

void _WriteKeys(void* pvArg)
{
    WriterArg* pArg = (WriterArg*)pvArg;
    for (int i = 0; i < pArg->nCount; ++i)
        Pf_IniWriteString(pArg->strFile, "Keys", pArg->strPrefix + std::to_string(i), std::to_string(i));
}

}  // namespace

TEST(Ini, ConcurrentWritersLoseNothing)
{
    Rv_TestTempDir dir;
    const int nThreads = 4;
    const int nPerWriter = 40;
    std::string strFile = dir.File("shared.ini");

    // A second process writes its own keys while the threads of this one write theirs.
    pid_t nChild = fork();
    ASSERT_GE(nChild, 0);
    if (nChild == 0) {
        WriterArg arg{strFile, "p", nPerWriter};
        _WriteKeys(&arg);
        _exit(0);
    }
    WriterArg aArgs[nThreads];
    Pf_Thread aThreads[nThreads];
    for (int t = 0; t < nThreads; ++t) {
        aArgs[t] = WriterArg{strFile, "t" + std::to_string(t) + "_", nPerWriter};
        ASSERT_TRUE(aThreads[t].Start(_WriteKeys, &aArgs[t]));
    }
    for (Pf_Thread& thread : aThreads)
        thread.Join();
    int nStatus = 0;
    ASSERT_EQ(nChild, waitpid(nChild, &nStatus, 0));
    ASSERT_TRUE(WIFEXITED(nStatus) && WEXITSTATUS(nStatus) == 0);

    std::vector<std::string> vecKeys;
    ASSERT_TRUE(Pf_IniGetSectionKeys(strFile, "Keys", &vecKeys));
    EXPECT_EQ((size_t)(nThreads + 1) * nPerWriter, vecKeys.size());
    for (int i = 0; i < nPerWriter; ++i) {
        EXPECT_EQ(i, Pf_IniReadInt(strFile, "Keys", "p" + std::to_string(i), -1));
        for (int t = 0; t < nThreads; ++t)
            EXPECT_EQ(i, Pf_IniReadInt(strFile, "Keys", "t" + std::to_string(t) + "_" + std::to_string(i), -1));
    }
}

TEST(Ini, SectionValuesInFileOrder)
{
    Rv_TestTempDir dir;
    std::string strFile = dir.File("a.ini");
    Rv_TestWriteFile(strFile, "[A]\nx=1\n[List]\r\n k = \"v 1\" \n;c=9\nK=2\nnoequals\nm=\n[list]\nz=3\n");
    std::vector<std::pair<std::string, std::string>> vecValues;
    ASSERT_TRUE(Pf_IniGetSectionValues(strFile, "LIST", &vecValues));
    EXPECT_EQ((std::vector<std::pair<std::string, std::string>>{{"k", "v 1"}, {"K", "2"}, {"m", ""}}), vecValues);
    EXPECT_FALSE(Pf_IniGetSectionValues(strFile, "Missing", &vecValues));
    EXPECT_FALSE(Pf_IniGetSectionValues(dir.File("none.ini"), "A", &vecValues));
}
