// The self-update of the built Refitter.exe, started with an empty command
// line in a client folder: the server's newer updater replaces the running
// one and a new copy runs the ordinary update; no newer updater lets the
// window copy go on; a failed download or replacement; a self-update killed
// at each step of its replacement; a second copy refused.
#include "tests/e2e/update_run_fixture.h"

#include "foundation/file_version.h"
#include "foundation/process_count.h"
#include "platform/clock.h"
#include "platform/process.h"
#include "platform/thread.h"
#include "tests/support/stamped_copy.h"

namespace {

const char* const s_cszLatestText = "客户端已是最新版本，无需更新";
const char* const s_cszUpdateFailed = "更新失败！";

class SelfUpdateRun : public UpdateRoad {
protected:
    std::string Updater(const std::string& strName) { return Server("updaterV2/" + strName); }
    // Offers these updater files (their true MD5s unless given) as version strLatest.
    void OfferUpdater(const std::string& strLatest, const std::vector<std::string>& vecNames,
                      const std::vector<std::string>& vecMD5s = {})
    {
        std::string strText = "[version]\nLatestVersion=" + strLatest + "\n[updatefilelist]\n";
        for (size_t i = 0; i < vecNames.size(); ++i) {
            std::string strMD5 = i < vecMD5s.size()
                                     ? vecMD5s[i]
                                     : Rv_TestRun("md5sum '" + Updater(vecNames[i]) + "' | cut -c1-32 | tr -d '\\n'");
            strText += "FileName_" + std::to_string(i) + "=" + vecNames[i] + "\n";
            strText += "FileMD5_" + std::to_string(i) + "=" + strMD5 + "\n";
        }
        Rv_TestWriteFile(Updater("updaterversion.txt"), strText);
    }
    // The server's updater: a copy of the installed one stamped strVersion.
    std::string NewUpdater(const std::string& strVersion)
    {
        std::string strName = "Refitter_" + strVersion + ".exe";
        EXPECT_TRUE(Rv_TestWriteStampedCopy(Client("Refitter.exe"), Updater(strName), strVersion));
        return strName;
    }
    // Waits until no copy runs from the client's executable or its kept old one.
    void WaitForCopies()
    {
        unsigned uNew = 1;
        unsigned uOld = 1;
        for (int i = 0; i < 1200; ++i) {
            if (Rv_GetProcessCount(Client("Refitter.exe").c_str(), &uNew) &&
                Rv_GetProcessCount(Client("update/Refitter.exe.tmp").c_str(), &uOld) && uNew == 0 && uOld == 0)
                return;
            Pf_Sleep(100);
        }
        ADD_FAILURE() << "a copy of the updater still runs";
    }
    std::string VersionOf(const std::string& strFile)
    {
        std::string strVersion;
        Rv_GetApplicationFileVersionNumber(strFile.c_str(), &strVersion);
        return strVersion;
    }
    size_t Occurrences(const std::string& strText, const std::string& strPart)
    {
        size_t uCount = 0;
        for (size_t uPos = strText.find(strPart); uPos != std::string::npos; uPos = strText.find(strPart, uPos + 1))
            ++uCount;
        return uCount;
    }
};

}  // namespace

TEST_F(SelfUpdateRun, NewerUpdaterReplacesTheRunningOneAndANewCopyUpdates)
{
    Rv_TestWritePatchServer(Server(""), "1.1", {PlainPatch("1.0", "1.1", {{"a.txt", "new"}})});
    OfferUpdater("1.0.0.9", {NewUpdater("1.0.0.9")});

    EXPECT_EQ(0, Run(""));
    WaitForCopies();

    EXPECT_EQ("1.0.0.9", VersionOf(Client("Refitter.exe")));
    EXPECT_EQ("1.0.0.1", VersionOf(Client("update/Refitter.exe.tmp")));
    EXPECT_FALSE(Pf_PathExists(Client("update/Refitter_1.0.0.9.exe")));
    // The new copy ran the ordinary update to its end.
    EXPECT_EQ("1.1", InstalledVersion()) << Logs();
    EXPECT_EQ("new", Rv_TestReadFile(Client("a.txt")));
    EXPECT_TRUE(Shows("SetUpdateState\t4")) << Transcript();
    std::string strLogs = Logs();
    EXPECT_NE(std::string::npos, strLogs.find("Started `\"" + Client("Refitter.exe") + "\" -w ")) << strLogs;
    EXPECT_NE(std::string::npos, strLogs.find("Command line : -a")) << strLogs;
    // The window copy was ended: only the self-update and the new copy exit.
    EXPECT_EQ(2u, Occurrences(strLogs, "Refitter exit !")) << strLogs;
}

