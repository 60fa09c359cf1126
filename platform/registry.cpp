// The file-backed registry store.
//
// Folder names are the key names in lower case with every byte outside
// [a-z0-9 _-] written as %XX (so "." and ".." are "%2e" and "%2e%2e"); the
// values file "@values" and the lock file "@lock" can therefore never be
// the folder of a key. Each line of "@values" is "<name>=<value>" with "%",
// "=", line breaks and control bytes written as %XX.
#include "platform/registry.h"

#include "platform/file.h"
#include "platform/file_lock.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <pwd.h>
#include <strings.h>
#include <unistd.h>
#include <vector>

namespace {

const char s_szValuesFile[] = "@values";
const char s_szLockFile[] = "@lock";
const size_t s_uMaxNameLen = 255;
const uint64_t s_ullMaxValuesSize = 4u << 20;

struct RegValue {
    std::string strName;
    std::string strValue;
};

long _ErrorOf(int nErrno, long lDefault)
{
    switch (nErrno) {
    case ENOENT:
    case ENOTDIR:
        return ERROR_FILE_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
        return ERROR_ACCESS_DENIED;
    default:
        return lDefault;
    }
}

std::string _HexByte(unsigned char c)
{
    static const char s_szHex[] = "0123456789abcdef";
    return std::string("%") + s_szHex[c >> 4] + s_szHex[c & 15];
}

std::string _KeyFolderName(const std::string& strName)
{
    std::string strResult;
    for (char c : strName) {
        unsigned char by = (unsigned char)c;
        if (by >= 'A' && by <= 'Z')
            by = (unsigned char)(by - 'A' + 'a');
        if ((by >= 'a' && by <= 'z') || (by >= '0' && by <= '9') || by == ' ' || by == '_' || by == '-')
            strResult += (char)by;
        else
            strResult += _HexByte(by);
    }
    return strResult;
}

std::string _EscapeText(const std::string& strText)
{
    std::string strResult;
    for (char c : strText) {
        unsigned char by = (unsigned char)c;
        if (by < 0x20 || by == 0x7f || by == '%' || by == '=')
            strResult += _HexByte(by);
        else
            strResult += c;
    }
    return strResult;
}

int _HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

int _UnescapeText(const std::string& strText, std::string* pstrRet)
{
    std::string strResult;
    for (size_t i = 0; i < strText.size(); ++i) {
        if (strText[i] != '%') {
            strResult += strText[i];
            continue;
        }
        if (i + 2 >= strText.size())
            return 0;
        int nHigh = _HexValue(strText[i + 1]);
        int nLow = _HexValue(strText[i + 2]);
        if (nHigh < 0 || nLow < 0 || (nHigh == 0 && nLow == 0))
            return 0;
        strResult += (char)(nHigh * 16 + nLow);
        i += 2;
    }
    pstrRet->swap(strResult);
    return 1;
}

// Reads the values of a key folder; a missing values file is an empty key.
long _LoadValues(const std::string& strFolder, std::vector<RegValue>* pvecRetValues)
{
    std::string strPath = strFolder + "/" + s_szValuesFile;
    std::string strData;
    uint64_t ullSize = 0;
    std::vector<RegValue> vecValues;
    if (!Pf_GetFileSize(strPath, &ullSize)) {
        if (errno != ENOENT)
            return _ErrorOf(errno, ERROR_READ_FAULT);
        pvecRetValues->clear();
        return ERROR_SUCCESS;
    }
    if (ullSize > s_ullMaxValuesSize)
        return ERROR_INVALID_DATA;
    if (!Pf_ReadWholeFile(strPath, &strData))
        return _ErrorOf(errno, ERROR_READ_FAULT);
    if (strData.size() > s_ullMaxValuesSize)
        return ERROR_INVALID_DATA;
    size_t uPos = 0;
    while (uPos < strData.size()) {
        size_t uEnd = strData.find('\n', uPos);
        if (uEnd == std::string::npos)
            return ERROR_INVALID_DATA;     // every line of ours ends in "\n"
        std::string strLine = strData.substr(uPos, uEnd - uPos);
        uPos = uEnd + 1;
        size_t uEqual = strLine.find('=');
        RegValue value;
        if (uEqual == std::string::npos || !_UnescapeText(strLine.substr(0, uEqual), &value.strName) ||
            !_UnescapeText(strLine.substr(uEqual + 1), &value.strValue))
            return ERROR_INVALID_DATA;
        vecValues.push_back(std::move(value));
    }
    pvecRetValues->swap(vecValues);
    return ERROR_SUCCESS;
}

// Index of the value of that name (without case), or -1.
int _Find(const std::vector<RegValue>& vecValues, const std::string& strName)
{
    for (size_t i = 0; i < vecValues.size(); ++i)
        if (vecValues[i].strName.size() == strName.size() && strcasecmp(vecValues[i].strName.c_str(), strName.c_str()) == 0)
            return (int)i;
    return -1;
}

const char* _RootFolderName(Pf_RegRoot eRoot)
{
    switch (eRoot) {
    case PF_HKEY_LOCAL_MACHINE: return "hkey_local_machine";
    case PF_HKEY_CLASSES_ROOT: return "hkey_classes_root";
    default: return "hkey_current_user";
    }
}

int _IsValidName(const std::string& strName)
{
    return strName.size() <= s_uMaxNameLen && strName.find('\0') == std::string::npos;
}

// $HOME, else the user's home in the password database, else (no home at
// all) the current folder.
std::string _HomeFolder()
{
    const char* cszHome = getenv("HOME");
    if (cszHome && cszHome[0] == '/')
        return cszHome;
    struct passwd pw;
    struct passwd* pResult = nullptr;
    std::vector<char> vecBuffer(16384);
    if (getpwuid_r(getuid(), &pw, vecBuffer.data(), vecBuffer.size(), &pResult) == 0 && pResult && pw.pw_dir &&
        pw.pw_dir[0] == '/')
        return pw.pw_dir;
    return ".";
}

} // namespace

