// One whole update run of the built Refitter.exe against a private nginx on
// loopback: a chain of four patches of about 512 MiB in all (plain files,
// some deflated and most stored, two update files into the package "pakV3"),
// downloaded, checked, extracted and applied, from the start of the process
// to its exit. Beside it, in the same run, the peer: curl fetching the same
// patch files, md5sum over them and unzip -o of each into a scratch folder.
// Prints seconds and MB/s (10^6 bytes a second of patch bytes) of both and
// their ratio, and checks that the client ended at the latest version.
// RV_BENCH_LOG=<file> keeps the run's log.
#include "platform/file.h"
#include "tests/support/nginx.h"
#include "tests/support/package_builder.h"
#include "tests/support/patch_builder.h"
#include "tests/support/patch_list_builder.h"
#include "tests/support/temp_dir.h"
#include "tests/support/update_client.h"

#include "bench/bench_clock.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

const int s_nPatchCount = 4;
const size_t s_uStoredFiles = 13;            // per patch, incompressible, stored
const size_t s_uStoredSize = 8u << 20;
const size_t s_uDeflatedFiles = 8;           // per patch, text-like, deflated
const size_t s_uDeflatedSize = 6u << 20;
const size_t s_uPackagePayload = 16u << 20;  // bytes an update file writes into the package
const uint64_t s_ullDataFileSize = 64u << 20;

std::string _Version(int nMinor)
{
    return "1." + std::to_string(nMinor);
}

std::string _PatchName(int nFrom)
{
    return "p_c_" + _Version(nFrom) + "-to-" + _Version(nFrom + 1) + "_.zip";
}

// Incompressible bytes, different for every seed.
std::string _Noise(size_t uSize, uint64_t ullSeed)
{
    std::string str(uSize, '\0');
    uint64_t ullState = 0x9E3779B97F4A7C15ULL ^ (ullSeed * 0xBF58476D1CE4E5B9ULL);
    for (size_t i = 0; i + 8 <= uSize; i += 8) {
        ullState ^= ullState << 13;
        ullState ^= ullState >> 7;
        ullState ^= ullState << 17;
        memcpy(&str[i], &ullState, 8);
    }
    return str;
}

// Text like scripts and tables: words and numbers, deflating to about a third.
std::string _Text(size_t uSize, uint64_t ullSeed)
{
    static const char* const s_aszWords[] = {"monster", "level", "quest", "=", "item", "skill", "map", "npc",
                                            "reward", "{", "}", ",", "name", "id", "drop", "rate"};
    std::string str;
    str.reserve(uSize + 32);
    uint64_t ullState = 0x2545F4914F6CDD1DULL ^ ullSeed;
    while (str.size() < uSize) {
        ullState ^= ullState << 13;
        ullState ^= ullState >> 7;
        ullState ^= ullState << 17;
        str += s_aszWords[ullState & 15];
        str += ' ';
        str += std::to_string((ullState >> 8) % 100000);
        str += (ullState >> 40) % 8 == 0 ? '\n' : ' ';
    }
    str.resize(uSize);
    return str;
}

// The item names of patch nFrom: consecutive patches share some of them, so
// that later patches replace files the earlier ones installed.
std::string _StoredName(int nFrom, size_t i)
{
    return "data/asset_" + std::to_string((size_t)nFrom * 8 + i) + ".bin";
}

std::string _DeflatedName(int nFrom, size_t i)
{
    return "script/table_" + std::to_string((size_t)nFrom * 5 + i) + ".txt";
}

// Patches 0 and 2 carry an update file (data versions 1 to 2, then 2 to 3).
bool _HasUpdateFile(int nFrom, uint32_t* puRetFromData)
{
    *puRetFromData = nFrom == 0 ? 1 : 2;
    return nFrom == 0 || nFrom == 2;
}

std::string _PackagePayload(uint32_t uFromData)
{
    return _Noise(s_uPackagePayload, 1000 + uFromData);
}

