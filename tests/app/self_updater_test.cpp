// The self-updater against a loopback server: the folder address from the
// configuration, the rules of the version file, the downloads with their MD5
// check, and the replacement of the installed files.
#include "app/self_updater.h"

#include "config/application_path.h"
#include "platform/crash_point.h"
#include "platform/file.h"
#include "tests/foundation/log_capture.h"
#include "tests/support/http_server.h"
#include "tests/support/stamped_copy.h"
#include "tests/support/temp_dir.h"
#include "tests/support/update_client.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

std::string _MD5Of(const std::string& strFile)
{
    return Rv_TestRun("md5sum '" + strFile + "' | cut -c1-32 | tr -d '\\n'");
}

std::string _Upper(std::string str)
{
    for (char& c : str)
        c = (char)toupper((unsigned char)c);
    return str;
}

// "server>local" of every listed file, blank-separated.
std::string _Listed(const Rv_SelfUpdater& Updater)
{
    std::string strList;
    for (const Rv_SelfUpdateFile& File : Updater.GetFileList())
        strList += (strList.empty() ? "" : " ") + File.strFileName + ">" + File.strLocalFileName;
    return strList;
}

class SelfUpdaterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Rv_TestWriteFile(m_Dir.File("sim/sleep_divisor"), "100\n");
        setenv("RV_SIM_ROOT", m_Dir.File("sim").c_str(), 1);
        unsetenv("http_proxy");
        unsetenv("HTTP_PROXY");
        m_Server.Start();
        Pf_CreateDirChain(m_Dir.File("app/update"));
        Rv_TestWriteFile(App("refitter.ini"), "[server_1]\nip=" + m_Server.Url("/") + "\n");
        Rv_TestWriteFile(App("version.cfg"), Rv_TestVersionCfg("1.0"));
        SetOwnVersion("1.0.0.5");
    }
    void TearDown() override
    {
        Rv_SetApplicationNameForTest("");
        m_Server.Stop();
        unsetenv("RV_SIM_ROOT");
    }
    // The running executable, as the self-updater sees it, carries this version.
    void SetOwnVersion(const std::string& strVersion)
    {
        ASSERT_TRUE(Rv_TestWriteStampedCopy("", m_Dir.File("own/Refitter.exe"), strVersion));
        Rv_SetApplicationNameForTest(m_Dir.File("own/Refitter.exe"));
    }
    std::string App(const std::string& strName) { return m_Dir.File("app/" + strName); }
    // A file of the work folder as the updater's log lines name it, and on disk.
    std::string Work(const std::string& strName) { return App("update") + "\\" + strName; }
    std::string WorkFile(const std::string& strName) { return App("update/" + strName); }
    std::string Server(const std::string& strName) { return m_Dir.File("www/zhcn/updaterV2/" + strName); }
    int Init() { return m_Updater.Init(App("").c_str(), App("update").c_str()); }
    // Puts the files on the server and lists them (their true MD5s unless given).
    void Offer(const std::string& strLatest, const std::vector<std::pair<std::string, std::string>>& vecFiles,
               const std::vector<std::string>& vecMD5s = {})
    {
        std::string strText = "[version]\nLatestVersion=" + strLatest + "\n[updatefilelist]\n";
        for (size_t i = 0; i < vecFiles.size(); ++i) {
            Rv_TestWriteFile(Server(vecFiles[i].first), vecFiles[i].second);
            std::string strMD5 = i < vecMD5s.size() ? vecMD5s[i] : _MD5Of(Server(vecFiles[i].first));
            strText += "FileName_" + std::to_string(i) + "=" + vecFiles[i].first + "\n";
            strText += "FileMD5_" + std::to_string(i) + "=" + strMD5 + "\n";
        }
        Rv_TestWriteFile(Server("updaterversion.txt"), strText);
    }
    // Init, the check (which must find the update) and the download.
    void Download()
    {
        int nFlag = -1;
        ASSERT_TRUE(Init());
        ASSERT_TRUE(m_Updater.CheckNeedUpdate(&nFlag));
        ASSERT_EQ(1, nFlag);
        ASSERT_TRUE(m_Updater.DownloadFiles());
    }

    Rv_TestTempDir m_Dir;
    Rv_TestLogCapture m_Log{m_Dir};
    Rv_TestHttpServer m_Server{m_Dir.File("www")};
    Rv_SelfUpdater m_Updater;
};

}  // namespace