std::string Pf_RegistryRoot()
{
    const char* cszDir = getenv("RV_REGISTRY_DIR");
    if (cszDir && cszDir[0])
        return cszDir;
    const char* cszData = getenv("XDG_DATA_HOME");
    std::string strData;
    if (cszData && cszData[0] == '/') {
        strData = cszData;
    } else {
        strData = _HomeFolder() + "/.local/share";
    }
    return strData + "/refitter/registry";
}

long Pf_RegKey::_Locate(Pf_RegRoot eRoot, const std::string& strSubKey, int bCreate)
{
    Close();
    if (strSubKey.empty() || strSubKey.find('\0') != std::string::npos)
        return ERROR_INVALID_PARAMETER;
    std::string strFolder = Pf_RegistryRoot() + "/" + _RootFolderName(eRoot);
    size_t uPos = 0;
    while (uPos <= strSubKey.size()) {
        size_t uEnd = strSubKey.find('\\', uPos);
        if (uEnd == std::string::npos)
            uEnd = strSubKey.size();
        std::string strPart = strSubKey.substr(uPos, uEnd - uPos);
        if (strPart.empty() || strPart.size() > s_uMaxNameLen)
            return ERROR_INVALID_PARAMETER;
        strFolder += "/" + _KeyFolderName(strPart);
        uPos = uEnd + 1;
    }
    if (bCreate && !Pf_CreateDirChain(strFolder))
        return _ErrorOf(errno, ERROR_WRITE_FAULT);
    if (!Pf_DirExists(strFolder))
        return ERROR_FILE_NOT_FOUND;
    m_strFolder = strFolder;
    return ERROR_SUCCESS;
}

long Pf_RegKey::Open(Pf_RegRoot eRoot, const std::string& strSubKey)
{
    return _Locate(eRoot, strSubKey, 0);
}

