// Private-profile ini files: reading keys, listing sections, locked atomic writes.
#include "platform/ini.h"

#include "platform/file.h"
#include "platform/file_lock.h"
#include "platform/number.h"
#include "platform/path.h"
#include "platform/text.h"

#include <cerrno>

namespace {

// Ini files are small; anything larger is not one of ours.
const uint64_t s_ullMaxIniSize = 16u << 20;

enum LineKind { LINE_OTHER, LINE_SECTION, LINE_KEY };

// One line of the file as written (its end kept apart) and what it means.
struct IniLine {
    std::string strRaw;
    std::string strEnd;      // "\r\n", "\n" or "" for a last line without one
    LineKind eKind = LINE_OTHER;
    std::string strName;     // section or key name, trimmed
    std::string strValue;    // key value, trimmed, quotes removed
};

// Ini lines keep their line ends apart: only blanks and tabs are trimmed.
std::string _Trim(const std::string& str) { return Pf_Trim(str, " \t"); }

std::string _Unquote(const std::string& str)
{
    if (str.size() >= 2 && (str[0] == '"' || str[0] == '\'') && str.back() == str[0])
        return str.substr(1, str.size() - 2);
    return str;
}

void _Classify(IniLine* pLine, bool bFirst)
{
    std::string strText = pLine->strRaw;
    if (bFirst && strText.compare(0, 3, "\xEF\xBB\xBF") == 0)
        strText.erase(0, 3);
    strText = _Trim(strText);
    if (strText.empty() || strText[0] == ';')
        return;
    if (strText[0] == '[') {
        size_t uClose = strText.find(']');
        pLine->eKind = LINE_SECTION;
        pLine->strName = _Trim(strText.substr(1, uClose == std::string::npos ? std::string::npos : uClose - 1));
        return;
    }
    size_t uEqual = strText.find('=');
    if (uEqual == std::string::npos)
        return;
    pLine->strName = _Trim(strText.substr(0, uEqual));
    if (pLine->strName.empty())
        return;
    pLine->eKind = LINE_KEY;
    pLine->strValue = _Unquote(_Trim(strText.substr(uEqual + 1)));
}

std::vector<IniLine> _Parse(const std::string& strData)
{
    std::vector<IniLine> vecLines;
    size_t uPos = 0;
    while (uPos < strData.size()) {
        IniLine line;
        size_t uNewline = strData.find('\n', uPos);
        size_t uEnd = uNewline == std::string::npos ? strData.size() : uNewline;
        size_t uContentEnd = (uEnd > uPos && strData[uEnd - 1] == '\r') ? uEnd - 1 : uEnd;
        line.strRaw = strData.substr(uPos, uContentEnd - uPos);
        line.strEnd = strData.substr(uContentEnd, (uNewline == std::string::npos ? uEnd : uEnd + 1) - uContentEnd);
        _Classify(&line, vecLines.empty());
        vecLines.push_back(std::move(line));
        uPos = uNewline == std::string::npos ? strData.size() : uNewline + 1;
    }
    return vecLines;
}

// Reads the file; a missing file reads as empty when bMissingIsEmpty.
int _Load(const std::string& strNative, bool bMissingIsEmpty, std::vector<IniLine>* pvecRetLines)
{
    uint64_t ullSize = 0;
    std::string strData;
    if (!Pf_GetFileSize(strNative, &ullSize)) {
        if (errno == ENOENT && bMissingIsEmpty) {
            pvecRetLines->clear();
            return 1;
        }
        return 0;
    }
    if (ullSize > s_ullMaxIniSize) {
        errno = EFBIG;
        return 0;
    }
    if (!Pf_ReadWholeFile(strNative, &strData))
        return 0;
    if (strData.size() > s_ullMaxIniSize) {
        errno = EFBIG;
        return 0;
    }
    *pvecRetLines = _Parse(strData);
    return 1;
}

// Index of the first header of the section, or -1.
int _FindSection(const std::vector<IniLine>& vecLines, const std::string& strSection)
{
    for (size_t i = 0; i < vecLines.size(); ++i)
        if (vecLines[i].eKind == LINE_SECTION && Pf_StrCaseEqual(vecLines[i].strName, strSection))
            return (int)i;
    return -1;
}

// One past the last line of the section that starts at nHeader.
size_t _SectionEnd(const std::vector<IniLine>& vecLines, int nHeader)
{
    size_t i = (size_t)nHeader + 1;
    while (i < vecLines.size() && vecLines[i].eKind != LINE_SECTION)
        ++i;
    return i;
}

// Index of the key line inside the first section of that name, or -1.
int _FindKey(const std::vector<IniLine>& vecLines, const std::string& strSection, const std::string& strKey)
{
    int nHeader = _FindSection(vecLines, strSection);
    if (nHeader < 0)
        return -1;
    size_t uEnd = _SectionEnd(vecLines, nHeader);
    for (size_t i = (size_t)nHeader + 1; i < uEnd; ++i)
        if (vecLines[i].eKind == LINE_KEY && Pf_StrCaseEqual(vecLines[i].strName, strKey))
            return (int)i;
    return -1;
}

bool _HasLineBreak(const std::string& str)
{
    return str.find_first_of("\r\n") != std::string::npos;
}

bool _IsBlankEdged(const std::string& str)
{
    return str.empty() || str != _Trim(str);
}

// The file's own line end (its first), CRLF for a new file.
std::string _LineEnd(const std::vector<IniLine>& vecLines)
{
    for (const IniLine& line : vecLines)
        if (!line.strEnd.empty())
            return line.strEnd;
    return "\r\n";
}

IniLine _NewLine(const std::string& strRaw, const std::string& strEnd)
{
    IniLine line;
    line.strRaw = strRaw;
    line.strEnd = strEnd;
    return line;
}

}  // namespace

