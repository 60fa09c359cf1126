// Throughput of a package update that adds 256 MiB of data from an outside
// data source and then moves those 256 MiB into another data file (512 MiB
// of data handled), beside cp of the same 512 MiB (the source copied, then
// the copy copied, both synced) in the same run.
#include "bench/bench_clock.h"
#include "package/data_config.h"
#include "package/log_stream.h"
#include "package/update_file.h"
#include "package/update_package.h"
#include "platform/text.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const uint64_t s_ullDataSize = 256ULL << 20;
const uint64_t s_ullItemSize = 4ULL << 20;
const uint32_t s_uItemCount = (uint32_t)(s_ullDataSize / s_ullItemSize);
const int s_nRounds = 3;

template <class T>
void _Append(std::string* pstr, const T& Record)
{
    pstr->append((const char*)&Record, sizeof(Record));
}

bool _WriteFile(const std::string& strPath, const std::string& strData)
{
    FILE* fp = fopen(strPath.c_str(), "wb");
    if (!fp)
        return false;
    bool bOk = fwrite(strData.data(), 1, strData.size(), fp) == strData.size();
    return fclose(fp) == 0 && bOk;
}

bool _ReadFile(const std::string& strPath, std::string* pstr)
{
    FILE* fp = fopen(strPath.c_str(), "rb");
    if (!fp)
        return false;
    pstr->clear();
    char szBuf[1 << 16];
    size_t uRead;
    while ((uRead = fread(szBuf, 1, sizeof(szBuf), fp)) > 0)
        pstr->append(szBuf, uRead);
    fclose(fp);
    return true;
}

std::string _Generate()
{
    std::string str(s_ullDataSize, '\0');
    uint64_t ullState = 0x9E3779B97F4A7C15ULL;
    for (size_t i = 0; i + 8 <= str.size(); i += 8) {
        ullState ^= ullState << 13;
        ullState ^= ullState >> 7;
        ullState ^= ullState << 17;
        memcpy(&str[i], &ullState, 8);
    }
    return str;
}

std::string _MakeConfig()
{
    RVPK_DATA_CONFIG Config;
    memset(&Config, 0, sizeof(Config));
    Config.uDataVersion = 1;
    Config.uDataFileCount = 0;
    Config.ullMaxSizePerDataFile = s_ullDataSize;
    Config.uFileNameHashSizeType = Config.uFileAddressSizeType = Config.uFileBufferSizeSizeType = 2;
    memcpy(Config.szFileNamePrefix, u"pak", 3 * sizeof(char16_t));
    Config.PackageState = RVPK_PACKAGE_STATE_NORMAL;
    return std::string((const char*)&Config, sizeof(Config));
}

// Two new data files; the source's bytes added to data file 0 in items of
// 4 MiB, one directory entry each; then every item moved to data file 1.
std::string _MakeUpdate()
{
    std::string strOps;
    strOps.push_back((char)RVPK_OP_ADD_EMPTY_DATA_FILE);
    _Append(&strOps, RVPK_ADD_EMPTY_DATA_FILE_OPERATION{0, 2});
    strOps.push_back((char)RVPK_OP_BATCH_ADD_DATA);
    RVPK_BATCH_ADD_DATA_HEAD Head;
    memset(&Head, 0, sizeof(Head));
    Head.uItemCount = s_uItemCount;
    Head.uTotalDataSize = (uint32_t)s_ullDataSize;
    _Append(&strOps, Head);
    for (uint32_t i = 0; i < s_uItemCount; ++i)
        _Append(&strOps, RVPK_BATCH_ADD_DATA_ITEM{i * s_ullItemSize, s_ullItemSize, 1, i * s_ullItemSize});
    for (uint32_t i = 0; i < s_uItemCount; ++i) {
        strOps.push_back((char)RVPK_OP_ADD_DIR_INDEX);
        _Append(&strOps, RVPK_DIRECTORY_ENTRY_OPERATION{i + 1ull, i * s_ullItemSize, s_ullItemSize});
    }
    strOps.push_back((char)RVPK_OP_BATCH_MOVE_DATA);
    _Append(&strOps, s_uItemCount);
    for (uint32_t i = 0; i < s_uItemCount; ++i)
        _Append(&strOps, RVPK_MOVE_DATA_OPERATION{i * s_ullItemSize, s_ullDataSize + i * s_ullItemSize, s_ullItemSize});

    RVPK_UPDATE_FILE_HEADER Header;
    memset(&Header, 0, sizeof(Header));
    Header.uSignature = RVPK_UPD_SIGNATURE;
    Header.uFromDataVersion = 1;
    Header.uToDataVersion = 2;
    Header.uOperationCount = 2 + s_uItemCount + 1;
    memcpy(Header.szBranchName, u"main", 4 * sizeof(char16_t));
    Header.ullDataSourceFileListOffset = sizeof(Header) + strOps.size();
    Header.uDataSourceFileCount = 1;
    RVPK_DATA_SOURCE_FILE_INFO Source;
    memset(&Source, 0, sizeof(Source));
    Source.uDataSourceId = 1;
    memcpy(Source.szFileName, u"src.bin", 7 * sizeof(char16_t));
    std::string strFile;
    _Append(&strFile, Header);
    strFile += strOps;
    _Append(&strFile, Source);
    return strFile;
}

