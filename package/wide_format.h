// printf-style formatting of wide (UTF-16, char16_t) text with the package
// library's rules: "%s" and "%ls" take a const char16_t*, "%hs" a narrow UTF-8
// const char*, "%c" a wide character ("%hc" a narrow one). Integer, pointer and
// floating conversions, flags, width, precision ("*" too) and the length
// modifiers hh, h, l, ll, z, j, t work as in printf.
#pragma once
#include <cstdarg>
#include <cstddef>
#include <string>

// Formats into a buffer of uBufferLen characters (terminator included). Returns
// the number of characters written without the terminator, or -1 when the
// text did not fit (the buffer then holds as much as fits, terminated) or the
// buffer is null or empty.
int Rv_VFormat(char16_t* pszBuffer, size_t uBufferLen, const char16_t* cpszFormat, va_list Args);
int Rv_Format(char16_t* pszBuffer, size_t uBufferLen, const char16_t* cpszFormat, ...);

// The whole formatted text, without a length limit.
std::u16string Rv_VFormatString(const char16_t* cpszFormat, va_list Args);
std::u16string Rv_FormatString(const char16_t* cpszFormat, ...);
