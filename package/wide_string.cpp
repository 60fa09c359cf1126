// Wide string helpers: bounded copy, fixed fields, name checks.
#include "package/wide_string.h"

#include "package/log_stream.h"
#include "platform/text.h"

#include <cstring>

int Rv_StrCopy(char16_t* pcszDest, unsigned uDestLen, const char16_t* pcszSource)
{
    int nResult = 0;
    unsigned i = 0;

    RVPK_ASSERT_EXIT(pcszDest);
    RVPK_ASSERT_EXIT(uDestLen);
    RVPK_ASSERT_EXIT(pcszSource);

    for (; i < uDestLen && pcszSource[i]; ++i)
        pcszDest[i] = pcszSource[i];
    for (; i < uDestLen; ++i)
        pcszDest[i] = u'\0';
    if (pcszDest[uDestLen - 1] != u'\0') {
        Rv_LogPrintf(u"The last char of the string is not NULL, It is '%c'", pcszDest[uDestLen - 1]);
        pcszDest[uDestLen - 1] = u'\0';
        Rv_LogPrintf(u"The the string is '%s'.", pcszDest);
        goto Exit0;
    }
    nResult = 1;
Exit0:
    return nResult;
}

size_t Rv_StrLen(const char16_t* cpszText)
{
    size_t uLen = 0;
    if (cpszText)
        while (cpszText[uLen])
            ++uLen;
    return uLen;
}

int Rv_ReadFixedString(const void* pvField, unsigned uFieldUnits, std::u16string* pwstrRet)
{
    int nResult = 0;
    const unsigned char* pbyField = (const unsigned char*)pvField;
    std::u16string wstrText;
    unsigned i = 0;

    RVPK_ASSERT_EXIT(pvField);
    RVPK_ASSERT_EXIT(pwstrRet);
    for (; i < uFieldUnits; ++i) {
        char16_t c = (char16_t)(pbyField[2 * i] | (pbyField[2 * i + 1] << 8));
        if (c == u'\0')
            break;
        wstrText.push_back(c);
    }
    RVPK_PROCESS_ERROR(i < uFieldUnits && "text field without terminator");
    *pwstrRet = wstrText;
    nResult = 1;
Exit0:
    return nResult;
}

int Rv_WriteFixedString(void* pvField, unsigned uFieldUnits, const std::u16string& wstrText)
{
    int nResult = 0;
    unsigned char* pbyField = (unsigned char*)pvField;

    RVPK_ASSERT_EXIT(pvField);
    RVPK_PROCESS_ERROR(wstrText.size() < uFieldUnits);
    memset(pbyField, 0, (size_t)uFieldUnits * 2);
    for (size_t i = 0; i < wstrText.size(); ++i) {
        pbyField[2 * i] = (unsigned char)(wstrText[i] & 0xFF);
        pbyField[2 * i + 1] = (unsigned char)(wstrText[i] >> 8);
    }
    nResult = 1;
Exit0:
    return nResult;
}

static char16_t _ToLowerAscii(char16_t c)
{
    return (c >= u'A' && c <= u'Z') ? (char16_t)(c - u'A' + u'a') : c;
}

int Rv_StrCaseEqual(const std::u16string& wstrA, const std::u16string& wstrB)
{
    if (wstrA.size() != wstrB.size())
        return 0;
    for (size_t i = 0; i < wstrA.size(); ++i)
        if (_ToLowerAscii(wstrA[i]) != _ToLowerAscii(wstrB[i]))
            return 0;
    return 1;
}

std::u16string Rv_GetExtension(const std::u16string& wstrName)
{
    size_t uPos = wstrName.rfind(u'.');
    return uPos == std::u16string::npos ? std::u16string() : wstrName.substr(uPos + 1);
}

int Rv_IsSafeFileName(const std::u16string& wstrName)
{
    if (wstrName.empty() || wstrName == u"." || wstrName == u"..")
        return 0;
    for (char16_t c : wstrName)
        if (c == u'\\' || c == u'/' || c == u':' || c < 0x20)
            return 0;
    return 1;
}

int Rv_IsSafeRelativePath(const std::u16string& wstrPath)
{
    if (wstrPath.empty())
        return 0;
    size_t uStart = 0;
    while (uStart <= wstrPath.size()) {
        size_t uEnd = wstrPath.find_first_of(u"\\/", uStart);
        if (uEnd == std::u16string::npos)
            uEnd = wstrPath.size();
        if (!Rv_IsSafeFileName(wstrPath.substr(uStart, uEnd - uStart)))
            return 0;
        uStart = uEnd + 1;
    }
    return 1;
}

std::string Rv_ToNarrow(const char16_t* cpszText)
{
    return cpszText ? Pf_Utf16ToUtf8(cpszText) : std::string();
}

std::string Rv_ToNarrow(const std::u16string& wstrText)
{
    return Pf_Utf16ToUtf8(wstrText);
}
