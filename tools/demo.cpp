// The demonstration: builds a sample update server (a patch list and three
// patches: plain files, an update of the client's package, a single-file
// package) and a sample client at its first version, serves the server on
// loopback, and runs Refitter.exe in the client so that it updates the client
// to the latest version; a sample game can then be started from its window.
//
//     rv_demo <demo folder> <Refitter.exe>
//
// On a terminal the window is the terminal's: the last patch comes slowly, so
// that "q" during the download asks whether to stop it; afterwards "s" starts
// the game and "q" closes. Elsewhere the run is scripted: one run updates and
// closes, a second finds the client up to date and starts the game.
#include "platform/file.h"
#include "platform/file_mode.h"
#include "tests/support/http_server.h"
#include "tests/support/package_builder.h"
#include "tests/support/patch_builder.h"
#include "tests/support/patch_list_builder.h"
#include "tests/support/temp_dir.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace {

std::string _VersionCfg(const std::string& strVersion)
{
    return "[Version]\nTalon5.version=" + strVersion + "\nTalon5.VersionLineName=zhcn\nTalon5.versionName=Sample\n";
}

std::string _Random(size_t uSize, unsigned uSeed)
{
    std::mt19937 Random(uSeed);
    std::string strData(uSize, '\0');
    for (char& c : strData)
        c = (char)(Random() & 0xFF);
    return strData;
}

std::string _Patch(const std::string& strFrom, const std::string& strTo)
{
    return "patch_c_" + strFrom + "-to-" + strTo + "_full.zip";
}

bool _WritePatch(const std::string& strFolder, const std::string& strName, const Rv_TestPatchBuilder& Builder,
                 std::vector<Rv_TestServerPatch>* pvecPatches)
{
    std::string strZip = strFolder + "/" + strName;
    if (!Builder.Write(strZip))
        return false;
    pvecPatches->push_back(Rv_TestServerPatch{strName, "", strZip, ""});
    return true;
}

const char* const s_cszGame = R"GAME(#!/bin/sh
# The sample game: shows what the updater brought.
cd "$(dirname "$0")"
echo
echo "*** The sample game starts (arguments: $*)"
echo "*** Installed version: $(sed -n 's/^Talon5.version=//p' version.cfg)"
echo "*** News: $(cat data/news.txt)"
echo "*** Map data: $(wc -c < data/maps/first.map) bytes, video: $(wc -c < data/video/intro.bin) bytes"
echo "*** Game over."
)GAME";

// The server's tree (www/zhcn) and the client (game/client, package pakV3).
bool _BuildTrees(const std::string& strRoot)
{
    const std::string strServer = strRoot + "/www/zhcn";
    const std::string strZips = strRoot + "/zips";
    const std::string strClient = strRoot + "/game/client";
    std::vector<Rv_TestServerPatch> vecPatches;

    Pf_CreateDirChain(strZips);
    Pf_CreateDirChain(strClient);

    Rv_TestPatchBuilder First;
    First.AddFile("data/news.txt", "Version 1.0.1 brings the first map.");
    First.AddFile("data/maps/first.map", _Random(2 << 20, 1));
    First.AddVersionFile(_VersionCfg("1.0.1"));
    Rv_TestPatchBuilder Second;
    Rv_TestUpdateFileBuilder Update;
    Update.AddData(0, "NEW!");
    Update.AddOverwriteSegment(0, 4);
    Second.AddUpdateFile("pak.UPDATE", Update);
    Second.AddSingleFilePackage("res.pak", {{1, 1, 100, "sample resource"}});
    Second.AddFile("data/news.txt", "Version 1.0.2 updates the package.");
    Second.AddVersionFile(_VersionCfg("1.0.2"));
    Rv_TestPatchBuilder Third;
    Third.SetStored(true);
    Third.AddFile("data/video/intro.bin", _Random(24 << 20, 3));
    Third.AddFile("data/news.txt", "Version 1.0.3 adds the intro video.");
    Third.AddVersionFile(_VersionCfg("1.0.3"));
    if (!_WritePatch(strZips, _Patch("1.0.0", "1.0.1"), First, &vecPatches) ||
        !_WritePatch(strZips, _Patch("1.0.1", "1.0.2"), Second, &vecPatches) ||
        !_WritePatch(strZips, _Patch("1.0.2", "1.0.3"), Third, &vecPatches))
        return false;
    Rv_TestWritePatchServer(strServer, "1.0.3", vecPatches);

    Rv_TestConfigSpec Spec;
    Rv_TestMakePackage(strRoot + "/pakV3", Spec, {std::string(4096, 'a')},
                       {{"main.DIR", Rv_TestMakeDirFile("main", 1, {{1, 0, 20}})}});
    Rv_TestWriteFile(strClient + "/NewPackageList.txt", "");
    Rv_TestWriteFile(strClient + "/version.cfg", _VersionCfg("1.0.0"));
    Rv_TestWriteFile(strClient + "/data/news.txt", "Version 1.0.0.");
    Rv_TestWriteFile(strClient + "/QV7Client.exe", s_cszGame);
    return Pf_SetExecutable(strClient + "/QV7Client.exe");
}

int _Run(const std::string& strCommand)
{
    fflush(stdout);
    int nStatus = system(strCommand.c_str());
    return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : 128 + WTERMSIG(nStatus);
}

