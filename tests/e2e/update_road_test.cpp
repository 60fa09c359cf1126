// Whole update runs of the built Refitter.exe in a client tree of its own
// against the loopback test server (and nginx), with the scripted movie:
// already latest, a chain of patches, wrong MD5s, a chain that stops short,
// manual patches, a cut download, hostile names, the wait for a running
// client, a run killed in the middle of its extraction, and a single-file
// package whose rewrite fails under a file-size limit.
#include "tests/e2e/update_run_fixture.h"
#include "tests/support/nginx.h"
#include "tests/support/package_builder.h"

#include <cstring>
#include <functional>
#include <map>

namespace {

const char* const s_cszLatestText = "客户端已是最新版本，无需更新";
const char* const s_cszUpdateFailed = "更新失败！";

// The data of each entry of a single-file package by key, its length taken
// from the entry's first directory word; empty when the package does not
// read, its file size is not its length or an entry's data lies outside.
std::map<uint32_t, std::string> _SingleFilePackageData(const std::string& strPackage)
{
    std::map<uint32_t, std::string> mapData;
    Rv_TestPackageContent Content;
    if (!Rv_TestReadSingleFilePackage(strPackage, &Content) || Content.Header.uFileSize != strPackage.size())
        return {};
    for (size_t i = 0; i < Content.Index.size(); ++i) {
        uint64_t ullAt = Content.Header.uDataAreaOffset + Content.Directory[i].uDataOffset;
        if (ullAt + Content.Directory[i].uInfo > strPackage.size())
            return {};
        mapData[Content.Index[i].uKey] = strPackage.substr(ullAt, Content.Directory[i].uInfo);
    }
    return mapData;
}

// The same of a "PACK" package, the length taken from an entry's third word.
std::map<uint32_t, std::string> _PackData(const std::string& strPack)
{
    std::map<uint32_t, std::string> mapData;
    PackFileHeader Header;
    if (strPack.size() < sizeof(Header))
        return {};
    memcpy(&Header, strPack.data(), sizeof(Header));
    if ((uint64_t)Header.uIndexOffset + (uint64_t)Header.count * sizeof(PackFileIndexEntry) > strPack.size())
        return {};
    for (uint32_t i = 0; i < Header.count; ++i) {
        PackFileIndexEntry Entry;
        memcpy(&Entry, strPack.data() + Header.uIndexOffset + i * sizeof(Entry), sizeof(Entry));
        if ((uint64_t)Entry.uOffset + Entry.uInfo1 > strPack.size())
            return {};
        mapData[Entry.uFileId] = strPack.substr(Entry.uOffset, Entry.uInfo1);
    }
    return mapData;
}

} // namespace

TEST_F(UpdateRoad, AlreadyLatest)
{
    Rv_TestWritePatchServer(Server(""), "1.0", {});
    EXPECT_EQ(0, Run());
    EXPECT_TRUE(Shows(std::string("SetTxtM\t") + s_cszLatestText)) << Transcript();
    EXPECT_EQ(1u, m_Server.RequestsFor("/zhcn/autoupdateentry.txt").size());
    EXPECT_EQ("1.0", InstalledVersion());
    EXPECT_FALSE(Pf_PathExists(Client("update/autoupdateentry.txt")));
}

