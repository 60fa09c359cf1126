// The package log: the package library formats each log line as wide text and
// hands it to every registered log stream. Rv_PlatformLogAdapter is the stream
// that writes the lines into the program log (foundation/log.h) at the debug
// level. And the package library's own failure macros, which print
//     "RVLOG_PROCESS_ERROR(<condition>) at line <n> in <Class::Function>"
//     "RVLOG_ASSERT_EXIT(<condition>) at line <n> in <Class::Function>"
//     "RVLOG_COM_PROCESS_ERROR(0x<code>) at line <n> in <Class::Function>"
//     "RVLOG_COM_ASSERT_EXIT(0x<code>) at line <n> in <Class::Function>"
// through the package log and jump to the label Exit0 (same shape as the
// macros of foundation/log.h: declare variables before the first macro).
//
// Use RVPK_ASSERT_EXIT for a bad argument or state, RVPK_PROCESS_ERROR for a
// failed step, the COM forms for an HRESULT of a failed interface call.
#pragma once
#include "package/unknown.h"

#include <atomic>
#include <cstdint>

struct IRv_LogStream : IUnknown {
    // Writes one complete line; S_OK on success, E_FAIL otherwise. Must not
    // register or remove log streams.
    virtual HRESULT Write(const char16_t* cpszLine) = 0;
};

// Forwards every line into the program log at level 7 (RVLOG_DEBUG), as UTF-8.
// Created with a reference count of 1; deleted when the count reaches 0.
class Rv_PlatformLogAdapter : public IRv_LogStream {
public:
    Rv_PlatformLogAdapter() = default;
    HRESULT QueryInterface(const Rv_GUID& riid, void** ppvObject) override;
    uint32_t AddRef() override;
    uint32_t Release() override;
    HRESULT Write(const char16_t* cpszLine) override;

private:
    ~Rv_PlatformLogAdapter() override = default;
    std::atomic<uint32_t> m_uRefCount{1};
};

// The handle of a registered stream is the stream pointer itself.
typedef IRv_LogStream* RV_LOG_STREAM_HANDLE;
enum { RV_MAX_LOG_STREAM_COUNT = 64 };

// Registers a stream in the first free of 64 slots and takes a reference on
// it. Null for a null stream or a full table.
RV_LOG_STREAM_HANDLE Rv_AddLogStream(IRv_LogStream* piLogStream);
// Releases the stream once and frees its slot; 0 when it is not registered.
int Rv_RemoveLogStream(RV_LOG_STREAM_HANDLE hLogStream);
// Formats one line (wide rules of package/wide_format.h; cut to 1023
// characters) and writes it to every registered stream. With no stream
// registered nothing is formatted.
void Rv_LogPrintf(const char16_t* cpszFormat, ...);

// The lines of the failure macros (the condition and function texts are narrow).
void Rv_LogCheckFailed(const char16_t* cpszFormat, const char* cszCondition, int nLine, const char* cszPretty);
void Rv_LogComCheckFailed(const char16_t* cpszFormat, HRESULT hrCode, int nLine, const char* cszPretty);

#define RVPK_CHECK_AND_EXIT_(Kind, Condition, Text)                                                            \
    do {                                                                                                       \
        if (!(Condition)) {                                                                                    \
            Rv_LogCheckFailed(u"" Kind "(%ls) at line %d in %ls", Text, __LINE__, __PRETTY_FUNCTION__);        \
            goto Exit0;                                                                                        \
        }                                                                                                      \
    } while (0)

#define RVPK_COM_CHECK_AND_EXIT_(Kind, Code)                                                                   \
    do {                                                                                                       \
        HRESULT _hrPkCode = (Code);                                                                            \
        if (FAILED(_hrPkCode)) {                                                                               \
            Rv_LogComCheckFailed(u"" Kind "(0x%X) at line %d in %ls", _hrPkCode, __LINE__, __PRETTY_FUNCTION__); \
            goto Exit0;                                                                                        \
        }                                                                                                      \
    } while (0)

#define RVPK_PROCESS_ERROR(Condition) RVPK_CHECK_AND_EXIT_("RVLOG_PROCESS_ERROR", Condition, #Condition)
#define RVPK_ASSERT_EXIT(Condition) RVPK_CHECK_AND_EXIT_("RVLOG_ASSERT_EXIT", Condition, #Condition)
// The same, quoting Text (a narrow literal) in place of the condition as
// written: for a check whose line names the step it stands for.
#define RVPK_PROCESS_ERROR_QUOTING(Condition, Text) RVPK_CHECK_AND_EXIT_("RVLOG_PROCESS_ERROR", Condition, Text)
#define RVPK_ASSERT_EXIT_QUOTING(Condition, Text) RVPK_CHECK_AND_EXIT_("RVLOG_ASSERT_EXIT", Condition, Text)
#define RVPK_COM_PROCESS_ERROR(Code) RVPK_COM_CHECK_AND_EXIT_("RVLOG_COM_PROCESS_ERROR", Code)
#define RVPK_COM_ASSERT_EXIT(Code) RVPK_COM_CHECK_AND_EXIT_("RVLOG_COM_ASSERT_EXIT", Code)