TEST_F(SelfUpdateRun, NoNewerUpdaterLetsTheWindowCopyRunOn)
{
    Rv_TestWritePatchServer(Server(""), "1.0", {});
    struct Case {
        const char* cszLatest;
    } aCases[] = {{"1.0.0.1"}, {"1.0.0.0"}};
    for (const Case& c : aCases) {
        Pf_DeleteFile(m_Dir.File("sim/movie_transcript"));
        OfferUpdater(c.cszLatest, {NewUpdater("1.0.0.9")});
        EXPECT_EQ(0, Run("")) << c.cszLatest;
        WaitForCopies();
        EXPECT_EQ("1.0.0.1", VersionOf(Client("Refitter.exe"))) << c.cszLatest;
        EXPECT_FALSE(Pf_PathExists(Client("update/Refitter.exe.tmp"))) << c.cszLatest;
        EXPECT_TRUE(m_Server.RequestsFor("/zhcn/updaterV2/Refitter_1.0.0.9.exe").empty()) << c.cszLatest;
        EXPECT_TRUE(Shows(std::string("SetTxtM\t") + s_cszLatestText)) << c.cszLatest << "\n" << Transcript();
    }
    EXPECT_NE(std::string::npos, Logs().find("Update with the window, mode 1.")) << Logs();
}

// A wrong or unreachable updater replaces nothing, is reported, and the
// window copy learns of the failure.
TEST_F(SelfUpdateRun, FailedDownloadTellsTheWindowCopy)
{
    Rv_TestWritePatchServer(Server(""), "1.0", {});
    struct Case {
        const char* cszWhat;
        bool bWrongMD5;
        bool bMissing;
    } aCases[] = {{"wrong MD5", true, false}, {"not on the server", false, true}};
    for (const Case& c : aCases) {
        Pf_DeleteFile(m_Dir.File("sim/movie_transcript"));
        std::string strName = NewUpdater("1.0.0.9");
        OfferUpdater("1.0.0.9", {strName}, c.bWrongMD5 ? std::vector<std::string>{std::string(32, '0')}
                                                        : std::vector<std::string>{});
        if (c.bMissing)
            Pf_DeleteFile(Updater(strName));
        EXPECT_EQ(1, Run("")) << c.cszWhat;
        WaitForCopies();
        EXPECT_EQ("1.0.0.1", VersionOf(Client("Refitter.exe"))) << c.cszWhat;
        EXPECT_FALSE(Pf_PathExists(Client("update/Refitter.exe.tmp"))) << c.cszWhat;
        EXPECT_FALSE(Pf_PathExists(Client("update/" + strName))) << c.cszWhat;
        EXPECT_TRUE(ShowsError(s_cszUpdateFailed)) << c.cszWhat << "\n" << Transcript();
    }
}

// A companion file that cannot be put in place fails the self-update after
// the window copy was ended: the companion replaced before it is put back,
// the executable (installed last) stays the old one, and the old set of
// files runs the ordinary update.
TEST_F(SelfUpdateRun, FailedReplacementPutsTheOldFilesBack)
{
    Rv_TestWritePatchServer(Server(""), "1.1", {PlainPatch("1.0", "1.1", {{"a.txt", "new"}})});
    Rv_TestWriteFile(Updater("Helper_2.dll"), "new helper");
    Rv_TestWriteFile(Updater("Dumper_2.dll"), "library");
    OfferUpdater("1.0.0.9", {NewUpdater("1.0.0.9"), "Helper_2.dll", "Dumper_2.dll"});
    Rv_TestWriteFile(Client("Helper.dll"), "old helper");
    Rv_TestWriteFile(Client("Dumper.dll/keep"), "");
    Rv_TestWriteFile(Client("update/Dumper.dll.tmp/keep"), "");

    EXPECT_EQ(1, Run(""));
    WaitForCopies();
    EXPECT_EQ("1.0.0.1", VersionOf(Client("Refitter.exe")));
    EXPECT_EQ("old helper", Rv_TestReadFile(Client("Helper.dll")));
    EXPECT_EQ("library", Rv_TestReadFile(Client("update/Dumper_2.dll")));
    EXPECT_EQ("1.1", InstalledVersion()) << Logs();
    EXPECT_NE(std::string::npos, Logs().find("SelfUpdater.UpdateFiles()")) << Logs();
}