// What the window showed: its status texts in order, a run of progress
// texts as its last one.
void _ShowTranscript(const std::string& strPath)
{
    std::string strText = Rv_TestReadFile(strPath);
    std::vector<std::string> vecLines;
    size_t uPos = 0;
    while (uPos < strText.size()) {
        size_t uEnd = strText.find('\n', uPos);
        if (uEnd == std::string::npos)
            uEnd = strText.size();
        std::string strLine = strText.substr(uPos, uEnd - uPos);
        uPos = uEnd + 1;
        if (strLine.compare(0, 8, "SetTxtM\t") == 0)
            vecLines.push_back(strLine.substr(8));
    }
    printf("The window showed:\n");
    for (size_t i = 0; i < vecLines.size(); ++i) {
        const bool bSameRun = i + 1 < vecLines.size() && vecLines[i].size() > 9 &&
                              vecLines[i + 1].compare(0, 9, vecLines[i], 0, 9) == 0;
        if (!bSameRun)
            printf("  %s\n", vecLines[i].c_str());
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: %s <demo folder> <Refitter.exe>\n", argv[0]);
        return 2;
    }
    const std::string strRoot = argv[1];
    const std::string strClient = strRoot + "/game/client";
    const bool bTerminal = isatty(STDIN_FILENO) && isatty(STDOUT_FILENO);

    Pf_RemoveTree(strRoot);
    printf("Building the sample server and client in %s ...\n", strRoot.c_str());
    if (!_BuildTrees(strRoot) || _Run("cp '" + std::string(argv[2]) + "' '" + strClient + "/Refitter.exe'") != 0) {
        fprintf(stderr, "Could not build the sample trees.\n");
        return 1;
    }

    Rv_TestHttpServer Server(strRoot + "/www");
    Server.Start();
    Rv_TestWriteFile(strClient + "/refitter.ini", "[server_1]\nip=" + Server.Url("/") + "\n");
    printf("The update server listens on %s; the client is at version 1.0.0, the latest is 1.0.3.\n",
           Server.Url("/").c_str());

    // A simulated machine with the DirectX libraries in place.
    const std::string strSim = strRoot + "/sim";
    for (const char* cszLibrary : {"D3DX9_40.dll", "D3DX9_41.dll", "D3DX9_42.dll", "D3DX9_43.dll"})
        Rv_TestWriteFile(strRoot + "/system/" + cszLibrary, "");
    Rv_TestWriteFile(strSim + "/system_dir", strRoot + "/system");
    // The sample machine's shared data and registry store stay in the demo folder.
    Rv_TestWriteFile(strSim + "/common_app_data", strRoot + "/common");
    // The reports and the tracking image go to the sample server too, which
    // takes them as a reporting service does.
    Rv_TestHttpFault Accept;
    Accept.nStatus = 200;
    Accept.strBody = "ok";
    for (const char* cszPrefix : {"/gamereport/*", "/report/*", "/pagetracer4Unencrypt/*"})
        Server.SetFault(cszPrefix, Accept);
    std::string strHostPort = Server.Url("/").substr(strlen("http://"));
    strHostPort.pop_back();
    Rv_TestWriteFile(strSim + "/report_service", strHostPort);
    Rv_TestWriteFile(strSim + "/channel_service", strHostPort);
    setenv("RV_SIM_ROOT", strSim.c_str(), 1);
    setenv("RV_REGISTRY_DIR", (strRoot + "/registry").c_str(), 1);

    const std::string strRun = "cd '" + strClient + "' && ./Refitter.exe -a";
    int nExit = 0;
    if (bTerminal) {
        // The last patch comes slowly, so that there is time to ask.
        Rv_TestHttpFault Slow;
        Slow.uPieceDelayMs = 25;
        Server.SetFault("/zhcn/" + _Patch("1.0.2", "1.0.3"), Slow);
        printf("Starting Refitter.exe -a: watch the update. While it downloads, q asks whether to stop the\n"
               "download (n goes on, y stops it). Once it has ended, s starts the game and q closes.\n");
        printf("Press Enter to go on.");
        fflush(stdout);
        getchar();
        nExit = _Run(strRun);
    } else {
        printf("No terminal: the window is scripted. The first run updates the client and closes.\n");
        Rv_TestWriteFile(strSim + "/movie_script",
                         "on SetUpdateState 1 call CloseWindow\non SetUpdateState 4 call CloseWindow every 200\n");
        nExit = _Run(strRun + " </dev/null");
        _ShowTranscript(strSim + "/movie_transcript");
        printf("Refitter.exe ended with %d. The second run finds the client up to date and starts the game.\n",
               nExit);
        Rv_TestWriteFile(strSim + "/movie_script", "on SetUpdateState 1 call StartGame\n");
        if (nExit == 0)
            nExit = _Run(strRun + " </dev/null");
    }
    usleep(500 * 1000);   // the game prints after the window has gone

    std::string strVersion = Rv_TestReadFile(strClient + "/version.cfg");
    printf("\nRefitter.exe ended with %d. Installed now:\n%s", nExit, strVersion.c_str());
    printf("Requests the server answered: %zu. The log: %s/logs/Refitter/\n", Server.Requests().size(),
           strClient.c_str());
    std::map<std::string, int> mapReports;
    for (const Rv_TestHttpRequest& Request : Server.Requests()) {
        if (Request.strMethod == "POST" || Request.strPath.find("__utm.gif") != std::string::npos)
            mapReports[Request.strPath]++;
    }
    printf("Reports received:\n");
    for (const auto& Report : mapReports)
        printf("  %-45s %d\n", Report.first.c_str(), Report.second);
    Server.Stop();
    return nExit == 0 && strVersion.find("Talon5.version=1.0.3") != std::string::npos ? 0 : 1;
}
