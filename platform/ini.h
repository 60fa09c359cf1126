// Private-profile ini files: "[Section]" headers and "key=value" lines.
//
// Sections and keys are found without regard to case (the first match
// wins); values are trimmed of blanks, and a value enclosed in a matching
// pair of double or single quotes loses them. Lines beginning with ";" are
// comments. CRLF and LF line ends and a UTF-8 byte-order mark are accepted.
// A key that is present with an empty value is present: defaults apply to
// absent keys (or a missing file) only. Values come back whole.
//
// Writes take an exclusive lock that stands for the file (threads and
// processes alike; the lock file lies in the user's runtime folder, see
// Pf_FileLock::LockFor), read the file, change one line and write the whole
// file to a temporary name, sync it and rename it over, so a reader sees the
// old file or the new one, never half of one; the file keeps its mode. File
// paths go through Pf_NativePath.
#pragma once
#include <string>
#include <utility>
#include <vector>

// Returns 1 and the value when the key is present, 0 when it is absent or the
// file cannot be read (errno set; ENOENT for a missing file).
int Pf_IniGetString(const std::string& strFile, const std::string& strSection, const std::string& strKey,
                    std::string* pstrRetValue);
// The value, or strDefault when the key is absent.
std::string Pf_IniReadString(const std::string& strFile, const std::string& strSection, const std::string& strKey,
                             const std::string& strDefault);
// The value read like atoi (Pf_AtoI), or nDefault when the key is absent.
int Pf_IniReadInt(const std::string& strFile, const std::string& strSection, const std::string& strKey, int nDefault);
// The names of the keys of a section, in file order (the first section of
// that name; duplicates of a key listed once). Returns 0 when the section or
// the file is missing.
int Pf_IniGetSectionKeys(const std::string& strFile, const std::string& strSection,
                         std::vector<std::string>* pvecRetKeys);

// Every "key=value" line of a section (the first section of that name), in
// file order, duplicates included, from one read of the file. Returns 0 when
// the section or the file is missing.
int Pf_IniGetSectionValues(const std::string& strFile, const std::string& strSection,
                           std::vector<std::pair<std::string, std::string>>* pvecRetValues);

// Adds or replaces "key=value" in the section, creating the section (at the
// end) and the file when missing; the folder must exist. Refuses (errno
// EINVAL) an empty or blank-edged section or key, a section with "]", a key
// with "=" or starting with "[" or ";", and line breaks anywhere.
int Pf_IniWriteString(const std::string& strFile, const std::string& strSection, const std::string& strKey,
                      const std::string& strValue);