// Two patches: plain files, an update file into the package, a single-file
// package update; each version.cfg is written last and every zip removed.
TEST_F(UpdateRoad, ChainOfTwoPatches)
{
    const std::string strPackage = m_Dir.File("pakV3");
    Rv_TestConfigSpec Spec;
    Rv_TestMakePackage(strPackage, Spec, {std::string(4096, 'a')},
                       {{"main.DIR", Rv_TestMakeDirFile("main", 1, {{1, 0, 20}})}});
    Rv_TestWriteFile(Client("NewPackageList.txt"), "");

    Rv_TestPatchBuilder First;
    First.AddFile("data/a.txt", "first");
    First.AddFile("bin/tool.txt", "tool");
    Rv_TestUpdateFileBuilder Update;
    Update.AddData(0, "Z");
    Update.AddOverwriteSegment(0, 1);
    First.AddUpdateFile("pak.UPDATE", Update);
    First.AddVersionFile(Rv_TestVersionCfg("1.1"));
    Rv_TestPatchBuilder Second;
    Second.AddFile("data/a.txt", "second");
    Second.AddSingleFilePackage("res.pak", {{1, 1, 100, "AAAA"}});
    Second.AddVersionFile(Rv_TestVersionCfg("1.3"));
    Rv_TestWritePatchServer(Server(""), "1.3", {Zip(Rv_TestE2EPatchName("1.0", "1.1"), First), Zip(Rv_TestE2EPatchName("1.1", "1.3"), Second)});

    EXPECT_EQ(0, Run());
    EXPECT_EQ("1.3", InstalledVersion()) << Logs();
    EXPECT_EQ("second", Rv_TestReadFile(Client("data/a.txt")));
    EXPECT_EQ("tool", Rv_TestReadFile(Client("bin/tool.txt")));
    EXPECT_EQ('Z', Rv_TestReadFile(strPackage + "/pak0.DAT")[0]);
    EXPECT_EQ("NewPack\\new_1.pak\n", Rv_TestReadFile(Client("NewPackageList.txt")));
    EXPECT_FALSE(Pf_PathExists(Client("update/" + Rv_TestE2EPatchName("1.0", "1.1"))));
    EXPECT_FALSE(Pf_PathExists(Client("update/" + Rv_TestE2EPatchName("1.1", "1.3"))));
    EXPECT_TRUE(Shows("SetUpdateState\t3")) << Transcript();
    EXPECT_TRUE(Shows("SetUpdateState\t4")) << Transcript();
    EXPECT_FALSE(Shows("SetUpdateState\t1")) << Transcript();
}

TEST_F(UpdateRoad, WrongMD5IsMendedByTheReDownload)
{
    const std::string strName = Rv_TestE2EPatchName("1.0", "1.1");
    Rv_TestWriteFile(m_Dir.File("www/bad.zip"), "not the patch");
    Rv_TestWritePatchServer(Server(""), "1.1", {PlainPatch("1.0", "1.1", {{"a.txt", "new"}})});
    Rv_TestHttpFault bad;
    bad.strServePath = "/bad.zip";
    bad.nTimes = 2;  // the size query, then the download
    m_Server.SetFault("/zhcn/" + strName, bad);
    Rv_TestHttpFault again;
    again.strServePath = "/zhcn/" + strName;
    m_Server.SetFault("/zhcn/" + strName + "/*", again);

    EXPECT_EQ(0, Run());
    EXPECT_EQ("new", Rv_TestReadFile(Client("a.txt"))) << Logs();
    EXPECT_EQ("1.1", InstalledVersion());
    EXPECT_NE(std::string::npos, Logs().find("The Patch " + strName + " with error md5."));
}

TEST_F(UpdateRoad, WrongMD5ThatStaysWrongChangesNothing)
{
    Rv_TestWriteFile(Client("a.txt"), "old");
    Rv_TestServerPatch Patch = PlainPatch("1.0", "1.1", {{"a.txt", "new"}});
    Patch.strListedMD5 = std::string(32, '0');
    Rv_TestWritePatchServer(Server(""), "1.1", {Patch});
    Rv_TestHttpFault again;
    again.strServePath = "/zhcn/" + Patch.strName;
    m_Server.SetFault("/zhcn/" + Patch.strName + "/*", again);

    EXPECT_EQ(0, Run());
    EXPECT_TRUE(ShowsError(s_cszUpdateFailed)) << Transcript();
    EXPECT_EQ("old", Rv_TestReadFile(Client("a.txt")));
    EXPECT_EQ("1.0", InstalledVersion());
    EXPECT_FALSE(Pf_PathExists(Client("update/" + Patch.strName)));
}

