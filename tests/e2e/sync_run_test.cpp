// Whole runs of the built Refitter.exe that synchronise files after the
// patches: the run that ends complete with the files in line with the
// server's index, and the one whose sync fails, showing the sync error and
// leaving the client's files as they were.
#include "tests/e2e/update_run_fixture.h"
#include "tests/support/sync_server_builder.h"

namespace {

const char* const s_cszCompleteText = "客户端更新完成";
const char* const s_cszSyncFailed = "同步文件失败！";
const char* const s_cszSyncingText = "正在同步资源文件...    ";

class SyncRun : public UpdateRoad {
protected:
    void SetUp() override
    {
        UpdateRoad::SetUp();
        // The client's root holds the synchronised files: two levels above the client.
        Rv_TestWriteFile(Client("refitter.ini"),
                         "[server_1]\nip=" + m_Server.Url("/") + "\nSyncFileURL=" + m_Server.Url("/sync/") + "\n");
        SetScript("on SetUpdateState 1 call CloseWindow\n");
        Rv_TestWritePatchServer(Server(""), "1.1", {PlainPatch("1.0", "1.1", {{"data/a.txt", "patched"}})});
    }
    std::string Root(const std::string& strName) { return m_Dir.File(strName); }
    void WriteLocal(const std::string& strPath, const std::string& strContent, Pf_FILETIME ftWrite)
    {
        Rv_TestWriteFile(strPath, strContent);
        ASSERT_TRUE(Pf_SetFileTimes(strPath, nullptr, &ftWrite));
    }

    // The files below a folder, one a line; "" when there are none.
    std::string FilesUnder(const std::string& strFolder)
    {
        return Rv_TestRun("find '" + strFolder + "' -type f 2>/dev/null");
    }

    Rv_TestSyncServerBuilder m_Builder;
};

const Pf_FILETIME s_ftServer = Rv_TestSyncTime(100);

} // namespace

TEST_F(SyncRun, PatchesThenSyncEndComplete)
{
    m_Builder.AddFile("game\\client\\res\\changed.txt", "server copy", s_ftServer);
    m_Builder.AddFile("game\\client\\res\\same.txt", "same", s_ftServer);
    m_Builder.AddFile("shared\\missing.dat", "fetched", s_ftServer);
    ASSERT_TRUE(m_Builder.Write(m_Dir.File("www/sync")));
    WriteLocal(Client("res/changed.txt"), "local copy", Rv_TestSyncTime(1));
    WriteLocal(Client("res/same.txt"), "same", s_ftServer);

    EXPECT_EQ(0, Run());
    EXPECT_EQ("1.1", InstalledVersion()) << Logs();
    EXPECT_EQ("patched", Rv_TestReadFile(Client("data/a.txt")));
    EXPECT_EQ("server copy", Rv_TestReadFile(Client("res/changed.txt"))) << Logs();
    EXPECT_EQ("fetched", Rv_TestReadFile(Root("shared/missing.dat")));
    EXPECT_TRUE(m_Server.RequestsFor("/sync/files/game/client/res/same.txt.QZIP").empty());
    EXPECT_TRUE(Shows(std::string("SetTxtM\t") + s_cszSyncingText)) << Transcript();
    EXPECT_TRUE(Shows(std::string("SetTxtM\t") + s_cszCompleteText)) << Transcript();
    EXPECT_FALSE(ShowsError(s_cszSyncFailed)) << Transcript();
    EXPECT_NE(std::string::npos, Logs().find("Finish sync files ..."));
}

TEST_F(SyncRun, FailedSyncShowsItsErrorAndKeepsTheFiles)
{
    m_Builder.AddFile("game\\client\\res\\first.txt", "server first", s_ftServer);
    m_Builder.AddFile("game\\client\\res\\second.txt", "server second", s_ftServer).bPublish = false;
    ASSERT_TRUE(m_Builder.Write(m_Dir.File("www/sync")));
    WriteLocal(Client("res/second.txt"), "local second", Rv_TestSyncTime(1));

    EXPECT_EQ(0, Run());
    EXPECT_EQ("1.1", InstalledVersion()) << Logs();
    EXPECT_TRUE(ShowsError(s_cszSyncFailed)) << Transcript();
    EXPECT_FALSE(Shows(std::string("SetTxtM\t") + s_cszCompleteText)) << Transcript();
    EXPECT_EQ("local second", Rv_TestReadFile(Client("res/second.txt")));
}

