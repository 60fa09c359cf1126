// Version information of executables: the stamp block that our build puts
// into an executable, found by reading the file on disk.
#pragma once
#include <string>

// Size of the file's version information; 0 when it has none.
unsigned Pf_GetFileVersionInfoSize(const std::string& strPath);
// Reads the version information block of a file. Returns 0 when it has none.
int Pf_GetFileVersionInfo(const std::string& strPath, std::string* pstrRetBlock);
// Looks up one value of a block by its key ("\VarFileInfo\Translation",
// "\StringFileInfo\080404b0\FileVersion"). Returns 0 when absent.
int Pf_VerQueryValue(const std::string& strBlock, const std::string& strKey, std::string* pstrRetValue);
// The first translation of a block as language and code page.
int Pf_VerQueryTranslation(const std::string& strBlock, unsigned* puRetLanguage, unsigned* puRetCodePage);
