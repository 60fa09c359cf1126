// Text conversion. Narrow strings are UTF-8 bytes; wide text is UTF-16LE in
// char16_t (never wchar_t, which is four bytes here).
#pragma once
#include <string>

// Invalid input bytes or lone surrogates become U+FFFD.
std::u16string Pf_Utf8ToUtf16(const std::string& str);
std::string Pf_Utf16ToUtf8(const std::u16string& wstr);
// Strict forms: return 0 on invalid input.
int Pf_Utf8ToUtf16Strict(const std::string& str, std::u16string* pwstrRet);
int Pf_Utf16ToUtf8Strict(const std::u16string& wstr, std::string* pstrRet);

// The text without the given characters at either end (by default blanks,
// tabs and line ends).
std::string Pf_Trim(const std::string& str, const char* cszBlanks = " \t\r\n");