int Pf_IniGetString(const std::string& strFile, const std::string& strSection, const std::string& strKey,
                    std::string* pstrRetValue)
{
    std::string strNative;
    std::vector<IniLine> vecLines;
    if (!pstrRetValue || !Pf_NativePath(strFile, &strNative)) {
        errno = EINVAL;
        return 0;
    }
    if (!_Load(strNative, false, &vecLines))
        return 0;
    int nLine = _FindKey(vecLines, strSection, strKey);
    if (nLine < 0) {
        errno = ENOENT;
        return 0;
    }
    *pstrRetValue = vecLines[(size_t)nLine].strValue;
    return 1;
}

std::string Pf_IniReadString(const std::string& strFile, const std::string& strSection, const std::string& strKey,
                             const std::string& strDefault)
{
    std::string strValue;
    if (!Pf_IniGetString(strFile, strSection, strKey, &strValue))
        return strDefault;
    return strValue;
}

int Pf_IniReadInt(const std::string& strFile, const std::string& strSection, const std::string& strKey, int nDefault)
{
    std::string strValue;
    if (!Pf_IniGetString(strFile, strSection, strKey, &strValue))
        return nDefault;
    return Pf_AtoI(strValue);
}

int Pf_IniGetSectionValues(const std::string& strFile, const std::string& strSection,
                           std::vector<std::pair<std::string, std::string>>* pvecRetValues)
{
    std::string strNative;
    std::vector<IniLine> vecLines;
    std::vector<std::pair<std::string, std::string>> vecValues;
    if (!pvecRetValues || !Pf_NativePath(strFile, &strNative)) {
        errno = EINVAL;
        return 0;
    }
    if (!_Load(strNative, false, &vecLines))
        return 0;
    int nHeader = _FindSection(vecLines, strSection);
    if (nHeader < 0) {
        errno = ENOENT;
        return 0;
    }
    size_t uEnd = _SectionEnd(vecLines, nHeader);
    for (size_t i = (size_t)nHeader + 1; i < uEnd; ++i)
        if (vecLines[i].eKind == LINE_KEY)
            vecValues.emplace_back(vecLines[i].strName, vecLines[i].strValue);
    pvecRetValues->swap(vecValues);
    return 1;
}

int Pf_IniGetSectionKeys(const std::string& strFile, const std::string& strSection,
                         std::vector<std::string>* pvecRetKeys)
{
    std::vector<std::pair<std::string, std::string>> vecValues;
    std::vector<std::string> vecKeys;
    if (!pvecRetKeys) {
        errno = EINVAL;
        return 0;
    }
    if (!Pf_IniGetSectionValues(strFile, strSection, &vecValues))
        return 0;
    for (const auto& value : vecValues) {
        bool bSeen = false;
        for (const std::string& strSeen : vecKeys)
            bSeen = bSeen || Pf_StrCaseEqual(strSeen, value.first);
        if (!bSeen)
            vecKeys.push_back(value.first);
    }
    pvecRetKeys->swap(vecKeys);
    return 1;
}

int Pf_IniWriteString(const std::string& strFile, const std::string& strSection, const std::string& strKey,
                      const std::string& strValue)
{
    std::string strNative;
    std::vector<IniLine> vecLines;
    Pf_FileLock lock;
    if (_IsBlankEdged(strSection) || _HasLineBreak(strSection) || strSection.find(']') != std::string::npos ||
        _IsBlankEdged(strKey) || _HasLineBreak(strKey) || strKey.find('=') != std::string::npos ||
        strKey[0] == '[' || strKey[0] == ';' || _HasLineBreak(strValue) || !Pf_NativePath(strFile, &strNative)) {
        errno = EINVAL;
        return 0;
    }
    if (!lock.LockFor(strNative))
        return 0;
    if (!_Load(strNative, true, &vecLines))
        return 0;

    std::string strEnd = _LineEnd(vecLines);
    std::string strLine = strKey + "=" + strValue;
    int nKey = _FindKey(vecLines, strSection, strKey);
    int nHeader = _FindSection(vecLines, strSection);
    if (nKey >= 0) {
        // Keep the key's spelling in the file; replace the whole line.
        IniLine& line = vecLines[(size_t)nKey];
        line.strRaw = line.strName + "=" + strValue;
    } else if (nHeader >= 0) {
        // After the section's last non-blank line, before blank lines that part it from the next.
        size_t uPos = _SectionEnd(vecLines, nHeader);
        while (uPos > (size_t)nHeader + 1 && _Trim(vecLines[uPos - 1].strRaw).empty())
            --uPos;
        if (vecLines[uPos - 1].strEnd.empty())
            vecLines[uPos - 1].strEnd = strEnd;
        vecLines.insert(vecLines.begin() + (long)uPos, _NewLine(strLine, strEnd));
    } else {
        if (!vecLines.empty() && vecLines.back().strEnd.empty())
            vecLines.back().strEnd = strEnd;
        vecLines.push_back(_NewLine("[" + strSection + "]", strEnd));
        vecLines.push_back(_NewLine(strLine, strEnd));
    }

    std::string strData;
    for (const IniLine& line : vecLines)
        strData += line.strRaw + line.strEnd;
    return Pf_WriteFileAtomic(strNative, strData);
}
