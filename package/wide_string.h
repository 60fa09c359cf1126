// Small helpers on wide (UTF-16, char16_t) strings shared by the package
// library: the bounded copy, fixed-width text fields of on-disk records, and
// the checks on names that come from package and update files.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// Copies at most uDestLen characters and fills the rest of pcszDest with
// zeros. When the source does not fit (the last character is not zero), logs
// the cut, terminates the destination and returns 0. Never use it to read a
// fixed field of a record: use Rv_ReadFixedString.
int Rv_StrCopy(char16_t* pcszDest, unsigned uDestLen, const char16_t* pcszSource);

// Length of a zero-terminated wide string (0 for null).
size_t Rv_StrLen(const char16_t* cpszText);

// A fixed text field of uFieldUnits UTF-16 units (for example 64 units, 128
// bytes) inside a packed record; the field may lie at any alignment. Reading
// takes at most uFieldUnits units and fails when the field holds no
// terminator (malformed record). Writing zero-fills the field and fails,
// leaving the field unchanged, when the text with its terminator does not fit.
int Rv_ReadFixedString(const void* pvField, unsigned uFieldUnits, std::u16string* pwstrRet);
int Rv_WriteFixedString(void* pvField, unsigned uFieldUnits, const std::u16string& wstrText);

// ASCII letters compared without case (the file system's rule for names).
int Rv_StrCaseEqual(const std::u16string& wstrA, const std::u16string& wstrB);
// The text after the last "." ("" when there is none).
std::u16string Rv_GetExtension(const std::u16string& wstrName);

// A name that becomes one path component (branch name, data-file prefix,
// data-source file name): not empty, no "\" or "/", no ":", not "." or "..",
// no control characters.
int Rv_IsSafeFileName(const std::u16string& wstrName);
// A relative path inside a folder (stand-alone files): not empty, not
// absolute, no drive letter, no empty, "." or ".." component, "\" and "/"
// both separate sub-folders.
int Rv_IsSafeRelativePath(const std::u16string& wstrPath);

// The narrow (UTF-8) form of a wide path, for the platform layer.
std::string Rv_ToNarrow(const char16_t* cpszText);
std::string Rv_ToNarrow(const std::u16string& wstrText);
