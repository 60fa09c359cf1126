// The simulated machine of end-to-end runs.
//
// When RV_SIM_ROOT names a folder, each fact of the machine that a test wants
// to fix is a small text file in it ("free_bytes", "sleep_divisor", ...).
// Without RV_SIM_ROOT, or without the file, the real machine answers.
#pragma once
#include <string>
#include <cstdint>

// The folder of the simulated machine, or "" when none is set.
std::string Pf_SimRoot();
// Full path of a file in the simulated machine's folder, or "" when none.
std::string Pf_SimPath(const char* cszName);
// Reads the fact cszName (whole file, surrounding blanks and line ends
// trimmed). Returns 1 when present.
int Pf_SimRead(const char* cszName, std::string* pstrRetValue);
// Reads the fact as an unsigned 64-bit decimal. Returns 1 when present and valid.
int Pf_SimReadU64(const char* cszName, uint64_t* pullRetValue);
// Appends one line to the transcript file cszName (serialised across threads
// and processes). Does nothing without a simulated machine.
void Pf_SimAppendLine(const char* cszName, const std::string& strLine);
