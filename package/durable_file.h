// Whole files written so that they survive a killed process and a power cut:
// the bytes go to "<path>.tmp", which is flushed, synced and closed (each
// checked) and then renamed over the path in one step; the folder is synced.
#pragma once
#include <cstddef>
#include <string>

// What a failed open or write logs, in the caller's own words.
struct Rv_DurableWriteLog {
    const char16_t* pcszOpenFailed;   // "Error: open file failed. <name> = %s", given a path
    int bTemporaryPath;               // that path is the temporary file's, else the target's
    const char* cszStream;            // the check of the open ("fpFile")
    const char* cszWrite;             // the check of a write ("uWriteCount == 1")
};

// Writes the two parts (the second may be empty) one after the other. On
// failure the path is left as it was and the temporary file is removed.
int Rv_WriteFileDurably(const std::u16string& strPath, const std::u16string& strFolder, const void* pvFirst, size_t uFirstSize,
                        const void* pvSecond, size_t uSecondSize, const Rv_DurableWriteLog& rLog);
