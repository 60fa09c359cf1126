// The wide formatter: walks the format, hands numbers to snprintf one
// conversion at a time and copies strings as UTF-16.
#include "package/wide_format.h"

#include "platform/text.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

struct Rv_ConversionSpec {
    std::string strFlags;
    int nWidth = -1;        // -1: none
    int nPrecision = -1;    // -1: none
    std::string strLength;  // "", "hh", "h", "l", "ll", "z", "j", "t", "L"
    char cConversion = 0;
};

void _AppendPadded(std::u16string* pwstrOut, const std::u16string& wstrText, const Rv_ConversionSpec& Spec)
{
    size_t uWidth = Spec.nWidth > 0 ? (size_t)Spec.nWidth : 0;
    bool bLeft = Spec.strFlags.find('-') != std::string::npos;
    if (!bLeft && wstrText.size() < uWidth)
        pwstrOut->append(uWidth - wstrText.size(), u' ');
    pwstrOut->append(wstrText);
    if (bLeft && wstrText.size() < uWidth)
        pwstrOut->append(uWidth - wstrText.size(), u' ');
}

// ASCII from snprintf widened unit by unit.
void _AppendAscii(std::u16string* pwstrOut, const char* cszText)
{
    for (const char* p = cszText; *p; ++p)
        pwstrOut->push_back((char16_t)(unsigned char)*p);
}

std::string _NarrowSpec(const Rv_ConversionSpec& Spec, const char* cszLength)
{
    std::string strSpec = "%" + Spec.strFlags;
    if (Spec.nWidth >= 0)
        strSpec += std::to_string(Spec.nWidth);
    if (Spec.nPrecision >= 0)
        strSpec += "." + std::to_string(Spec.nPrecision);
    strSpec += cszLength;
    strSpec += Spec.cConversion;
    return strSpec;
}

template <class T>
void _AppendNumber(std::u16string* pwstrOut, const Rv_ConversionSpec& Spec, const char* cszLength, T Value)
{
    char szText[512];
    std::string strSpec = _NarrowSpec(Spec, cszLength);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    int nLen = snprintf(szText, sizeof(szText), strSpec.c_str(), Value);
#pragma GCC diagnostic pop
    if (nLen < 0)
        szText[0] = '\0';
    _AppendAscii(pwstrOut, szText);
}

void _AppendSigned(std::u16string* pwstrOut, const Rv_ConversionSpec& Spec, va_list* pArgs)
{
    const std::string& L = Spec.strLength;
    if (L == "ll" || L == "j")
        _AppendNumber(pwstrOut, Spec, "ll", (long long)va_arg(*pArgs, long long));
    else if (L == "l")
        _AppendNumber(pwstrOut, Spec, "l", va_arg(*pArgs, long));
    else if (L == "z" || L == "t")
        _AppendNumber(pwstrOut, Spec, "ll", (long long)va_arg(*pArgs, ptrdiff_t));
    else if (L == "h")
        _AppendNumber(pwstrOut, Spec, "", (int)(short)va_arg(*pArgs, int));
    else if (L == "hh")
        _AppendNumber(pwstrOut, Spec, "", (int)(signed char)va_arg(*pArgs, int));
    else
        _AppendNumber(pwstrOut, Spec, "", va_arg(*pArgs, int));
}

void _AppendUnsigned(std::u16string* pwstrOut, const Rv_ConversionSpec& Spec, va_list* pArgs)
{
    const std::string& L = Spec.strLength;
    if (L == "ll" || L == "j")
        _AppendNumber(pwstrOut, Spec, "ll", (unsigned long long)va_arg(*pArgs, unsigned long long));
    else if (L == "l")
        _AppendNumber(pwstrOut, Spec, "l", va_arg(*pArgs, unsigned long));
    else if (L == "z" || L == "t")
        _AppendNumber(pwstrOut, Spec, "ll", (unsigned long long)va_arg(*pArgs, size_t));
    else if (L == "h")
        _AppendNumber(pwstrOut, Spec, "", (unsigned)(unsigned short)va_arg(*pArgs, unsigned));
    else if (L == "hh")
        _AppendNumber(pwstrOut, Spec, "", (unsigned)(unsigned char)va_arg(*pArgs, unsigned));
    else
        _AppendNumber(pwstrOut, Spec, "", va_arg(*pArgs, unsigned));
}

void _AppendString(std::u16string* pwstrOut, const Rv_ConversionSpec& Spec, va_list* pArgs)
{
    std::u16string wstrText;
    if (Spec.strLength == "h" || Spec.strLength == "hh") {
        const char* csz = va_arg(*pArgs, const char*);
        wstrText = csz ? Pf_Utf8ToUtf16(csz) : u"(null)";
    } else {
        const char16_t* cwsz = va_arg(*pArgs, const char16_t*);
        wstrText = cwsz ? std::u16string(cwsz) : u"(null)";
    }
    if (Spec.nPrecision >= 0 && wstrText.size() > (size_t)Spec.nPrecision)
        wstrText.resize((size_t)Spec.nPrecision);
    _AppendPadded(pwstrOut, wstrText, Spec);
}

