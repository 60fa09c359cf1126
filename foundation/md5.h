// MD5 of a whole file, or of bytes in memory, as 32 lower-case hexadecimal
// digits.
#pragma once
#include <cstddef>

// Writes the digest text and a terminator into szDestMD5String (at least 33
// characters; set to "" first). Returns 1 done, 0 failed.
int MakeFileMD5(char* szDestMD5String, const char* szFileName);
// The same for uSize bytes at pvData (null only when uSize is 0).
int MakeBytesMD5(char* szDestMD5String, const void* pvData, size_t uSize);