TEST_F(SelfUpdaterTest, FolderAddressFromTheConfiguration)
{
    struct Case {
        std::string strIp;          // "" : no refitter.ini
        std::string strVersionCfg;
        std::string strDevIp;       // "" : no refitterDev.ini
        const char* cszWant;        // nullptr: Init fails
        const char* cszLog;
    };
    const std::string strLine = "[Version]\nTalon5.VersionLineName=zhcn\n";
    const Case aCases[] = {
        {"http://h/a", strLine, "", "http://h/a/zhcn/updaterV2/", ""},
        {"http://h/a/", strLine + "Talon5.versionex=beta\n", "", "http://h/a/zhcn_beta/updaterV2/", ""},
        {"http://h\\", strLine + "Talon5.versionex=\n", "", "http://h\\zhcn/updaterV2/", ""},
        {"http://h", strLine, "http://dev/x", "http://dev/x/", ""},
        {"http://h", strLine, "http://dev/x\\", "http://dev/x\\", ""},
        {"", strLine, "http://dev/x", nullptr, "Failed to load CONFIG_KEY_DOWNLOAD_URL"},
        {"http://h", "[Version]\nTalon5.version=1.0\n", "", nullptr, "Failed to load version type."},
        {"http://h", strLine + "Talon5.versionex=" + std::string(260, 'e') + "\n", "", nullptr, ""},
        {std::string(260, 'h'), strLine, "", nullptr, "Failed to load CONFIG_KEY_DOWNLOAD_URL"},
    };
    for (const Case& c : aCases) {
        Pf_DeleteFile(App("refitter.ini"));
        Pf_DeleteFile(App("refitterDev.ini"));
        if (!c.strIp.empty())
            Rv_TestWriteFile(App("refitter.ini"), "[server_1]\nip=" + c.strIp + "\n");
        if (!c.strDevIp.empty())
            Rv_TestWriteFile(App("refitterDev.ini"), "[server_1]\nip=" + c.strDevIp + "\n");
        Rv_TestWriteFile(App("version.cfg"), c.strVersionCfg);
        Rv_SelfUpdater Updater;
        EXPECT_EQ(c.cszWant != nullptr, Updater.Init(App("").c_str(), App("update").c_str()) != 0) << c.strIp;
        if (c.cszWant) {
            EXPECT_EQ(c.cszWant, Updater.GetURLPrefix()) << c.strIp;
        }
        EXPECT_NE(std::string::npos, m_Log.Text().find(c.cszLog)) << c.strIp;
    }
    Rv_SelfUpdater Updater;
    EXPECT_FALSE(Updater.Init("", App("update").c_str()));
    EXPECT_FALSE(Updater.Init(App("").c_str(), ""));
}