TEST_F(UpdateRoad, ChainShortOfTheLatestAppliesWhatFits)
{
    Rv_TestWritePatchServer(Server(""), "1.5",
                            {PlainPatch("1.0", "1.1", {{"a.txt", "1.1"}}), PlainPatch("1.2", "1.5", {{"a.txt", "1.5"}})});
    EXPECT_EQ(0, Run());
    EXPECT_TRUE(ShowsError("无可用更新包，需手动更新")) << Transcript();
    EXPECT_EQ("1.1", Rv_TestReadFile(Client("a.txt")));
    EXPECT_EQ("1.1", InstalledVersion());
    EXPECT_TRUE(m_Server.RequestsFor("/zhcn/" + Rv_TestE2EPatchName("1.2", "1.5")).empty());
}

TEST_F(UpdateRoad, ManualPatches)
{
    Rv_TestWritePatchServer(Server(""), "1.1", {});
    Rv_TestServerPatch Fits = PlainPatch("1.0", "1.1", {{"a.txt", "manual"}});
    Rv_TestServerPatch Later = PlainPatch("1.1", "1.2", {{"b.txt", "later"}});

    // One for a later version does not fit: nothing written.
    EXPECT_EQ(0, Run("'" + Later.strSourceFile + "'"));
    EXPECT_TRUE(ShowsError("手动更新包不适合当前版本")) << Transcript();
    EXPECT_FALSE(ShowsError(s_cszUpdateFailed)) << "only the first error shows\n" << Transcript();
    EXPECT_FALSE(Pf_PathExists(Client("b.txt")));

    // One that fits is applied, then the automatic update finds the latest.
    Pf_DeleteFile(m_Dir.File("sim/movie_transcript"));
    EXPECT_EQ(0, Run("'" + Fits.strSourceFile + "'"));
    EXPECT_EQ("manual", Rv_TestReadFile(Client("a.txt"))) << Logs();
    EXPECT_EQ("1.1", InstalledVersion());
    EXPECT_TRUE(Shows(std::string("SetTxtM\t") + s_cszLatestText)) << Transcript();
}

TEST_F(UpdateRoad, CutDownloadResumes)
{
    Rv_TestPatchBuilder Builder;
    Builder.SetStored(true);
    Builder.AddFile("big.bin", std::string(300000, 'x'));
    Builder.AddVersionFile(Rv_TestVersionCfg("1.1"));
    Rv_TestServerPatch Patch = Zip(Rv_TestE2EPatchName("1.0", "1.1"), Builder);
    Rv_TestWritePatchServer(Server(""), "1.1", {Patch});
    Rv_TestHttpFault cut;
    cut.llDropAfter = 100000;
    cut.nTimes = 2;  // the size query, then the download
    m_Server.SetFault("/zhcn/" + Patch.strName, cut);

    EXPECT_EQ(0, Run());
    EXPECT_EQ(std::string(300000, 'x'), Rv_TestReadFile(Client("big.bin"))) << Logs();
    bool bRanged = false;
    for (const Rv_TestHttpRequest& request : m_Server.RequestsFor("/zhcn/" + Patch.strName))
        bRanged = bRanged || request.HasHeader("Range");
    EXPECT_TRUE(bRanged);
}

// Hostile names in the list or in a patch's items: nothing is written
// outside the client tree and the run ends in the general error.
TEST_F(UpdateRoad, HostileNamesWriteNothingOutside)
{
    struct Case {
        const char* cszWhat;
        std::function<void()> setUp;
    };
    const Case aCases[] = {
        {"listed name climbing out",
         [&] {
             Rv_TestWriteFile(Server("autoupdateentry.txt"),
                              Rv_TestPatchListText("1.1", {{"..\\..\\x_c_1.0-to-1.1_.zip", std::string(32, '0')}}));
         }},
        {"item climbing out",
         [&] {
             Rv_TestPatchBuilder Builder;
             Builder.AddRawItem("updatepack/../../../outside.txt", "x");
             Builder.AddFile("sub/..", "x");
             Builder.AddVersionFile(Rv_TestVersionCfg("1.1"));
             Rv_TestWritePatchServer(Server(""), "1.1", {Zip(Rv_TestE2EPatchName("1.0", "1.1"), Builder)});
         }},
    };
    for (const Case& c : aCases) {
        Pf_DeleteFile(m_Dir.File("sim/movie_transcript"));
        c.setUp();
        EXPECT_EQ(0, Run()) << c.cszWhat;
        EXPECT_TRUE(ShowsError(s_cszUpdateFailed)) << c.cszWhat << "\n" << Transcript();
        EXPECT_EQ("1.0", InstalledVersion()) << c.cszWhat;
        EXPECT_FALSE(Pf_PathExists(m_Dir.File("outside.txt"))) << c.cszWhat;
        EXPECT_FALSE(Pf_PathExists(m_Dir.File("game/outside.txt"))) << c.cszWhat;
    }
}