// Reads one conversion after its "%"; returns the position after it.
const char16_t* _ParseSpec(const char16_t* p, Rv_ConversionSpec* pSpec, va_list* pArgs)
{
    while (*p == u'-' || *p == u'+' || *p == u' ' || *p == u'#' || *p == u'0')
        pSpec->strFlags.push_back((char)*p++);
    if (*p == u'*') {
        int nWidth = va_arg(*pArgs, int);
        if (nWidth < 0) {
            pSpec->strFlags.push_back('-');
            nWidth = -nWidth;
        }
        pSpec->nWidth = nWidth;
        ++p;
    } else {
        while (*p >= u'0' && *p <= u'9') {
            pSpec->nWidth = (pSpec->nWidth < 0 ? 0 : pSpec->nWidth) * 10 + (*p - u'0');
            if (pSpec->nWidth > 4096)
                pSpec->nWidth = 4096;
            ++p;
        }
    }
    if (*p == u'.') {
        ++p;
        pSpec->nPrecision = 0;
        if (*p == u'*') {
            int nPrecision = va_arg(*pArgs, int);
            pSpec->nPrecision = nPrecision < 0 ? -1 : nPrecision;
            ++p;
        } else {
            while (*p >= u'0' && *p <= u'9') {
                pSpec->nPrecision = pSpec->nPrecision * 10 + (*p - u'0');
                if (pSpec->nPrecision > 4096)
                    pSpec->nPrecision = 4096;
                ++p;
            }
        }
    }
    while (*p == u'h' || *p == u'l' || *p == u'z' || *p == u'j' || *p == u't' || *p == u'L')
        pSpec->strLength.push_back((char)*p++);
    pSpec->cConversion = (*p && *p < 0x80) ? (char)*p : 0;
    return *p ? p + 1 : p;
}

} // namespace

std::u16string Rv_VFormatString(const char16_t* cpszFormat, va_list Args)
{
    std::u16string wstrOut;
    if (!cpszFormat)
        return wstrOut;
    va_list ArgsCopy;
    va_copy(ArgsCopy, Args);
    const char16_t* p = cpszFormat;
    while (*p) {
        if (*p != u'%') {
            wstrOut.push_back(*p++);
            continue;
        }
        ++p;
        if (*p == u'%') {
            wstrOut.push_back(u'%');
            ++p;
            continue;
        }
        Rv_ConversionSpec Spec;
        p = _ParseSpec(p, &Spec, &ArgsCopy);
        switch (Spec.cConversion) {
        case 'd':
        case 'i':
            _AppendSigned(&wstrOut, Spec, &ArgsCopy);
            break;
        case 'u':
        case 'x':
        case 'X':
        case 'o':
            _AppendUnsigned(&wstrOut, Spec, &ArgsCopy);
            break;
        case 'p':
            _AppendNumber(&wstrOut, Spec, "", va_arg(ArgsCopy, void*));
            break;
        case 'f':
        case 'F':
        case 'e':
        case 'E':
        case 'g':
        case 'G':
            if (Spec.strLength == "L")
                _AppendNumber(&wstrOut, Spec, "L", va_arg(ArgsCopy, long double));
            else
                _AppendNumber(&wstrOut, Spec, "", va_arg(ArgsCopy, double));
            break;
        case 's':
        case 'S':
            _AppendString(&wstrOut, Spec, &ArgsCopy);
            break;
        case 'c': {
            int nChar = va_arg(ArgsCopy, int);
            std::u16string wstrChar(1, Spec.strLength == "h" ? (char16_t)(unsigned char)nChar : (char16_t)nChar);
            _AppendPadded(&wstrOut, wstrChar, Spec);
            break;
        }
        default:
            // An unknown conversion is copied as it stands; no argument is taken.
            wstrOut.push_back(u'%');
            if (Spec.cConversion)
                wstrOut.push_back((char16_t)Spec.cConversion);
            break;
        }
    }
    va_end(ArgsCopy);
    return wstrOut;
}

std::u16string Rv_FormatString(const char16_t* cpszFormat, ...)
{
    va_list Args;
    va_start(Args, cpszFormat);
    std::u16string wstrOut = Rv_VFormatString(cpszFormat, Args);
    va_end(Args);
    return wstrOut;
}

int Rv_VFormat(char16_t* pszBuffer, size_t uBufferLen, const char16_t* cpszFormat, va_list Args)
{
    if (!pszBuffer || uBufferLen == 0)
        return -1;
    if (!cpszFormat) {
        pszBuffer[0] = u'\0';
        return -1;
    }
    std::u16string wstrOut = Rv_VFormatString(cpszFormat, Args);
    if (wstrOut.size() >= uBufferLen) {
        memcpy(pszBuffer, wstrOut.data(), (uBufferLen - 1) * sizeof(char16_t));
        pszBuffer[uBufferLen - 1] = u'\0';
        return -1;
    }
    memcpy(pszBuffer, wstrOut.c_str(), (wstrOut.size() + 1) * sizeof(char16_t));
    return (int)wstrOut.size();
}

int Rv_Format(char16_t* pszBuffer, size_t uBufferLen, const char16_t* cpszFormat, ...)
{
    va_list Args;
    va_start(Args, cpszFormat);
    int nRetCode = Rv_VFormat(pszBuffer, uBufferLen, cpszFormat, Args);
    va_end(Args);
    return nRetCode;
}