TEST_F(SelfUpdaterTest, VersionFileRules)
{
    struct Case {
        const char* cszName;
        std::string strText;    // of updaterversion.txt
        bool bOk;
        int nFlag;
        std::string strListed;
    };
    const std::string strMD5 = "0123456789abcdef0123456789abcdef";
    const std::string strHead = "[version]\nLatestVersion=1.0.0.8\n[updatefilelist]\n";
    const Case aCases[] = {
        {"only the first files without a gap count",
         strHead + "FileName_0=Refitter_1.0.0.8.exe\nFileMD5_0=" + strMD5 + "\nFileName_1=Dumper_2.dll\nFileMD5_1=" +
             strMD5 + "\nFileName_3=Other_1.dll\nFileMD5_3=" + strMD5 + "\n",
         true, 1, "Refitter_1.0.0.8.exe>Refitter.exe Dumper_2.dll>Dumper.dll"},
        {"keys without case", strHead + "filename_0=a_b_c.x.dat\nFILEMD5_0=" + strMD5 + "\n", true, 1, "a_b_c.x.dat>a.dat"},
        {"equal version", "[version]\nLatestVersion=1.0.0.5\n", true, 0, ""},
        {"older version", "[version]\nLatestVersion=1.0.0.4\n", true, 0, ""},
        {"newer in three parts", "[version]\nLatestVersion=1.0.1\n", true, 1, ""},
        {"no list", "[version]\nLatestVersion=1.0.0.8\n", true, 1, ""},
        {"no MD5 key", strHead + "FileName_0=Refitter_1.exe\nFileMD5_0=" + strMD5 + "\nFileName_1=Dumper_2.dll\n",
         false, 0, ""},
        {"name without _", strHead + "FileName_0=Refitter.exe\nFileMD5_0=" + strMD5 + "\n", false, 0, ""},
        {"name without .", strHead + "FileName_0=Refitter_1\nFileMD5_0=" + strMD5 + "\n", false, 0, ""},
        {"name with a folder", strHead + "FileName_0=..\\..\\Refitter_1.exe\nFileMD5_0=" + strMD5 + "\n", false, 0, ""},
        {"name with a slash", strHead + "FileName_0=bin/Refitter_1.exe\nFileMD5_0=" + strMD5 + "\n", false, 0, ""},
        {"local name twice",
         strHead + "FileName_0=Refitter_1.exe\nFileMD5_0=" + strMD5 + "\nFileName_1=refitter_2.EXE\nFileMD5_1=" + strMD5 +
             "\n",
         false, 0, ""},
        {"no LatestVersion", "[version]\n[updatefilelist]\nFileName_0=Refitter_1.exe\nFileMD5_0=" + strMD5 + "\n", false,
         0, ""},
        {"LatestVersion without parts", "[version]\nLatestVersion=8\n", false, 0, ""},
        {"LatestVersion of 256 characters", "[version]\nLatestVersion=1.0.0.8" + std::string(249, '0') + "\n", false, 0,
         ""},
        {"file name of 256 characters",
         strHead + "FileName_0=Refitter_1." + std::string(245, 'e') + "\nFileMD5_0=" + strMD5 + "\n", false, 0, ""},
        // Far more than a version file holds: not read at all.
        {"oversized file", strHead + "; " + std::string(1 << 20, 'x') + "\n", false, 0, ""},
    };
    for (const Case& c : aCases) {
        Rv_TestWriteFile(Server("updaterversion.txt"), c.strText);
        Rv_SelfUpdater Updater;
        ASSERT_TRUE(Updater.Init(App("").c_str(), App("update").c_str()));
        int nFlag = -1;
        EXPECT_EQ(c.bOk, Updater.CheckNeedUpdate(&nFlag) != 0) << c.cszName;
        if (c.bOk) {
            EXPECT_EQ(c.nFlag, nFlag) << c.cszName;
            EXPECT_EQ(c.strListed, _Listed(Updater)) << c.cszName;
        }
        // The local copy of the version file never stays.
        EXPECT_FALSE(Pf_PathExists(WorkFile("updaterversion.txt"))) << c.cszName;
    }
}

// A version file that goes on past 1 MiB is stopped while it arrives: each
// way ends at the bound, without waiting for the rest, which the server holds.
TEST_F(SelfUpdaterTest, VersionFilePastItsBoundIsStoppedWhileItArrives)
{
    Rv_TestWriteFile(Server("updaterversion.txt"), "[version]\nLatestVersion=1.0.0.8\n; " + std::string(2 << 20, 'x'));
    Rv_TestHttpFault fault;
    fault.bNoContentLength = true;
    fault.llHoldAfter = (1 << 20) + 65536;
    fault.strServePath = "/zhcn/updaterV2/updaterversion.txt";
    m_Server.SetFault("/zhcn/updaterV2/updaterversion.txt*", fault);
    bool bAllStoppedWhileHeld = false;
    std::thread releaser([&] {
        // Both addresses, three ways each.
        bAllStoppedWhileHeld = m_Server.WaitForRequests(6, 30000);
        m_Server.ReleaseHeld();
    });
    int nFlag = -1;
    ASSERT_TRUE(Init());
    EXPECT_FALSE(m_Updater.CheckNeedUpdate(&nFlag));
    releaser.join();
    EXPECT_TRUE(bAllStoppedWhileHeld);
    EXPECT_FALSE(Pf_PathExists(WorkFile("updaterversion.txt")));
}

