// The length of an open stdio stream's file: read it, or cut the file to a
// length. Both flush the stream's buffer first (checked); they return 1 or 0
// and leave the reason in errno.
#pragma once
#include <cstdint>
#include <cstdio>

int Pf_GetStreamLength(FILE* pFile, uint64_t* pullRetLength);
int Pf_TruncateStream(FILE* pFile, uint64_t ullLength);