// A self-update killed at each step of its replacement leaves the executable
// old until its companion is in place; the next start then finds the newer
// updater again and completes the set.
TEST_F(SelfUpdateRun, KilledSelfUpdateIsCompletedByTheNextStart)
{
    Rv_TestWritePatchServer(Server(""), "1.0", {});
    Rv_TestWriteFile(Updater("Helper_2.dll"), "new helper");
    OfferUpdater("1.0.0.9", {NewUpdater("1.0.0.9"), "Helper_2.dll"});
    const std::string strOriginal = m_Dir.File("Refitter.exe.original");
    int nStatus = -1;
    Rv_TestRun("cp '" + Client("Refitter.exe") + "' '" + strOriginal + "'", &nStatus);
    ASSERT_EQ(0, nStatus);

    int nKilled = 0;
    for (int nStep = 1; nStep < 20; ++nStep) {
        SCOPED_TRACE(nStep);
        Rv_TestRun("cp '" + strOriginal + "' '" + Client("Refitter.exe") + "'", &nStatus);
        ASSERT_EQ(0, nStatus);
        Rv_TestWriteFile(Client("Helper.dll"), "old helper");
        setenv("RV_CRASH_AT_STEP", std::to_string(nStep).c_str(), 1);
        const int nExit = Run("");
        unsetenv("RV_CRASH_AT_STEP");
        WaitForCopies();
        if (nExit != 137) {
            EXPECT_EQ(0, nExit);
            break;
        }
        ++nKilled;
        if (VersionOf(Client("Refitter.exe")) == "1.0.0.9") {
            EXPECT_EQ("new helper", Rv_TestReadFile(Client("Helper.dll")));
        } else {
            EXPECT_EQ("1.0.0.1", VersionOf(Client("Refitter.exe")));
        }

        EXPECT_EQ(0, Run(""));
        WaitForCopies();
        EXPECT_EQ("1.0.0.9", VersionOf(Client("Refitter.exe"))) << Logs();
        EXPECT_EQ("new helper", Rv_TestReadFile(Client("Helper.dll")));
    }
    EXPECT_EQ("1.0.0.9", VersionOf(Client("Refitter.exe")));
    EXPECT_EQ("new helper", Rv_TestReadFile(Client("Helper.dll")));
    EXPECT_GE(nKilled, 4);
}

TEST_F(SelfUpdateRun, SecondCopyIsRefused)
{
    // A window copy that waits for events nobody signals yet.
    Pf_Event success, failed;
    ASSERT_TRUE(success.Init(0, 0, 1));
    ASSERT_TRUE(failed.Init(0, 0, 1));
    Pf_Event* apInherit[] = {&success, &failed};
    Pf_Process running;
    ASSERT_TRUE(running.Start("\"" + Client("Refitter.exe") + "\" -w " + Pf_EventHandleText(success) + " " +
                                  Pf_EventHandleText(failed),
                              "/", apInherit, 2));
    OfferUpdater("1.0.0.9", {NewUpdater("1.0.0.9")});

    EXPECT_EQ(1, Run(""));
    EXPECT_EQ("MessageBox type=0x00 answer=OK caption=云岫更新程序 text=云岫更新程序正在运行，关闭后再尝试更新！\n",
              Rv_TestReadFile(m_Dir.File("sim/msgbox_transcript")));
    EXPECT_NE(std::string::npos, Logs().find("RVLOG_PROCESS_ERROR(false && \"Rv_GetProcessCount()\")")) << Logs();
    // The box and its answer are in the program log too.
    EXPECT_NE(std::string::npos, Logs().find("MessageBox type=0x00 answer=OK caption=云岫更新程序 "
                                             "text=云岫更新程序正在运行，关闭后再尝试更新！\r\n"))
        << Logs();
    EXPECT_TRUE(m_Server.Requests().empty());
    EXPECT_EQ("1.0.0.1", VersionOf(Client("Refitter.exe")));

    failed.Set();
    int nExitCode = -1;
    EXPECT_TRUE(running.Wait(60000, &nExitCode));
}
