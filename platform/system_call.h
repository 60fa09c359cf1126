// Optional calls of the operating system, looked up by module and name at run
// time because an older system may lack them; and the open-for-reading and
// close that go with the file-size call.
#pragma once
#include <cstdint>
#include <string>

// The size of an open file ("kernel32.dll" "GetFileSizeEx"): 1 and
// *pllRetSize, or 0.
typedef int (*Pf_GetFileSizeExFunction)(int hFile, int64_t* pllRetSize);
// Whether the current process runs in the 32-bit layer of a 64-bit system
// ("kernel32.dll" "IsWow64Process"). This system's programs are native, so
// it answers whether the system is a 64-bit one (Pf_IsHost64Bit): the
// question its callers ask.
typedef int (*Pf_IsWow64ProcessFunction)(int* pbRetWow64);
// Processor times ("kernel32.dll" "GetSystemTimes"), as Pf_GetSystemTimes.
typedef int (*Pf_GetSystemTimesFunction)(uint64_t* pullRetIdle, uint64_t* pullRetKernel, uint64_t* pullRetUser);

// The call's address, or null when the system lacks it. A module is named
// with or without ".dll", in any case. Under RV_SIM_ROOT the
// fact "missing_calls" lists calls (one name a line) the simulated system lacks.
void* Pf_GetSystemCall(const char* cszModule, const char* cszName);

// Opens an existing file for reading, others may read too; -1 when it cannot
// (Pf_GetLastError tells why).
int Pf_OpenExistingForRead(const std::string& strPath);
void Pf_CloseFile(int hFile);
