// Whole-file download: one small file from the update server into a local
// file in one blocking call, trying the web-client library with the system's
// proxy settings, then without a proxy, then the URL download; and the
// cache-busting URL suffix.
#pragma once
#include <cstdint>
#include <string>

// 1 when one of the ways wrote the complete file. A body of more than
// ullMaxSize bytes (0: no bound) fails the way that receives it, before more
// than the bound is written.
int RVU_DownloadHttpFile(const char* cszURL, const char* cszFileName, uint64_t ullMaxSize = 0);
// Asks for cszFileURL + a fresh suffix first, then for the plain URL.
int RVU_DownloadHttpFileForceRefresh(const char* cszFileURL, const char* cszFileName, uint64_t ullMaxSize = 0);
// Writes "/<seconds since 1970><counter>.RefreshEveryTime" into *pRetString.
int Rv_GenerateRefreshEveryTimeString(std::string* pRetString);
