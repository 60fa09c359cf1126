// The machine identifier sent with every report: 32 lower-case hexadecimal
// digits, made once and kept in two stores shared with the security product
// on the same machine (a registry key and the "hg.dat" ini file), and reused
// by every later run.
#pragma once
#include <string>

enum { UUID5_STRING_LEN = 32 };

// The identifier, read from the stores or made and stored anew. A non-empty
// cszDenyListFile names an ini file whose [ulst] section lists identifiers
// that must be replaced.
void GetUUIDEx(const char* cszDenyListFile, std::u16string* pwstrRetUUID);
// GetUUIDEx with no deny list, in the ANSI code page, into 128 characters.
int GetFelnUUIDEx(char* pszRetBuffer, unsigned uBufferSizeInChar);
// GetFelnUUIDEx, insisting on 32 characters (the registry store is dropped
// and read once more when the first answer is of another length).
int Rv_GetFelnUUIDEx(char* pszRetBuffer);

// The process's copy of the identifier, filled by LoadMachineUUID; read it
// through GetMachineUUIDUtf8, which serialises with the loading.
extern std::u16string g_wstrMachineUUID;
void LoadMachineUUID();
int GetMachineUUIDUtf8(int nBufferSize, char* pszRetBuffer);
