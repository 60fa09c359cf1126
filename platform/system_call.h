// Optional calls of the operating system, looked up by module and name at run
// time because an older system may lack them; and the open-for-reading and
// close that go with the file-size call.
#pragma once
#include <cstdint>
#include <string>

// The size of an open file ("kernel32.dll" "GetFileSizeEx"): 1 and
// *pllRetSize, or 0.
typedef int (*Pf_GetFileSizeExFunction)(int hFile, int64_t* pllRetSize);

// The call's address, or null when the system lacks it. Under RV_SIM_ROOT the
// fact "missing_calls" lists calls (one name a line) the simulated system lacks.
void* Pf_GetSystemCall(const char* cszModule, const char* cszName);

// Opens an existing file for reading, others may read too; -1 when it cannot
// (Pf_GetLastError tells why).
int Pf_OpenExistingForRead(const std::string& strPath);
void Pf_CloseFile(int hFile);
