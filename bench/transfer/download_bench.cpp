// Download throughput on loopback against a private nginx: one 1 GiB file
// through the multi-file downloader, then five 200 MiB files at once, each
// beside curl fetching the same files in the same run (five curl processes
// for the five files). Prints MB/s (10^6 bytes a second) of both and our
// share of curl's rate; the best of a few rounds counts.
#include "tests/support/nginx.h"
#include "transfer/downloader.h"

#include "bench/bench_clock.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

const int s_nRounds = 3;

struct Batch {
    const char* cszName;
    std::vector<std::string> vecNames;
    long long llFileSize;
};

// A sparse file: served as zeros without reading a disk.
bool _MakeSparse(const std::string& strPath, long long llSize)
{
    int nFd = open(strPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (nFd < 0)
        return false;
    bool bOk = ftruncate(nFd, llSize) == 0;
    return close(nFd) == 0 && bOk;
}

long long _FileSize(const std::string& strPath)
{
    struct stat st;
    return stat(strPath.c_str(), &st) == 0 ? (long long)st.st_size : -1;
}

bool _CheckAndRemove(const Batch& batch, const std::string& strOutDir)
{
    bool bOk = true;
    for (const std::string& strName : batch.vecNames) {
        std::string strPath = strOutDir + "/" + strName;
        if (_FileSize(strPath) != batch.llFileSize) {
            fprintf(stderr, "%s: %s has %lld bytes\n", batch.cszName, strName.c_str(), _FileSize(strPath));
            bOk = false;
        }
        unlink(strPath.c_str());
    }
    return bOk;
}

// Seconds for our downloader to fetch the batch into strOutDir, or -1.
double _RunOurs(const Rv_TestNginx& nginx, const Batch& batch, const std::string& strOutDir)
{
    auto start = std::chrono::steady_clock::now();
    bool bOk = true;
    {
        NyHttpDownloader downloader;
        for (const std::string& strName : batch.vecNames)
            bOk = bOk && downloader.AddFile(nginx.Url("/" + strName).c_str(), strOutDir.c_str());
        while (IHttpFile* pFile = downloader.StartAndWait()) {
            if (pFile->GetStatus() != dec_ok) {
                fprintf(stderr, "%s: status %d for %s\n", batch.cszName, (int)pFile->GetStatus(), pFile->GetFileName());
                bOk = false;
            }
        }
    }
    double dSeconds = Rv_BenchSeconds(start);
    return _CheckAndRemove(batch, strOutDir) && bOk ? dSeconds : -1;
}

// Seconds for curl (one process per file, all at once), or -1.
double _RunCurl(const Rv_TestNginx& nginx, const Batch& batch, const std::string& strOutDir)
{
    std::string strCommand;
    for (const std::string& strName : batch.vecNames)
        strCommand += "curl -sSf --noproxy '*' -o '" + strOutDir + "/" + strName + "' '" + nginx.Url("/" + strName) +
                      "' & ";
    strCommand += "wait";
    std::string strShell = "bash -c \"" + strCommand + "\"";
    auto start = std::chrono::steady_clock::now();
    int nStatus = system(strShell.c_str());
    double dSeconds = Rv_BenchSeconds(start);
    return _CheckAndRemove(batch, strOutDir) && nStatus == 0 ? dSeconds : -1;
}

}  // namespace

int main()
{
    const char* cszTmp = getenv("TMPDIR");
    std::string strTemplate = std::string(cszTmp && cszTmp[0] ? cszTmp : "/tmp") + "/rv_download_bench_XXXXXX";
    std::vector<char> vecTemplate(strTemplate.begin(), strTemplate.end());
    vecTemplate.push_back('\0');
    if (!mkdtemp(vecTemplate.data())) {
        perror("mkdtemp");
        return 1;
    }
    std::string strDir = vecTemplate.data();
    std::string strWww = strDir + "/www";
    std::string strOut = strDir + "/out";
    mkdir(strWww.c_str(), 0755);
    mkdir(strOut.c_str(), 0755);

    std::vector<Batch> vecBatches = {
        {"1 x 1 GiB", {"big.bin"}, 1LL << 30},
        {"5 x 200 MiB", {"f0.bin", "f1.bin", "f2.bin", "f3.bin", "f4.bin"}, 200LL << 20},
    };
    int nExit = 0;
    for (const Batch& batch : vecBatches)
        for (const std::string& strName : batch.vecNames)
            if (!_MakeSparse(strWww + "/" + strName, batch.llFileSize))
                nExit = 1;

    Rv_TestNginx nginx(strWww, strDir);
    if (nExit == 0 && !nginx.Start()) {
        fprintf(stderr, "nginx did not start\n");
        nExit = 1;
    }
    for (size_t i = 0; nExit == 0 && i < vecBatches.size(); ++i) {
        const Batch& batch = vecBatches[i];
        double dOurs = 1e30;
        double dCurl = 1e30;
        for (int nRound = 0; nRound < s_nRounds && nExit == 0; ++nRound) {
            double dA = _RunOurs(nginx, batch, strOut);
            double dB = _RunCurl(nginx, batch, strOut);
            if (dA < 0 || dB < 0) {
                nExit = 1;
                break;
            }
            dOurs = std::min(dOurs, dA);
            dCurl = std::min(dCurl, dB);
        }
        if (nExit)
            break;
        double dBytes = (double)batch.llFileSize * (double)batch.vecNames.size();
        double dOursRate = dBytes / dOurs / 1e6;
        double dCurlRate = dBytes / dCurl / 1e6;
        printf("%-12s downloader %8.1f MB/s   curl %8.1f MB/s   ratio %5.1f %%\n", batch.cszName, dOursRate,
               dCurlRate, 100.0 * dOursRate / dCurlRate);
    }
    nginx.Stop();
    std::string strClean = "rm -rf '" + strDir + "'";
    if (system(strClean.c_str()) != 0)
        nExit = 1;
    return nExit;
}