TEST_F(SelfUpdaterTest, MissingVersionFileOrExecutableStampFails)
{
    int nFlag = -1;
    ASSERT_TRUE(Init());
    EXPECT_FALSE(m_Updater.CheckNeedUpdate(&nFlag));
    EXPECT_FALSE(m_Updater.CheckNeedUpdate(nullptr));

    Offer("1.0.0.8", {});
    Rv_TestWriteFile(m_Dir.File("own/Refitter.exe"), "no stamp");
    EXPECT_FALSE(m_Updater.CheckNeedUpdate(&nFlag));
    EXPECT_FALSE(Pf_PathExists(WorkFile("updaterversion.txt")));
}

TEST_F(SelfUpdaterTest, EmptyListFailsTheDownload)
{
    Offer("1.0.0.8", {});
    int nFlag = -1;
    ASSERT_TRUE(Init());
    ASSERT_TRUE(m_Updater.CheckNeedUpdate(&nFlag));
    EXPECT_EQ(1, nFlag);
    EXPECT_FALSE(m_Updater.DownloadFiles());
    EXPECT_NE(std::string::npos, m_Log.Text().find("self update file list is empty."));
}

// The development address is the whole folder: no version line, no "updaterV2".
TEST_F(SelfUpdaterTest, DevelopmentAddressServesTheVersionFile)
{
    Rv_TestWriteFile(App("refitterDev.ini"), "[server_1]\nip=" + m_Server.Url("/dev") + "\n");
    Rv_TestWriteFile(m_Dir.File("www/dev/updaterversion.txt"),
                     "[version]\nLatestVersion=2.0.0.0\n[updatefilelist]\nFileName_0=Refitter_2.exe\nFileMD5_0=" +
                         _MD5Of("/dev/null") + "\n");
    Rv_TestWriteFile(m_Dir.File("www/dev/Refitter_2.exe"), "");
    Offer("1.0.0.8", {{"Refitter_1.0.0.8.exe", "not this one"}});
    Download();
    EXPECT_EQ("Refitter_2.exe>Refitter.exe", _Listed(m_Updater));
    EXPECT_FALSE(m_Server.RequestsFor("/dev/Refitter_2.exe").empty());
    EXPECT_TRUE(m_Server.RequestsFor("/zhcn/updaterV2/updaterversion.txt").empty());
}

TEST_F(SelfUpdaterTest, ReplacesTheInstalledFilesAndKeepsTheOldOnes)
{
    Rv_TestWriteFile(App("Refitter.exe"), "old program");
    Rv_TestWriteFile(Server("Refitter_1.0.0.8.exe"), "new program");
    // The program's MD5 is listed in capitals; the library is not installed yet.
    Offer("1.0.0.8", {{"Refitter_1.0.0.8.exe", "new program"}, {"Dumper_2.dll", "new library"}},
          {_Upper(_MD5Of(Server("Refitter_1.0.0.8.exe")))});
    Download();
    ASSERT_TRUE(m_Updater.UpdateFiles());

    EXPECT_EQ("new program", Rv_TestReadFile(App("Refitter.exe")));
    EXPECT_EQ(0, access(App("Refitter.exe").c_str(), X_OK));
    EXPECT_EQ("old program", Rv_TestReadFile(WorkFile("Refitter.exe.tmp")));
    EXPECT_EQ("new library", Rv_TestReadFile(App("Dumper.dll")));
    EXPECT_FALSE(Pf_PathExists(WorkFile("Refitter_1.0.0.8.exe")));
    EXPECT_FALSE(Pf_PathExists(WorkFile("Dumper_2.dll")));
    EXPECT_NE(std::string::npos,
              m_Log.Text().find("Move " + App("Dumper.dll") + " to " + Work("Dumper.dll.tmp") + " field."));
}

