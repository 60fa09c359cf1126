// Paths as the system spells them ("update\", "..\..\3rdParty\") turned into
// paths of this file system, in one place.
//
// "\" becomes "/", doubled separators collapse, and each existing component
// is found without regard to case (the exact name first, then the single
// case-insensitive match); a component that does not exist is kept as
// written. Drive-letter paths ("C:\x") are refused.
#pragma once
#include <cstdint>
#include <string>

// Returns 1 and the native path, or 0 (errno EINVAL) for a refused path.
int Pf_NativePath(const std::string& strPath, std::string* pstrRetPath);
// The native path, or "" for a refused path (use where a failure follows anyway).
std::string Pf_Native(const std::string& strPath);
// Case-insensitive comparison of two ASCII texts (the system's path rule).
int Pf_StrCaseEqual(const std::string& strA, const std::string& strB);
// A hash of the text that is the same for texts that Pf_StrCaseEqual finds equal.
uint64_t Pf_StrCaseHash(const std::string& str);
// True for "\" and "/".
inline bool Pf_IsSeparator(char c) { return c == '\\' || c == '/'; }
// strPath with cSeparator appended unless it is empty or already ends in "\"
// or "/".
std::string Pf_WithSeparator(const std::string& strPath, char cSeparator = '\\');
