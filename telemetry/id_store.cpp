// The identifier's stores: the registry key of the security product's
// category and "Tervana\VSQ\hg.dat"; values read from one are copied to the
// other, and every write goes to both.
#include "telemetry/id_store.h"

#include "foundation/log.h"
#include "platform/ini.h"
#include "platform/machine_facts.h"
#include "platform/number.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "telemetry/id_generator.h"

const char RV_ID_REGISTRY_KEY[] =
    "CLSID\\{6B2D4F1A-7C3E-4A59-9E81-2F0D3C7B5A64}\\Implemented Categories\\{0D9E7B12-4C6A-4F38-B1E5-93A7C2F46D08}";

static const char s_szIdFileSection[] = "id";
static const char s_szIdFileName[] = "\\Tervana\\VSQ\\hg.dat";

enum { RV_ID_VALUE_CHARS = 260 };           // a value's room, its terminator included

NyRegKey::~NyRegKey()
{
    Close();
}

long NyRegKey::Create()
{
    long lResult = 0;
    Close();
    // Created or opened for full access; the store knows no read-only opening
    // of its own, so a key that cannot be created is opened as it is.
    lResult = m_Key.Create(PF_HKEY_CLASSES_ROOT, RV_ID_REGISTRY_KEY);
    if (lResult != ERROR_SUCCESS)
        lResult = m_Key.Open(PF_HKEY_CLASSES_ROOT, RV_ID_REGISTRY_KEY);
    if (lResult != ERROR_SUCCESS)
        return lResult;
    m_wstrKeyPath = Pf_Utf8ToUtf16(RV_ID_REGISTRY_KEY);
    return ERROR_SUCCESS;
}

long NyRegKey::QueryValue(const char* cszName, std::u16string* pwstrRetValue)
{
    long lResult = 0;
    char szValue[RV_ID_VALUE_CHARS * 3];    // 259 UTF-16 characters take at most 777 bytes
    std::u16string wstrValue;
    if (!m_Key.IsOpen() || !cszName || !pwstrRetValue)
        return ERROR_INVALID_PARAMETER;
    lResult = m_Key.QueryString(cszName, szValue, sizeof(szValue));
    if (lResult != ERROR_SUCCESS)
        return lResult;
    wstrValue = Pf_Utf8ToUtf16(szValue);
    if (wstrValue.size() >= RV_ID_VALUE_CHARS)
        return ERROR_MORE_DATA;
    pwstrRetValue->swap(wstrValue);
    return ERROR_SUCCESS;
}

long NyRegKey::SetValue(const char* cszName, const std::u16string& wstrValue)
{
    if (!m_Key.IsOpen() || !cszName)
        return ERROR_INVALID_PARAMETER;
    return m_Key.SetString(cszName, Pf_Utf16ToUtf8(wstrValue));
}

void NyRegKey::Close()
{
    m_Key.Close();
    m_wstrKeyPath.clear();
}

std::string GetIdFilePath()
{
    std::string strDir;
    if (!Pf_GetCommonAppDataDir(&strDir))
        return std::string();
    return strDir + s_szIdFileName;
}

void WriteIdValue(const char* cszName, const std::u16string& wstrValue)
{
    NyRegKey key;
    std::string strFile;
    if (key.Create() == ERROR_SUCCESS)
        key.SetValue(cszName, wstrValue);
    strFile = GetIdFilePath();
    if (!strFile.empty())
        Pf_IniWriteString(strFile, s_szIdFileSection, cszName, Pf_Utf16ToUtf8(wstrValue));
}

int ReadIdValue(const char* cszName, std::u16string* pwstrValue)
{
    int nResult = 0;
    NyRegKey key;
    std::u16string wstrRegistry;
    std::u16string wstrFile;
    std::string strFile;
    std::string strValue;

    RVLOG_PROCESS_ERROR(cszName);
    RVLOG_PROCESS_ERROR(pwstrValue);

    if (key.Create() != ERROR_SUCCESS || key.QueryValue(cszName, &wstrRegistry) != ERROR_SUCCESS)
        wstrRegistry.clear();
    key.Close();

    strFile = GetIdFilePath();
    if (!strFile.empty() && Pf_IniGetString(strFile, s_szIdFileSection, cszName, &strValue)) {
        wstrFile = Pf_Utf8ToUtf16(strValue);
        if (wstrFile.size() >= RV_ID_VALUE_CHARS)
            wstrFile.resize(RV_ID_VALUE_CHARS - 1);
    }

    if (!wstrRegistry.empty()) {
        if (wstrFile.empty())
            WriteIdValue(cszName, wstrRegistry);
        *pwstrValue = wstrRegistry;
    } else if (!wstrFile.empty()) {
        WriteIdValue(cszName, wstrFile);
        *pwstrValue = wstrFile;
    } else {
        CreateIdValue(cszName, pwstrValue);
    }
    nResult = 1;
Exit0:
    return nResult;
}

int CreateIdValue(const char* cszName, std::u16string* pwstrValue)
{
    int nResult = 0;
    std::string strId;

    RVLOG_PROCESS_ERROR(cszName);
    RVLOG_PROCESS_ERROR(pwstrValue);

    if (std::string(cszName) == "idex") {
        Rv_GenerateMachineId(&strId);
        *pwstrValue = Pf_Utf8ToUtf16(strId);
    }
    WriteIdValue(cszName, *pwstrValue);
    nResult = 1;
Exit0:
    return nResult;
}

int CheckIdReset()
{
    std::u16string wstrValue = u"0";
    ReadIdValue("idno", &wstrValue);
    if (Pf_AtoI(Pf_Utf16ToUtf8(wstrValue)) < 0) {
        WriteIdValue("idno", u"0");
        return 1;
    }
    return 0;
}

long DeleteIdRegistryKey()
{
    return Pf_RegDeleteKey(PF_HKEY_CLASSES_ROOT, RV_ID_REGISTRY_KEY);
}