// A running client is waited for: 2 seconds once, then a box; "Cancel" ends
// the run before any patch is fetched.
TEST_F(UpdateRoad, RunningClientIsWaitedFor)
{
    Rv_TestWritePatchServer(Server(""), "1.1", {PlainPatch("1.0", "1.1", {{"a.txt", "new"}})});
    int nStatus = -1;
    Rv_TestRun("cp /bin/sleep '" + Client("QV7Client.exe") + "'", &nStatus);
    ASSERT_EQ(0, nStatus);
    Rv_TestWriteFile(m_Dir.File("sim/msgbox_answers"), "retry\ncancel\n");
    Rv_TestRun("'" + Client("QV7Client.exe") + "' 60 </dev/null >/dev/null 2>&1 & echo $! > '" + m_Dir.File("client.pid") + "'");

    EXPECT_EQ(0, Run());
    Rv_TestRun("kill $(cat '" + m_Dir.File("client.pid") + "')");
    EXPECT_TRUE(ShowsError(s_cszUpdateFailed)) << Transcript();
    const std::string strBoxes = Rv_TestReadFile(m_Dir.File("sim/msgbox_transcript"));
    size_t uFirst = strBoxes.find("请关闭云岫");
    ASSERT_NE(std::string::npos, uFirst) << strBoxes;
    EXPECT_NE(std::string::npos, strBoxes.find("请关闭云岫", uFirst + 1)) << strBoxes;
    EXPECT_TRUE(m_Server.RequestsFor("/zhcn/" + Rv_TestE2EPatchName("1.0", "1.1")).empty());
    EXPECT_EQ("1.0", InstalledVersion());
}

// A run killed at each step of its extraction leaves a client that the next
// run brings to the latest version: a patch of plain items, and one that also
// joins a single-file package to the newest of its series and merges an
// oldest-format package into the newest one of "package.ini".
TEST_F(UpdateRoad, RunKilledDuringExtractionIsCompletedByTheNext)
{
    const struct {
        const char* cszWhat;
        bool bPackages;
        int nLeastKills;
    } aCases[] = {{"plain items", false, 6}, {"packages of both single-file formats", true, 20}};
    for (const auto& c : aCases) {
        SCOPED_TRACE(c.cszWhat);
        Rv_TestPatchBuilder Builder;
        Builder.AddFile("a.txt", "new");
        Builder.AddFile("b.txt", "b");
        if (c.bPackages) {
            Builder.AddSingleFilePackage("res.pak", {{2, 1, 4, "BBBB"}});
            Builder.AddPackFile("old.pak", {{7, "seven", 5, 0}});
        }
        Builder.AddVersionFile(Rv_TestVersionCfg("1.1"));
        Rv_TestWritePatchServer(Server(""), "1.1", {Zip(Rv_TestE2EPatchName("1.0", "1.1"), Builder)});
        const std::string strList = "NewPack\\new_1.pak\n";
        const std::string strIni = "[TL5Client]\nPath=pack\n0=old_1.pak\n";
        // Killed at every step in turn until a run gets through all of them.
        int nKilled = 0;
        for (int nStep = 1; nStep < 100; ++nStep) {
            SCOPED_TRACE(nStep);
            Rv_TestWriteFile(Client("version.cfg"), Rv_TestVersionCfg("1.0"));
            Rv_TestWriteFile(Client("a.txt"), "old");
            Pf_DeleteFile(Client("b.txt"));
            if (c.bPackages) {
                Rv_TestWriteFile(Client("NewPackageList.txt"), strList);
                Rv_TestWriteFile(Client("NewPack/new_1.pak"), Rv_TestBuildSingleFilePackage({{1, 1, 4, "AAAA"}}));
                Pf_DeleteFile(Client("NewPack/new_1.pak.bak"));
                Rv_TestWriteFile(Client("package.ini"), strIni);
                Rv_TestWriteFile(Client("pack/old_1.pak"), Rv_TestBuildPackFile({{3, "three", 5, 0}}));
            }
            const int nExit = RunKilledAt(nStep);
            const bool bKilled = nExit == 137;
            if (bKilled) {
                ++nKilled;
                EXPECT_EQ(0, Run());
            } else {
                EXPECT_EQ(0, nExit);
            }
            EXPECT_EQ("new", Rv_TestReadFile(Client("a.txt")));
            EXPECT_EQ("b", Rv_TestReadFile(Client("b.txt")));
            EXPECT_EQ("1.1", InstalledVersion()) << Logs();
            if (c.bPackages) {
                EXPECT_EQ((std::map<uint32_t, std::string>{{1, "AAAA"}, {2, "BBBB"}}),
                          _SingleFilePackageData(Rv_TestReadFile(Client("NewPack/new_1.pak"))));
                EXPECT_FALSE(Pf_PathExists(Client("NewPack/new_1.pak.bak")));
                EXPECT_EQ(strList, Rv_TestReadFile(Client("NewPackageList.txt")));
                EXPECT_EQ((std::map<uint32_t, std::string>{{3, "three"}, {7, "seven"}}),
                          _PackData(Rv_TestReadFile(Client("pack/old_1.pak"))));
                EXPECT_EQ(strIni, Rv_TestReadFile(Client("package.ini")));
            }
            if (!bKilled)
                break;
        }
        EXPECT_GE(nKilled, c.nLeastKills);
    }
}

