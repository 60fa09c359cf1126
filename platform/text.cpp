// UTF-8 and UTF-16 conversion.
#include "platform/text.h"

#include <cstdint>

static int _Utf8ToUtf16(const std::string& str, std::u16string* pwstrRet, bool bStrict)
{
    std::u16string wstr;
    wstr.reserve(str.size());
    size_t i = 0;
    const size_t n = str.size();
    while (i < n) {
        uint8_t c = (uint8_t)str[i];
        uint32_t uCode = 0;
        size_t uLen = 0;
        if (c < 0x80) {
            uCode = c;
            uLen = 1;
        } else if ((c & 0xE0) == 0xC0) {
            uCode = c & 0x1F;
            uLen = 2;
        } else if ((c & 0xF0) == 0xE0) {
            uCode = c & 0x0F;
            uLen = 3;
        } else if ((c & 0xF8) == 0xF0) {
            uCode = c & 0x07;
            uLen = 4;
        }
        bool bValid = uLen > 0 && i + uLen <= n;
        for (size_t k = 1; bValid && k < uLen; ++k) {
            uint8_t cc = (uint8_t)str[i + k];
            if ((cc & 0xC0) != 0x80)
                bValid = false;
            else
                uCode = (uCode << 6) | (cc & 0x3F);
        }
        if (bValid) {
            static const uint32_t s_auMin[5] = {0, 0, 0x80, 0x800, 0x10000};
            if (uCode < s_auMin[uLen] || uCode > 0x10FFFF || (uCode >= 0xD800 && uCode <= 0xDFFF))
                bValid = false;
        }
        if (!bValid) {
            if (bStrict)
                return 0;
            wstr += (char16_t)0xFFFD;
            ++i;
            continue;
        }
        if (uCode >= 0x10000) {
            uCode -= 0x10000;
            wstr += (char16_t)(0xD800 + (uCode >> 10));
            wstr += (char16_t)(0xDC00 + (uCode & 0x3FF));
        } else {
            wstr += (char16_t)uCode;
        }
        i += uLen;
    }
    pwstrRet->swap(wstr);
    return 1;
}

static void _AppendUtf8(std::string* pstr, uint32_t uCode)
{
    if (uCode < 0x80) {
        *pstr += (char)uCode;
    } else if (uCode < 0x800) {
        *pstr += (char)(0xC0 | (uCode >> 6));
        *pstr += (char)(0x80 | (uCode & 0x3F));
    } else if (uCode < 0x10000) {
        *pstr += (char)(0xE0 | (uCode >> 12));
        *pstr += (char)(0x80 | ((uCode >> 6) & 0x3F));
        *pstr += (char)(0x80 | (uCode & 0x3F));
    } else {
        *pstr += (char)(0xF0 | (uCode >> 18));
        *pstr += (char)(0x80 | ((uCode >> 12) & 0x3F));
        *pstr += (char)(0x80 | ((uCode >> 6) & 0x3F));
        *pstr += (char)(0x80 | (uCode & 0x3F));
    }
}

static int _Utf16ToUtf8(const std::u16string& wstr, std::string* pstrRet, bool bStrict)
{
    std::string str;
    str.reserve(wstr.size());
    for (size_t i = 0; i < wstr.size(); ++i) {
        uint32_t uCode = wstr[i];
        if (uCode >= 0xD800 && uCode <= 0xDBFF && i + 1 < wstr.size() && wstr[i + 1] >= 0xDC00 && wstr[i + 1] <= 0xDFFF) {
            uCode = 0x10000 + ((uCode - 0xD800) << 10) + (wstr[i + 1] - 0xDC00);
            ++i;
        } else if (uCode >= 0xD800 && uCode <= 0xDFFF) {
            if (bStrict)
                return 0;
            uCode = 0xFFFD;
        }
        _AppendUtf8(&str, uCode);
    }
    pstrRet->swap(str);
    return 1;
}

std::u16string Pf_Utf8ToUtf16(const std::string& str)
{
    std::u16string wstr;
    _Utf8ToUtf16(str, &wstr, false);
    return wstr;
}

std::string Pf_Utf16ToUtf8(const std::u16string& wstr)
{
    std::string str;
    _Utf16ToUtf8(wstr, &str, false);
    return str;
}

int Pf_Utf8ToUtf16Strict(const std::string& str, std::u16string* pwstrRet)
{
    return _Utf8ToUtf16(str, pwstrRet, true);
}

int Pf_Utf16ToUtf8Strict(const std::u16string& wstr, std::string* pstrRet)
{
    return _Utf16ToUtf8(wstr, pstrRet, true);
}

std::string Pf_Trim(const std::string& str, const char* cszBlanks)
{
    size_t uBegin = str.find_first_not_of(cszBlanks);
    if (uBegin == std::string::npos)
        return std::string();
    size_t uEnd = str.find_last_not_of(cszBlanks);
    return str.substr(uBegin, uEnd - uBegin + 1);
}