// A replacement killed at any step leaves every installed file either old
// or new, never missing, and the program new only once the library is too,
// so that the next start, which reads the program's stamp, redoes the rest.
// A replacement that fails at its last file is killed the same way: the
// program stays old whatever the kill cut short.
TEST_F(SelfUpdaterTest, KilledReplacementNeverLeavesAFileMissing)
{
    Rv_TestWriteFile(App("Refitter.exe"), "old program");
    Offer("1.0.0.8", {{"Refitter_1.0.0.8.exe", "new program"},
                      {"Dumper_2.dll", "new library"},
                      {"Helper_2.dll", "new helper"}});
    Download();
    for (bool bFails : {false, true}) {
        int nKilled = 0;
        for (uint64_t uStep = 1; uStep < 30; ++uStep) {
            SCOPED_TRACE((bFails ? "failing at its last file, step " : "step ") + std::to_string(uStep));
            Rv_TestWriteFile(App("Refitter.exe"), "old program");
            Rv_TestWriteFile(App("Dumper.dll"), "old library");
            Pf_RemoveTree(App("Helper.dll"));
            Pf_RemoveTree(WorkFile("Helper.dll.tmp"));
            if (bFails) {
                // A folder in the helper's place that cannot be moved aside either.
                Rv_TestWriteFile(App("Helper.dll/keep"), "");
                Rv_TestWriteFile(WorkFile("Helper.dll.tmp/keep"), "");
            } else {
                Rv_TestWriteFile(App("Helper.dll"), "old helper");
            }
            Rv_TestWriteFile(WorkFile("Refitter_1.0.0.8.exe"), "new program");
            Rv_TestWriteFile(WorkFile("Dumper_2.dll"), "new library");
            Rv_TestWriteFile(WorkFile("Helper_2.dll"), "new helper");
            pid_t nChild = fork();
            ASSERT_NE(-1, nChild);
            if (nChild == 0) {
                Pf_ArmCrashPoint(uStep);
                _exit(m_Updater.UpdateFiles() ? 0 : 1);
            }
            int nStatus = 0;
            ASSERT_EQ(nChild, waitpid(nChild, &nStatus, 0));
            const std::string strProgram = Rv_TestReadFile(App("Refitter.exe"));
            const std::string strLibrary = Rv_TestReadFile(App("Dumper.dll"));
            EXPECT_TRUE(strProgram == "old program" || strProgram == "new program") << strProgram;
            EXPECT_TRUE(strLibrary == "old library" || strLibrary == "new library") << strLibrary;
            if (strProgram == "new program") {
                EXPECT_EQ("new library", strLibrary);
                EXPECT_EQ("new helper", Rv_TestReadFile(App("Helper.dll")));
            }
            if (bFails) {
                EXPECT_EQ("old program", strProgram);
            }
            if (WIFEXITED(nStatus)) {
                EXPECT_EQ(bFails ? 1 : 0, WEXITSTATUS(nStatus));
                EXPECT_EQ(bFails ? "old program" : "new program", strProgram);
                EXPECT_EQ(bFails ? "old library" : "new library", strLibrary);
                break;
            }
            ASSERT_TRUE(WIFSIGNALED(nStatus));
            ++nKilled;
        }
        EXPECT_GE(nKilled, bFails ? 5 : 6);
    }
}

// A download that is wrong or incomplete leaves the installed program alone
// and no file of its own behind, even when the replacement is asked for.
TEST_F(SelfUpdaterTest, WrongOrIncompleteDownloadReplacesNothing)
{
    struct Case {
        const char* cszName;
        bool bWrongMD5;
        Rv_TestHttpFault fault;
        const char* cszLog;
    };
    Rv_TestHttpFault drop;
    drop.llDropAfter = 5000;
    Rv_TestHttpFault missing;
    missing.nStatus = 404;
    const Case aCases[] = {
        {"wrong MD5", true, {}, "The downloaded file Refitter_1.0.0.8.exe with error md5 "},
        {"connection dropped", false, drop, "Failed to download"},
        {"not on the server", false, missing, "Failed to download"},
    };
    for (const Case& c : aCases) {
        Rv_TestWriteFile(App("Refitter.exe"), "old program");
        Offer("1.0.0.8", {{"Refitter_1.0.0.8.exe", std::string(20000, 'n')}},
              {c.bWrongMD5 ? std::string(32, 'a') : _MD5Of(Server("Refitter_1.0.0.8.exe"))});
        m_Server.ClearFaults();
        if (c.fault.nStatus || c.fault.llDropAfter >= 0)
            m_Server.SetFault("/zhcn/updaterV2/Refitter_1.0.0.8.exe", c.fault);
        Rv_SelfUpdater Updater;
        int nFlag = -1;
        ASSERT_TRUE(Updater.Init(App("").c_str(), App("update").c_str()));
        ASSERT_TRUE(Updater.CheckNeedUpdate(&nFlag));
        EXPECT_FALSE(Updater.DownloadFiles()) << c.cszName;
        EXPECT_FALSE(Updater.UpdateFiles()) << c.cszName;
        EXPECT_EQ("old program", Rv_TestReadFile(App("Refitter.exe"))) << c.cszName;
        EXPECT_FALSE(Pf_PathExists(WorkFile("Refitter_1.0.0.8.exe"))) << c.cszName;
        EXPECT_NE(std::string::npos, m_Log.Text().find(c.cszLog)) << c.cszName;
    }
    EXPECT_NE(std::string::npos, m_Log.Text().find("with error md5 " + _MD5Of(Server("Refitter_1.0.0.8.exe")) + "."));
}

