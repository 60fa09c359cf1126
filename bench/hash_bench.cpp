// Throughput of the file MD5 and the file CRC-32 on a generated file of
// 256 MiB, beside md5sum and zlib's crc32 on the same file in the same run.
#include "foundation/file_mapping.h"
#include "foundation/md5.h"
#include "bench/bench_clock.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>
#include <zlib.h>

namespace {

const uint64_t s_ullFileSize = 256ULL << 20;
const int s_nRounds = 3;

bool _Generate(const std::string& strPath)
{
    int nFd = open(strPath.c_str(), O_CREAT | O_TRUNC | O_WRONLY | O_CLOEXEC, 0644);
    if (nFd < 0)
        return false;
    std::vector<uint64_t> vecBlock((1 << 20) / sizeof(uint64_t));
    uint64_t ullState = 0x9E3779B97F4A7C15ULL;
    bool bOk = true;
    for (uint64_t ullDone = 0; bOk && ullDone < s_ullFileSize; ullDone += 1 << 20) {
        for (uint64_t& ull : vecBlock) {
            ullState ^= ullState << 13;
            ullState ^= ullState >> 7;
            ullState ^= ullState << 17;
            ull = ullState;
        }
        bOk = write(nFd, vecBlock.data(), 1 << 20) == (ssize_t)(1 << 20);
    }
    return close(nFd) == 0 && bOk;
}

double _MiBs(double dSeconds)
{
    return (double)s_ullFileSize / (1 << 20) / dSeconds;
}

} // namespace

int main()
{
    const char* cszTmp = getenv("TMPDIR");
    std::string strDir = std::string(cszTmp && *cszTmp ? cszTmp : "/tmp") + "/rvbench.XXXXXX";
    if (!mkdtemp(strDir.data())) {
        perror("mkdtemp");
        return 1;
    }
    std::string strFile = strDir + "/data.bin";
    int nResult = 1;
    char szMD5[33] = "";
    std::string strMd5sum;
    uint32_t uCRC = 0;
    uint32_t uZlibCRC = 0;
    double dMd5 = 0, dMd5sum = 0, dCrc = 0, dZlib = 0;

    if (!_Generate(strFile)) {
        fprintf(stderr, "cannot write %s\n", strFile.c_str());
        goto Exit;
    }
    dMd5 = Rv_BenchBestOf(s_nRounds, [&] { return MakeFileMD5(szMD5, strFile.c_str()) == 1; });
    dMd5sum = Rv_BenchBestOf(s_nRounds, [&] {
        std::string strCommand = "md5sum '" + strFile + "'";
        FILE* pPipe = popen(strCommand.c_str(), "r");
        if (!pPipe)
            return false;
        char szLine[256] = "";
        bool bOk = fgets(szLine, sizeof(szLine), pPipe) != nullptr;
        strMd5sum.assign(szLine, strnlen(szLine, 32));
        return pclose(pPipe) == 0 && bOk;
    });
    dCrc = Rv_BenchBestOf(s_nRounds, [&] { return Rv_GetFileCRC(strFile.c_str(), &uCRC) == 1; });
    dZlib = Rv_BenchBestOf(s_nRounds, [&] {
        int nFd = open(strFile.c_str(), O_RDONLY | O_CLOEXEC);
        if (nFd < 0)
            return false;
        std::vector<unsigned char> vecBuf(1 << 20);
        uLong uValue = crc32(0, Z_NULL, 0);
        ssize_t nRead;
        while ((nRead = read(nFd, vecBuf.data(), vecBuf.size())) > 0)
            uValue = crc32(uValue, vecBuf.data(), (uInt)nRead);
        close(nFd);
        uZlibCRC = (uint32_t)uValue;
        return nRead == 0;
    });

    printf("file: %llu MiB, best of %d rounds\n", (unsigned long long)(s_ullFileSize >> 20), s_nRounds);
    printf("MakeFileMD5    %8.1f MiB/s  %s\n", _MiBs(dMd5), szMD5);
    printf("md5sum         %8.1f MiB/s  %s\n", _MiBs(dMd5sum), strMd5sum.c_str());
    printf("MD5 ratio (MakeFileMD5 / md5sum): %.3f\n", dMd5sum / dMd5);
    printf("Rv_GetFileCRC  %8.1f MiB/s  %08x\n", _MiBs(dCrc), uCRC);
    printf("zlib crc32     %8.1f MiB/s  %08x\n", _MiBs(dZlib), uZlibCRC);
    printf("CRC ratio (Rv_GetFileCRC / zlib crc32): %.3f\n", dZlib / dCrc);
    if (strMd5sum != szMD5 || uCRC != uZlibCRC) {
        fprintf(stderr, "results differ\n");
        goto Exit;
    }
    nResult = 0;
Exit:
    unlink(strFile.c_str());
    rmdir(strDir.c_str());
    return nResult;
}
