// The log stream table, the print call and the adapter into the program log.
#include "package/log_stream.h"

#include "package/wide_format.h"
#include "platform/text.h"

#include <cstdarg>
#include <cstring>
#include <mutex>
#include <string>

namespace {

// The table; the lock guards the slots and the calls of Write. The count is
// atomic so that the print call may look at it before taking the lock.
struct Rv_LogStreamTable {
    std::mutex Lock;
    IRv_LogStream* apiStreams[RV_MAX_LOG_STREAM_COUNT] = {};
    std::atomic<uint32_t> uStreamCount{0};
};

Rv_LogStreamTable& _Table()
{
    static Rv_LogStreamTable s_Table;
    return s_Table;
}

// Makes sure the table exists at start-up, before any thread prints.
const bool s_bTableReady = (_Table(), true);

enum { RV_LOG_LINE_LEN = 1024 };

} // namespace

HRESULT Rv_PlatformLogAdapter::QueryInterface(const Rv_GUID&, void**)
{
    return E_FAIL;
}

uint32_t Rv_PlatformLogAdapter::AddRef()
{
    return ++m_uRefCount;
}

uint32_t Rv_PlatformLogAdapter::Release()
{
    uint32_t uCount = --m_uRefCount;
    if (uCount == 0)
        delete this;
    return uCount;
}

HRESULT Rv_PlatformLogAdapter::Write(const char16_t* cpszLine)
{
    if (!cpszLine)
        return E_FAIL;
    std::string strLine = Pf_Utf16ToUtf8(cpszLine);
    return RvLog_Write(RVLOG_DEBUG, "%s", strLine.c_str()) ? S_OK : E_FAIL;
}

RV_LOG_STREAM_HANDLE Rv_AddLogStream(IRv_LogStream* piLogStream)
{
    (void)s_bTableReady;
    Rv_LogStreamTable& Table = _Table();
    if (!piLogStream)
        return nullptr;
    std::lock_guard<std::mutex> Guard(Table.Lock);
    if (Table.uStreamCount.load() >= RV_MAX_LOG_STREAM_COUNT)
        return nullptr;
    for (IRv_LogStream*& piSlot : Table.apiStreams) {
        if (piSlot == nullptr) {
            piSlot = piLogStream;
            ++Table.uStreamCount;
            piLogStream->AddRef();
            return piLogStream;
        }
    }
    return nullptr;
}

int Rv_RemoveLogStream(RV_LOG_STREAM_HANDLE hLogStream)
{
    Rv_LogStreamTable& Table = _Table();
    if (!hLogStream)
        return 0;
    std::lock_guard<std::mutex> Guard(Table.Lock);
    if (Table.uStreamCount.load() == 0)
        return 0;
    for (IRv_LogStream*& piSlot : Table.apiStreams) {
        if (piSlot == hLogStream) {
            piSlot = nullptr;
            --Table.uStreamCount;
            hLogStream->Release();
            return 1;
        }
    }
    return 0;
}

void Rv_LogPrintf(const char16_t* cpszFormat, ...)
{
    Rv_LogStreamTable& Table = _Table();
    if (!cpszFormat || Table.uStreamCount.load() == 0)
        return;
    char16_t szLine[RV_LOG_LINE_LEN];
    va_list Args;
    va_start(Args, cpszFormat);
    Rv_VFormat(szLine, RV_LOG_LINE_LEN, cpszFormat, Args);   // a long line is cut, still terminated
    va_end(Args);

    std::lock_guard<std::mutex> Guard(Table.Lock);
    for (IRv_LogStream* piStream : Table.apiStreams) {
        if (piStream)
            piStream->Write(szLine);
    }
}

void Rv_LogCheckFailed(const char16_t* cpszFormat, const char* cszCondition, int nLine, const char* cszPretty)
{
    if (_Table().uStreamCount.load() == 0)
        return;
    char szFunction[256];
    std::u16string wstrCondition = Pf_Utf8ToUtf16(cszCondition);
    std::u16string wstrFunction = Pf_Utf8ToUtf16(RvLog_FunctionName(cszPretty, szFunction, sizeof(szFunction)));
    Rv_LogPrintf(cpszFormat, wstrCondition.c_str(), nLine, wstrFunction.c_str());
}

void Rv_LogComCheckFailed(const char16_t* cpszFormat, HRESULT hrCode, int nLine, const char* cszPretty)
{
    if (_Table().uStreamCount.load() == 0)
        return;
    char szFunction[256];
    std::u16string wstrFunction = Pf_Utf8ToUtf16(RvLog_FunctionName(cszPretty, szFunction, sizeof(szFunction)));
    Rv_LogPrintf(cpszFormat, (unsigned)hrCode, nLine, wstrFunction.c_str());
}
