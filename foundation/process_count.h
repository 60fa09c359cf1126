// Counting the running processes of one executable.
#pragma once

// The number of running processes whose image is the file cszExeName (a
// full path, compared without case). The calling process counts when it runs
// that file. Fails only when the process list cannot be read.
int Rv_GetProcessCount(const char* cszExeName, unsigned* puRetCount);