// A downloaded file that changed before the replacement stops it before the
// first installed file is touched.
TEST_F(SelfUpdaterTest, FileChangedAfterTheDownloadReplacesNothing)
{
    Rv_TestWriteFile(App("Refitter.exe"), "old program");
    Offer("1.0.0.8", {{"Refitter_1.0.0.8.exe", "new program"}, {"Dumper_2.dll", "new library"}});
    Download();
    Rv_TestWriteFile(WorkFile("Dumper_2.dll"), "new librar");
    EXPECT_FALSE(m_Updater.UpdateFiles());
    EXPECT_EQ("old program", Rv_TestReadFile(App("Refitter.exe")));
    EXPECT_FALSE(Pf_PathExists(WorkFile("Refitter.exe.tmp")));
    EXPECT_FALSE(Pf_PathExists(App("Dumper.dll")));
}

// A file that cannot be put in place fails the replacement after three
// tries; the files replaced before it are put back, last first (the kept old
// file, or none where there was none), and the program, which comes last,
// was never touched. The download of the failed file stays.
TEST_F(SelfUpdaterTest, MoveFailurePutsBackWhatWasReplaced)
{
    Rv_TestWriteFile(App("Refitter.exe"), "old program");
    Rv_TestWriteFile(App("Kept.dll"), "old kept");
    Offer("1.0.0.8", {{"Refitter_1.0.0.8.exe", "new program"},
                      {"Kept_2.dll", "new kept"},
                      {"Added_2.dll", "new added"},
                      {"Dumper_2.dll", "new library"}});
    Download();
    // A folder in the library's place that cannot be moved aside either.
    Rv_TestWriteFile(App("Dumper.dll/keep"), "");
    Rv_TestWriteFile(WorkFile("Dumper.dll.tmp/keep"), "");
    // The replacement runs on the machine as it is, its pauses real.
    unsetenv("RV_SIM_ROOT");
    EXPECT_FALSE(m_Updater.UpdateFiles());
    EXPECT_EQ("old program", Rv_TestReadFile(App("Refitter.exe")));
    EXPECT_FALSE(Pf_PathExists(WorkFile("Refitter.exe.tmp")));
    EXPECT_EQ("old kept", Rv_TestReadFile(App("Kept.dll")));
    EXPECT_FALSE(Pf_PathExists(App("Added.dll")));
    EXPECT_EQ("new library", Rv_TestReadFile(WorkFile("Dumper_2.dll")));
    EXPECT_TRUE(Pf_FileExists(App("Dumper.dll/keep")));
    std::string strLog = m_Log.Text();
    EXPECT_NE(std::string::npos,
              strLog.find("Failed to move file `" + Work("Dumper_2.dll") + "` to `" + App("Dumper.dll") + "`, Error code : "))
        << strLog;
    const size_t uAdded = strLog.find("Restored " + App("Added.dll") + ".");
    const size_t uKept = strLog.find("Restored " + App("Kept.dll") + ".");
    EXPECT_NE(std::string::npos, uAdded) << strLog;
    EXPECT_NE(std::string::npos, uKept) << strLog;
    EXPECT_LT(uAdded, uKept) << "the last replaced comes back first";
}
