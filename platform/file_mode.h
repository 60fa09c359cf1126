// Permission bits of files: making an unpacked program runnable.
#pragma once
#include <string>

// Adds the execute permission wherever the file may be read. Returns 1 or 0 (errno set).
int Pf_SetExecutable(const std::string& strPath);