bool _WritePatch(int nFrom, const std::string& strZip)
{
    Rv_TestPatchBuilder Builder;
    uint32_t uFromData = 0;
    Builder.SetStored(true);
    for (size_t i = 0; i < s_uStoredFiles; ++i)
        Builder.AddFile(_StoredName(nFrom, i), _Noise(s_uStoredSize, (uint64_t)nFrom * 100 + i));
    if (_HasUpdateFile(nFrom, &uFromData)) {
        Rv_TestUpdateFileBuilder Update;
        Update.uFromDataVersion = uFromData;
        Update.uToDataVersion = uFromData + 1;
        Update.AddData(0, _PackagePayload(uFromData));
        Update.AddOverwriteSegment(0, s_uPackagePayload);
        Builder.AddUpdateFile("pak.UPDATE", Update);
    }
    Builder.SetStored(false);
    for (size_t i = 0; i < s_uDeflatedFiles; ++i)
        Builder.AddFile(_DeflatedName(nFrom, i), _Text(s_uDeflatedSize, (uint64_t)nFrom * 100 + i));
    Builder.AddVersionFile(Rv_TestVersionCfg(_Version(nFrom + 1)));
    return Builder.Write(strZip) == 1;
}

// Runs a shell command; seconds taken, or -1 when it failed.
double _Timed(const std::string& strCommand)
{
    int nStatus = -1;
    auto start = std::chrono::steady_clock::now();
    Rv_TestRun(strCommand, &nStatus);
    double dSeconds = Rv_BenchSeconds(start);
    if (nStatus != 0) {
        fprintf(stderr, "failed (%d): %s\n", nStatus, strCommand.c_str());
        return -1;
    }
    return dSeconds;
}

// The simulated machine of the end-to-end runs, with a registry of its own.
void _PrepareMachine(const Rv_TestTempDir& Dir)
{
    Rv_TestPrepareSimMachine(Dir);
    Pf_CreateDirChain(Dir.File("registry"));
    setenv("RV_REGISTRY_DIR", Dir.File("registry").c_str(), 1);
}

// The client at version 1.0 in <root>/game/client, its package in <root>/pakV3.
bool _PrepareClient(const Rv_TestTempDir& Dir, const std::string& strServerURL)
{
    const std::string strClient = Dir.File("game/client/");
    Rv_TestConfigSpec Spec;
    int nStatus = -1;
    Spec.ullMaxSizePerDataFile = s_ullDataFileSize;
    Rv_TestMakePackage(Dir.File("pakV3"), Spec, {std::string(4096, 'a')},
                       {{"main.DIR", Rv_TestMakeDirFile("main", 1, {{1, 0, 20}})}});
    Pf_CreateDirChain(strClient);
    Rv_TestRun("cp '" RV_REFITTER_EXE "' '" + strClient + "Refitter.exe'", &nStatus);
    Rv_TestWriteFile(strClient + "version.cfg", Rv_TestVersionCfg(_Version(0)));
    Rv_TestWriteFile(strClient + "NewPackageList.txt", "");
    Rv_TestWriteFile(strClient + "refitter.ini", "[server_1]\nip=" + strServerURL + "\n");
    return nStatus == 0;
}

// The client holds the last patch's files and the package the last payload.
bool _ClientIsLatest(const Rv_TestTempDir& Dir)
{
    const std::string strClient = Dir.File("game/client/");
    const int nLast = s_nPatchCount - 1;
    bool bOk = true;
    if (Rv_TestInstalledVersion(strClient + "version.cfg") != _Version(s_nPatchCount)) {
        fprintf(stderr, "the client is at version '%s'\n", Rv_TestInstalledVersion(strClient + "version.cfg").c_str());
        bOk = false;
    }
    if (Rv_TestReadFile(strClient + _StoredName(nLast, 0)) != _Noise(s_uStoredSize, (uint64_t)nLast * 100) ||
        Rv_TestReadFile(strClient + _DeflatedName(nLast, 0)) != _Text(s_uDeflatedSize, (uint64_t)nLast * 100)) {
        fprintf(stderr, "the last patch's files differ\n");
        bOk = false;
    }
    if (Rv_TestReadFile(Dir.File("pakV3/pak0.DAT")).compare(0, s_uPackagePayload, _PackagePayload(2)) != 0) {
        fprintf(stderr, "the package does not hold the last update file's data\n");
        bOk = false;
    }
    return bOk;
}

// Seconds of each step of the peer, or a negative total when one failed.
struct PeerTimes {
    double dCurl = -1, dMD5 = -1, dUnzip = -1;
    double Total() const { return dCurl < 0 || dMD5 < 0 || dUnzip < 0 ? -1 : dCurl + dMD5 + dUnzip; }
};