// A single-file package whose rewrite a file-size limit cuts short fails the
// run with the general error; the package is whole and its backup gone. The
// next run, without the limit, applies the patch.
TEST_F(UpdateRoad, SingleFilePackageRewriteCutShortFailsTheRunAndKeepsThePackage)
{
    if (Rv_TestRun("command -v prlimit").empty())
        GTEST_SKIP() << "prlimit (util-linux) is not installed";
    const std::string strPackage = Client("NewPack/new_1.pak");
    const std::string strOld = Rv_TestBuildSingleFilePackage({{1, 1, 1 << 20, std::string(1 << 20, 'A')}});
    Rv_TestWriteFile(Client("NewPackageList.txt"), "NewPack\\new_1.pak\n");
    Rv_TestWriteFile(strPackage, strOld);
    Rv_TestPatchBuilder Builder;
    Builder.AddSingleFilePackage("res.pak", {{2, 1, 4096, std::string(4096, 'B')}});
    Builder.AddVersionFile(Rv_TestVersionCfg("1.1"));
    Rv_TestWritePatchServer(Server(""), "1.1", {Zip(Rv_TestE2EPatchName("1.0", "1.1"), Builder)});

    // The patch's data fits below the limit; the merged areas behind it do not.
    EXPECT_EQ(0, RunUnderFileSizeLimit(strOld.size() - 24 + 4096 + 10));
    EXPECT_TRUE(ShowsError(s_cszUpdateFailed)) << Transcript();
    EXPECT_EQ("1.0", InstalledVersion());
    EXPECT_TRUE(Rv_TestReadFile(strPackage) == strOld) << "the package is not the one before the patch\n" << Logs();
    EXPECT_FALSE(Pf_PathExists(strPackage + ".bak"));
    EXPECT_NE(std::string::npos, Logs().find("piPatcher->UnInit()")) << Logs();

    Pf_DeleteFile(m_Dir.File("sim/movie_transcript"));
    EXPECT_EQ(0, Run());
    EXPECT_EQ("1.1", InstalledVersion()) << Logs();
    EXPECT_TRUE((std::map<uint32_t, std::string>{{1, std::string(1 << 20, 'A')}, {2, std::string(4096, 'B')}}) ==
                _SingleFilePackageData(Rv_TestReadFile(strPackage)));
}