long Pf_RegKey::Create(Pf_RegRoot eRoot, const std::string& strSubKey)
{
    return _Locate(eRoot, strSubKey, 1);
}

void Pf_RegKey::Close()
{
    m_strFolder.clear();
}

long Pf_RegKey::QueryString(const std::string& strName, char* pszRetBuffer, size_t uBufferSize, size_t* puRetLength)
{
    std::vector<RegValue> vecValues;
    if (!IsOpen() || !pszRetBuffer || uBufferSize == 0 || !_IsValidName(strName))
        return ERROR_INVALID_PARAMETER;
    pszRetBuffer[0] = '\0';
    long lResult = _LoadValues(m_strFolder, &vecValues);
    if (lResult != ERROR_SUCCESS)
        return lResult;
    int nIndex = _Find(vecValues, strName);
    if (nIndex < 0)
        return ERROR_FILE_NOT_FOUND;
    const RegValue* pValue = &vecValues[(size_t)nIndex];
    if (puRetLength)
        *puRetLength = pValue->strValue.size() + 1;
    if (pValue->strValue.size() + 1 > uBufferSize)
        return ERROR_MORE_DATA;
    memcpy(pszRetBuffer, pValue->strValue.c_str(), pValue->strValue.size() + 1);
    return ERROR_SUCCESS;
}

long Pf_RegKey::SetString(const std::string& strName, const std::string& strValue)
{
    std::vector<RegValue> vecValues;
    Pf_FileLock lock;
    if (!IsOpen() || !_IsValidName(strName) || strValue.find('\0') != std::string::npos)
        return ERROR_INVALID_PARAMETER;
    if (!lock.Lock(m_strFolder + "/" + s_szLockFile))
        return _ErrorOf(errno, ERROR_WRITE_FAULT);
    long lResult = _LoadValues(m_strFolder, &vecValues);
    if (lResult != ERROR_SUCCESS)
        return lResult;
    int nIndex = _Find(vecValues, strName);
    if (nIndex >= 0)
        vecValues[(size_t)nIndex].strValue = strValue;
    else
        vecValues.push_back(RegValue{strName, strValue});
    std::string strData;
    for (const RegValue& value : vecValues)
        strData += _EscapeText(value.strName) + "=" + _EscapeText(value.strValue) + "\n";
    if (!Pf_WriteFileAtomic(m_strFolder + "/" + s_szValuesFile, strData))
        return _ErrorOf(errno, ERROR_WRITE_FAULT);
    return ERROR_SUCCESS;
}

long Pf_RegDeleteKey(Pf_RegRoot eRoot, const std::string& strSubKey)
{
    Pf_RegKey key;
    std::vector<Pf_DirEntry> vecEntries;
    long lResult = key.Open(eRoot, strSubKey);
    if (lResult != ERROR_SUCCESS)
        return lResult;
    std::string strFolder = key.m_strFolder;
    if (!Pf_ListDir(strFolder, &vecEntries))
        return _ErrorOf(errno, ERROR_READ_FAULT);
    for (const Pf_DirEntry& entry : vecEntries) {
        if (entry.bIsDir && entry.strName != "." && entry.strName != "..")
            return ERROR_ACCESS_DENIED;
    }
    {
        Pf_FileLock lock;
        if (!lock.Lock(strFolder + "/" + s_szLockFile))
            return _ErrorOf(errno, ERROR_WRITE_FAULT);
        if (!Pf_DeleteFile(strFolder + "/" + s_szValuesFile) && errno != ENOENT)
            return _ErrorOf(errno, ERROR_WRITE_FAULT);
    }
    if ((!Pf_DeleteFile(strFolder + "/" + s_szLockFile) && errno != ENOENT) || !Pf_RemoveDir(strFolder))
        return _ErrorOf(errno, ERROR_WRITE_FAULT);
    return ERROR_SUCCESS;
}