TEST_F(SyncRun, DamagedIndexChangesNothing)
{
    m_Builder.AddFile("game\\client\\res\\changed.txt", "server copy", s_ftServer);
    std::string strIndex = m_Builder.Index();
    strIndex[70] ^= 1;
    ASSERT_TRUE(m_Builder.Write(m_Dir.File("www/sync"), strIndex));
    WriteLocal(Client("res/changed.txt"), "local copy", Rv_TestSyncTime(1));

    EXPECT_EQ(0, Run());
    EXPECT_TRUE(ShowsError(s_cszSyncFailed)) << Transcript();
    EXPECT_EQ("local copy", Rv_TestReadFile(Client("res/changed.txt")));
    EXPECT_TRUE(m_Server.RequestsFor("/sync/files/game/client/res/changed.txt.QZIP").empty());
}

// The window closed while a file downloads: the question is asked, "yes"
// stops the sync at once and the old file stays.
TEST_F(SyncRun, CloseDuringTheSyncStopsItAndKeepsTheFiles)
{
    Rv_TestWritePatchServer(Server(""), "1.0", {});
    m_Builder.AddFile("game\\client\\res\\held.txt", "server copy", s_ftServer);
    ASSERT_TRUE(m_Builder.Write(m_Dir.File("www/sync")));
    WriteLocal(Client("res/held.txt"), "local copy", Rv_TestSyncTime(1));
    Rv_TestHttpFault Hold;
    Hold.bHold = true;
    m_Server.SetFault("/sync/files/game/client/res/held.txt.QZIP", Hold);
    // The first progress of the sync comes just before the file's download.
    SetScript("on ProgressPercent call CloseWindow\n");
    Rv_TestWriteFile(m_Dir.File("sim/msgbox_answers"), "yes\n");

    EXPECT_EQ(0, Run());
    EXPECT_NE(std::string::npos,
              Rv_TestReadFile(m_Dir.File("sim/msgbox_transcript")).find("正在与服务器同步文件，是否中断同步？"));
    EXPECT_TRUE(ShowsError(s_cszSyncFailed)) << Transcript();
    EXPECT_FALSE(Shows(std::string("SetTxtM\t") + s_cszCompleteText)) << Transcript();
    EXPECT_EQ("local copy", Rv_TestReadFile(Client("res/held.txt")));
}

// A run killed at each step of its sync leaves every synchronised file
// either as it was or as the server has it, never missing, and nothing of a
// file already in line in the sync's temporary folder; the next run brings
// them all in line and leaves that folder without a file.
TEST_F(SyncRun, RunKilledDuringTheSyncIsCompletedByTheNext)
{
    Rv_TestWritePatchServer(Server(""), "1.0", {});
    m_Builder.AddFile("game\\client\\res\\changed.txt", "server copy", s_ftServer);
    m_Builder.AddFile("game\\client\\res\\other.txt", "server other", s_ftServer);
    ASSERT_TRUE(m_Builder.Write(m_Dir.File("www/sync")));
    int nKilled = 0;
    for (int nStep = 1; nStep < 50; ++nStep) {
        WriteLocal(Client("res/changed.txt"), "local copy", Rv_TestSyncTime(1));
        WriteLocal(Client("res/other.txt"), "local other", Rv_TestSyncTime(1));
        if (RunKilledAt(nStep) != 137)
            break;
        ++nKilled;
        const std::string strChanged = Rv_TestReadFile(Client("res/changed.txt"));
        const std::string strOther = Rv_TestReadFile(Client("res/other.txt"));
        EXPECT_TRUE(strChanged == "local copy" || strChanged == "server copy") << nStep << ": " << strChanged;
        EXPECT_TRUE(strOther == "local other" || strOther == "server other") << nStep << ": " << strOther;
        const std::string strLeft = FilesUnder(Client("update/SyncFiles"));
        if (strChanged == "server copy") {
            EXPECT_EQ(std::string::npos, strLeft.find("changed.txt")) << nStep << ": " << strLeft;
        }
        if (strOther == "server other") {
            EXPECT_EQ(std::string::npos, strLeft.find("other.txt")) << nStep << ": " << strLeft;
        }
        EXPECT_EQ(0, Run()) << nStep;
        EXPECT_EQ("server copy", Rv_TestReadFile(Client("res/changed.txt"))) << nStep << Logs();
        EXPECT_EQ("server other", Rv_TestReadFile(Client("res/other.txt"))) << nStep;
        EXPECT_EQ("", FilesUnder(Client("update/SyncFiles"))) << nStep;
    }
    EXPECT_GE(nKilled, 4);
}
