// The machine identifier: taken from its stores, replaced when a reset was
// asked for, when it is not 32 letters and digits, or when it is listed, and kept for the
// process once loaded.
#include "telemetry/machine_id.h"

#include "foundation/log.h"
#include "platform/ini.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "telemetry/id_store.h"

#include <cstring>
#include <mutex>

enum { RV_UUID_BUFFER_CHARS = 128 };

std::u16string g_wstrMachineUUID;
// The set-up and the full-client report thread both load the identifier.
static std::mutex s_MachineUUIDMutex;

static int _IsListed(const char* cszDenyListFile, const std::u16string& wstrUUID)
{
    if (!cszDenyListFile || !cszDenyListFile[0])
        return 0;
    return Pf_IniReadInt(cszDenyListFile, "ulst", Pf_Utf16ToUtf8(wstrUUID), -1) != -1;
}

static int _IsWellFormed(const std::u16string& wstrUUID)
{
    if (wstrUUID.size() != UUID5_STRING_LEN)
        return 0;
    for (char16_t ch : wstrUUID) {
        if (!((ch >= u'0' && ch <= u'9') || (ch >= u'a' && ch <= u'z') || (ch >= u'A' && ch <= u'Z')))
            return 0;
    }
    return 1;
}

void GetUUIDEx(const char* cszDenyListFile, std::u16string* pwstrRetUUID)
{
    std::u16string wstrUUID;
    if (!pwstrRetUUID)
        return;
    if (CheckIdReset())
        CreateIdValue("idex", &wstrUUID);
    else
        ReadIdValue("idex", &wstrUUID);
    // A stored identifier that is not 32 letters and digits (a cut, padded
    // or foreign copy) is replaced in both stores: kept, it would be refused
    // on every run.
    if (!_IsWellFormed(wstrUUID))
        CreateIdValue("idex", &wstrUUID);
    if (_IsListed(cszDenyListFile, wstrUUID))
        CreateIdValue("idex", &wstrUUID);
    pwstrRetUUID->swap(wstrUUID);
}

int GetFelnUUIDEx(char* pszRetBuffer, unsigned uBufferSizeInChar)
{
    int nResult = 0;
    int nRetCode = 0;
    std::u16string wstrUUID;
    std::string strUUID;

    RVLOG_PROCESS_ERROR(pszRetBuffer);
    RVLOG_PROCESS_ERROR(uBufferSizeInChar > 0 && uBufferSizeInChar <= (unsigned)INT32_MAX);
    pszRetBuffer[0] = '\0';

    GetUUIDEx("", &wstrUUID);
    // Bytes needed with the terminator; 0 when the text cannot be converted.
    nRetCode = Pf_Utf16ToUtf8Strict(wstrUUID, &strUUID) ? (int)strUUID.size() + 1 : 0;
    RVLOG_PROCESS_ERROR(nRetCode > 0);
    RVLOG_PROCESS_ERROR(nRetCode < (int)uBufferSizeInChar);
    memcpy(pszRetBuffer, strUUID.c_str(), (size_t)nRetCode);

    nResult = 1;
Exit0:
    return nResult;
}

int Rv_GetFelnUUIDEx(char* pszRetBuffer)
{
    int nResult = 0;
    int nRetCode = 0;
    long lRetCode = 0;
    char szUUID[RV_UUID_BUFFER_CHARS];
    int nLen = 0;

    RVLOG_PROCESS_ERROR(pszRetBuffer);
    pszRetBuffer[0] = '\0';

    nRetCode = GetFelnUUIDEx(szUUID, RV_UUID_BUFFER_CHARS);
    RVLOG_PROCESS_ERROR(nRetCode);
    nLen = (int)strlen(szUUID);
    if (nLen != UUID5_STRING_LEN) {
        lRetCode = DeleteIdRegistryKey();
        RVLOG_CHECK_ERROR(lRetCode == ERROR_SUCCESS);
        nRetCode = GetFelnUUIDEx(szUUID, RV_UUID_BUFFER_CHARS);
        RVLOG_PROCESS_ERROR(nRetCode);
        nLen = (int)strlen(szUUID);
    }
    RVLOG_PROCESS_ERROR(nLen == UUID5_STRING_LEN);
    memcpy(pszRetBuffer, szUUID, (size_t)nLen + 1);

    nResult = 1;
Exit0:
    return nResult;
}

void LoadMachineUUID()
{
    std::u16string wstrUUID;
    GetUUIDEx("", &wstrUUID);
    std::lock_guard<std::mutex> lock(s_MachineUUIDMutex);
    g_wstrMachineUUID = wstrUUID;
}

int GetMachineUUIDUtf8(int nBufferSize, char* pszRetBuffer)
{
    int nResult = 0;
    std::string strUUID;

    RVLOG_PROCESS_ERROR(pszRetBuffer);
    RVLOG_PROCESS_ERROR(nBufferSize >= 0);
    {
        std::lock_guard<std::mutex> lock(s_MachineUUIDMutex);
        strUUID = Pf_Utf16ToUtf8(g_wstrMachineUUID);
    }
    RVLOG_PROCESS_ERROR(!strUUID.empty());
    RVLOG_PROCESS_ERROR(strUUID.size() < (size_t)nBufferSize);
    memcpy(pszRetBuffer, strUUID.c_str(), strUUID.size() + 1);

    nResult = 1;
Exit0:
    return nResult;
}