PeerTimes _RunPeer(const Rv_TestTempDir& Dir, const Rv_TestNginx& nginx, const std::vector<Rv_TestListedPatch>& vecListed)
{
    PeerTimes Times;
    const std::string strDownload = Dir.File("peer/download/");
    const std::string strOut = Dir.File("peer/out");
    std::string strCurl = "curl -sSf --noproxy '*'";
    std::string strSums;
    std::string strUnzip = "true";
    Pf_CreateDirChain(strDownload);
    Pf_CreateDirChain(strOut);
    for (const Rv_TestListedPatch& patch : vecListed) {
        strCurl += " -o '" + strDownload + patch.strName + "' '" + nginx.Url("/zhcn/" + patch.strName) + "'";
        strSums += patch.strMD5 + "  " + patch.strName + "\n";
        strUnzip += " && unzip -qo '" + strDownload + patch.strName + "' -d '" + strOut + "'";
    }
    Rv_TestWriteFile(Dir.File("peer/sums"), strSums);
    Times.dCurl = _Timed(strCurl);
    Times.dMD5 = _Timed("cd '" + strDownload + "' && md5sum --quiet -c '" + Dir.File("peer/sums") + "'");
    Times.dUnzip = _Timed(strUnzip);
    return Times;
}

}  // namespace

int main()
{
    int nExit = 1;
    try {
        Rv_TestTempDir Dir;
        const std::string strServer = Dir.File("www/zhcn/");
        std::vector<Rv_TestListedPatch> vecListed;
        double dPatchBytes = 0;
        Pf_CreateDirChain(strServer);
        Pf_CreateDirChain(Dir.File("nginx"));
        _PrepareMachine(Dir);

        fprintf(stderr, "building %d patches...\n", s_nPatchCount);
        for (int nFrom = 0; nFrom < s_nPatchCount; ++nFrom) {
            const std::string strZip = strServer + _PatchName(nFrom);
            uint64_t ullSize = 0;
            if (!_WritePatch(nFrom, strZip) || !Pf_GetFileSize(strZip, &ullSize))
                throw std::runtime_error("cannot write " + strZip);
            vecListed.push_back({_PatchName(nFrom), Rv_TestFileMD5(strZip)});
            dPatchBytes += (double)ullSize;
        }
        Rv_TestWriteFile(strServer + "autoupdateentry.txt", Rv_TestPatchListText(_Version(s_nPatchCount), vecListed));

        Rv_TestNginx nginx(Dir.File("www"), Dir.File("nginx"));
        if (!nginx.Start())
            throw std::runtime_error("nginx did not start");
        if (!_PrepareClient(Dir, nginx.Url("/")))
            throw std::runtime_error("cannot prepare the client");

        const std::string strExe = Dir.File("game/client/Refitter.exe");
        const double dOurs = _Timed("cd / && timeout 600 '" + strExe + "' -a </dev/null >/dev/null 2>&1");
        const bool bLatest = dOurs >= 0 && _ClientIsLatest(Dir);
        const PeerTimes Peer = _RunPeer(Dir, nginx, vecListed);
        nginx.Stop();
        // RV_BENCH_LOG names a file to keep the run's log in, to see where the time went.
        if (const char* cszKeep = getenv("RV_BENCH_LOG"))
            Rv_TestRun("cat '" + Dir.File("game/client/") + "'logs/Refitter/*/*.log > '" + cszKeep + "'");
        if (!bLatest || Peer.Total() < 0) {
            fprintf(stderr, "logs: %s\n", Rv_TestRun("cat '" + Dir.File("game/client/") + "'logs/Refitter/*/*.log").c_str());
            throw std::runtime_error("a run failed");
        }

        printf("patches: %d, %.1f MB in all\n", s_nPatchCount, dPatchBytes / 1e6);
        printf("Refitter.exe -a          %7.2f s  %8.1f MB/s\n", dOurs, dPatchBytes / dOurs / 1e6);
        printf("curl + md5sum + unzip -o %7.2f s  %8.1f MB/s  (curl %.2f s, md5sum %.2f s, unzip %.2f s)\n",
               Peer.Total(), dPatchBytes / Peer.Total() / 1e6, Peer.dCurl, Peer.dMD5, Peer.dUnzip);
        printf("ratio (peer time / ours) %6.1f %%\n", 100.0 * Peer.Total() / dOurs);
        nExit = 0;
    } catch (const std::exception& e) {
        fprintf(stderr, "%s\n", e.what());
    }
    return nExit;
}
