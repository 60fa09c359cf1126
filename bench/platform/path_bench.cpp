// New files in one folder: 2,000 and 20,000 files created (and closed) one
// after another in an empty folder through the platform's path conversion
// (Pf_Open with the system's "\" spelling), beside the same creations with
// plain open/close in the same run. The time per file should not grow with
// the folder.
#include "bench/bench_clock.h"
#include "platform/file.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

const int s_nRounds = 5;

std::string _Name(int i)
{
    char szName[32];
    snprintf(szName, sizeof(szName), "File%06d.dat", i);
    return szName;
}

bool _CreatePlain(const std::string& strFolder, int nFiles)
{
    for (int i = 0; i < nFiles; ++i) {
        int nFd = open((strFolder + "/" + _Name(i)).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (nFd < 0 || close(nFd) != 0)
            return false;
    }
    return true;
}

bool _CreatePlatform(const std::string& strFolder, int nFiles)
{
    for (int i = 0; i < nFiles; ++i) {
        int nFd = Pf_Open(strFolder + "\\" + _Name(i), O_WRONLY | O_CREAT | O_EXCL);
        if (nFd < 0 || close(nFd) != 0)
            return false;
    }
    return true;
}

// A fresh empty folder for each round, made untimed.
bool _Renew(const std::string& strFolder)
{
    return Pf_RemoveTree(strFolder) && Pf_CreateDir(strFolder);
}

} // namespace

int main()
{
    const char* cszTmp = getenv("TMPDIR");
    std::string strDir = std::string(cszTmp && *cszTmp ? cszTmp : "/tmp") + "/rvpathbench.XXXXXX";
    if (!mkdtemp(strDir.data())) {
        perror("mkdtemp");
        return 1;
    }
    const std::string strPlain = strDir + "/plain";
    const std::string strPlatform = strDir + "/platform";
    const int anCounts[] = {2000, 20000};
    double adPlatformPerFile[2] = {0, 0};

    printf("new files in one empty folder, best of %d rounds, the two ways taking turns\n", s_nRounds);
    for (int k = 0; k < 2; ++k) {
        int nFiles = anCounts[k];
        double dPlain = 1e30, dPlatform = 1e30;
        for (int nRound = 0; nRound < s_nRounds; ++nRound) {
            for (int nWay = 0; nWay < 2; ++nWay) {
                bool bPlatform = (nRound + nWay) % 2 == 1;
                const std::string& strFolder = bPlatform ? strPlatform : strPlain;
                double& dBest = bPlatform ? dPlatform : dPlain;
                auto fnCreate = [&] { return bPlatform ? _CreatePlatform(strFolder, nFiles) : _CreatePlain(strFolder, nFiles); };
                auto fnRenew = [&] { return _Renew(strFolder); };
                dBest = std::min(dBest, Rv_BenchBestOf(1, fnCreate, fnRenew));
            }
        }
        adPlatformPerFile[k] = dPlatform / nFiles;
        printf("%6d files: open/close %7.2f us/file, Pf_Open/close %7.2f us/file, ratio (Pf_Open rate / open rate): %.3f\n",
               nFiles, dPlain / nFiles * 1e6, dPlatform / nFiles * 1e6, dPlain / dPlatform);
    }
    printf("Pf_Open time per file, 20000 files / 2000 files: %.2f\n", adPlatformPerFile[1] / adPlatformPerFile[0]);
    Pf_RemoveTree(strDir);
    return 0;
}