double _MiBs(double dSeconds)
{
    return (double)(2 * s_ullDataSize) / (1 << 20) / dSeconds;
}

} // namespace

int main()
{
    const char* cszTmp = getenv("TMPDIR");
    std::string strDir = std::string(cszTmp && *cszTmp ? cszTmp : "/tmp") + "/rvpkbench.XXXXXX";
    if (!mkdtemp(strDir.data())) {
        perror("mkdtemp");
        return 1;
    }
    const std::string strPak = strDir + "/pak";
    const std::string strWork = strDir + "/work";
    const std::string strSource = strWork + "/src.bin";
    const std::string strSourceData = _Generate();
    std::string strResult;
    int nResult = 1;
    double dUpdate = 0, dCp = 0;

    if (system(("mkdir -p '" + strPak + "' '" + strWork + "'").c_str()) != 0 || !_WriteFile(strSource, strSourceData) ||
        !_WriteFile(strWork + "/update.upd", _MakeUpdate())) {
        fprintf(stderr, "cannot prepare %s\n", strDir.c_str());
        goto Exit;
    }
    dUpdate = Rv_BenchBestOf(
        s_nRounds,
        [&] {
            int nNoNeed = -1;
            return Rv_UpdatePackage(Pf_Utf8ToUtf16(strWork + "/update.upd").c_str(), Pf_Utf8ToUtf16(strPak + "/Package.CFG").c_str(),
                                    &nNoNeed, Pf_Utf8ToUtf16(strWork).c_str()) == 1 &&
                   nNoNeed == 0;
        },
        [&] {
            return system(("rm -f '" + strPak + "'/*").c_str()) == 0 && _WriteFile(strPak + "/Package.CFG", _MakeConfig());
        });
    if (!_ReadFile(strPak + "/pak1.DAT", &strResult) || strResult != strSourceData) {
        fprintf(stderr, "the moved data differs from the source\n");
        goto Exit;
    }
    dCp = Rv_BenchBestOf(
        s_nRounds,
        [&] {
            std::string strCommand = "cp '" + strSource + "' '" + strDir + "/c1' && cp '" + strDir + "/c1' '" + strDir +
                                     "/c2' && sync '" + strDir + "/c1' '" + strDir + "/c2'";
            return system(strCommand.c_str()) == 0;
        },
        [&] { return system(("rm -f '" + strDir + "'/c1 '" + strDir + "'/c2").c_str()) == 0; });

    printf("data: %llu MiB added and %llu MiB moved, best of %d rounds\n", (unsigned long long)(s_ullDataSize >> 20),
           (unsigned long long)(s_ullDataSize >> 20), s_nRounds);
    printf("Rv_UpdatePackage %8.1f MiB/s\n", _MiBs(dUpdate));
    printf("cp twice + sync  %8.1f MiB/s\n", _MiBs(dCp));
    printf("ratio (Rv_UpdatePackage / cp): %.3f\n", dCp / dUpdate);
    nResult = 0;
Exit:
    system(("rm -rf '" + strDir + "'").c_str());
    return nResult;
}
