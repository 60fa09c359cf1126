// Names inside patch archives: the relative name of an item under
// "updatepack/", the check that keeps it inside the folder it is joined to,
// the versions in a file-link list's name, and package series names.
#pragma once
#include <cstdint>
#include <string>

#include "foundation/zip.h"

// The text after "updatepack/" (case-insensitive) of a file item; 0 for a
// folder item, an item outside that folder, or an empty relative name.
int Rv_GetPatchRelativeName(const ZipEntry& Entry, std::string* pstrRetRelativeName);
// A relative item name that may be joined to a folder: after mapping both
// separators, no empty, "." or ".." component, no drive or absolute prefix,
// no ':' anywhere.
int Rv_IsSafeRelativeItemName(const std::string& strName);
// From- and to-version of a file-link list's name ("a/120-125.FileLinkList"
// gives 120 and 125); a name without '-' fails.
int Rv_GetLinkListVersions(const std::string& strRelativeName, uint32_t* puRetFrom, uint32_t* puRetTo);
// The package name after strName: the number after its last '_' plus one,
// and ".pak" ("NewPack\new_7.pak" gives "NewPack\new_8.pak").
int Rv_GetNextPackageName(const std::string& strName, std::string* pstrRetNext);
// Case-insensitive suffix test for names of at least uMinLength characters.
bool Rv_EndsWithNoCase(const std::string& strName, const char* cszSuffix, size_t uMinLength);
bool Rv_BeginsWithNoCase(const std::string& strName, const char* cszPrefix);