TEST_F(UpdateRoad, ChainFromNginx)
{
    Pf_CreateDirChain(m_Dir.File("nginx"));
    Rv_TestNginx nginx(m_Dir.File("www"), m_Dir.File("nginx"));
    if (!nginx.Start())
        GTEST_SKIP() << "nginx is not installed";
    Rv_TestWritePatchServer(Server(""), "1.2",
                            {PlainPatch("1.0", "1.1", {{"a.txt", "1.1"}}), PlainPatch("1.1", "1.2", {{"a.txt", "1.2"}})});
    PointAt(nginx.Url("/"));
    EXPECT_EQ(0, Run());
    EXPECT_EQ("1.2", Rv_TestReadFile(Client("a.txt"))) << Logs();
    EXPECT_EQ("1.2", InstalledVersion());
}

// Without the DirectX libraries the package "dx9_43.zip" comes with the
// patches and is unpacked into "3rdParty" two levels above the working
// folder; an item that would climb out of it fails the run.
TEST_F(UpdateRoad, DirectXPackageIsUnpackedIntoThirdParty)
{
    Pf_CreateDirChain(m_Dir.File("nodx"));
    Rv_TestWriteFile(m_Dir.File("sim/system_dir"), m_Dir.File("nodx"));
    struct Case {
        const char* cszItem;
        bool bGood;
    } aCases[] = {
        {"DXSETUP.txt", true},
        // What the zip layer leaves of a climbing name still ends in "..".
        {"x/..", false},
    };
    for (const Case& c : aCases) {
        Pf_DeleteFile(m_Dir.File("sim/movie_transcript"));
        Rv_TestWriteFile(Client("version.cfg"), Rv_TestVersionCfg("1.0"));
        Rv_TestWritePatchServer(Server(""), "1.1", {PlainPatch("1.0", "1.1", {{"a.txt", "new"}})});
        Rv_TestPatchBuilder DirectX;
        DirectX.AddRawItem(c.cszItem, "setup");
        ASSERT_TRUE(DirectX.Write(Server("dx9_43.zip")));

        EXPECT_EQ(0, Run()) << c.cszItem;
        EXPECT_EQ(c.bGood, Pf_PathExists(m_Dir.File("3rdParty/DXSETUP.txt"))) << c.cszItem << "\n" << Logs();
        EXPECT_EQ(c.bGood ? "1.1" : "1.0", InstalledVersion()) << c.cszItem;
        EXPECT_EQ(!c.bGood, ShowsError(s_cszUpdateFailed)) << c.cszItem;
        EXPECT_FALSE(Pf_PathExists(m_Dir.File("x")));
        Pf_RemoveTree(m_Dir.File("3rdParty"));
    }
}

// The development message is shown in the activity window; its number is
// remembered, so the next run shows it as already seen.
TEST_F(UpdateRoad, DevelopmentMessageIsShownAndRemembered)
{
    Rv_TestWritePatchServer(Server(""), "1.0", {});
    Rv_TestWriteFile(Server("DevMessageIniFile.ini"),
                     "[MessageWindow]\nMessageWindowHTMLFile=news.html\nButtonLink=http://link\nMessageVersionNum=3\n");
    Rv_TestWriteFile(Server("news.html"), "<p>news & more</p>");
    // A close while the update is still prepared is ignored: keep asking.
    SetScript("on ActivityState call CloseWindow every 200\n");
    for (const char* cszIsNew : {"1", "0"}) {
        Pf_DeleteFile(m_Dir.File("sim/movie_transcript"));
        EXPECT_EQ(0, Run()) << Transcript() << Logs();
        EXPECT_TRUE(Shows(std::string("ActivityState\t2\thttp://link\t<p>news & more</p>\t") + cszIsNew))
            << Transcript() << Logs();
        EXPECT_NE(std::string::npos, Rv_TestReadFile(Client("config.ini")).find("MessageVersionNum=3"));
        EXPECT_FALSE(Pf_PathExists(Client("update/DevMessageIniFile.ini")));
        EXPECT_FALSE(Pf_PathExists(Client("update/HTMLContent")));
    }
}
