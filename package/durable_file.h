// Whole files written so that they survive a killed process and a power cut:
// the bytes go to "<path>.tmp", which is flushed, synced and closed (each
// checked) and then renamed over the path in one step; the folder is synced.
#pragma once
#include <cstddef>
#include <string>

// Writes the two parts (the second may be empty) one after the other. On
// failure the path is left as it was and the temporary file is removed.
int Rv_WriteFileDurably(const std::u16string& strPath, const std::u16string& strFolder, const void* pvFirst, size_t uFirstSize,
                        const void* pvSecond, size_t uSecondSize);
