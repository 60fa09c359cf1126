// The process-wide log: dated text lines in one file per run, a folder per
// day, optionally echoed to standard output and standard error. And the
// failure-logging macros that give every failed check one uniform line.
//
// A function that uses the macros keeps this shape:
//
//     int Foo()
//     {
//         int nResult = 0;
//         ...
//         RVLOG_PROCESS_ERROR(pszName && "name given");
//         ...
//     Exit1:                  // only where RVLOG_PROCESS_SUCCESS is used
//         nResult = 1;
//     Exit0:
//         return nResult;
//     }
#pragma once
#include <cstdint>

enum RvLogLevel {
    RVLOG_ERROR = 3,
    RVLOG_WARNING = 4,
    RVLOG_INFO = 6,
    RVLOG_DEBUG = 7,
};

enum {
    RVLOG_OPTION_FILE = 1,
    RVLOG_OPTION_STDOUT = 2,
    RVLOG_OPTION_STDERR = 4,
};

struct Rv_LogParam {
    char szPath[1024];      // root folder of all logs
    char szIdent[1024];     // name of the folder under the root, first part of every file name
    int nOptions;           // RVLOG_OPTION_*; 0 means file
    int nMaxLinePerFile;    // below 1 means 32768
};

// Length of the date part of a log file name ("2014_12_15_17_38_46.log").
extern const unsigned s_uLogDateLen;

int RvLog_Init(const Rv_LogParam* pParam);
int RvLog_Write(int nLevel, const char* cszFormat, ...) __attribute__((format(printf, 2, 3)));
int RvLog_UnInit();

// The function name of a __PRETTY_FUNCTION__ text, with its class
// ("int Rv_A::B(int)" gives "Rv_A::B"), written into szBuffer.
const char* RvLog_FunctionName(const char* cszPretty, char* szBuffer, unsigned uSize);
// Writes one failure-macro line: cszFormat takes the condition, the line and the function.
void RvLog_WriteCheck(const char* cszFormat, const char* cszCondition, int nLine, const char* cszPretty);
void RvLog_WriteComCheck(const char* cszFormat, uint32_t uCode, int nLine, const char* cszPretty);

typedef int32_t HRESULT;
#ifndef S_OK
#define S_OK ((HRESULT)0)
#endif
#ifndef E_FAIL
#define E_FAIL ((HRESULT)0x80004005)
#endif
#ifndef FAILED
#define FAILED(hr) (((HRESULT)(hr)) < 0)
#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#endif

#define RVLOG_PROCESS_ERROR(Condition)                                                                         \
    do {                                                                                                       \
        if (!(Condition)) {                                                                                    \
            RvLog_WriteCheck("RVLOG_PROCESS_ERROR(%s) at line %d in %s\n", #Condition, __LINE__, __PRETTY_FUNCTION__); \
            goto Exit0;                                                                                        \
        }                                                                                                      \
    } while (0)

#define RVLOG_CHECK_ERROR(Condition)                                                                           \
    do {                                                                                                       \
        if (!(Condition))                                                                                      \
            RvLog_WriteCheck("RVLOG_CHECK_ERROR(%s) at line %d in %s\n", #Condition, __LINE__, __PRETTY_FUNCTION__); \
    } while (0)

#define RVLOG_PROCESS_SUCCESS(Condition)                                                                       \
    do {                                                                                                       \
        if (Condition) {                                                                                       \
            RvLog_WriteCheck("RVLOG_PROCESS_SUCCESS(%s) at line %d in %s\n", #Condition, __LINE__, __PRETTY_FUNCTION__); \
            goto Exit1;                                                                                        \
        }                                                                                                      \
    } while (0)

#define RVLOG_COM_PROCESS_ERROR(Code)                                                                          \
    do {                                                                                                       \
        HRESULT _hrCode = (Code);                                                                              \
        if (FAILED(_hrCode)) {                                                                                 \
            RvLog_WriteComCheck("RVLOG_COM_PROCESS_ERROR(0x%X) at line %d in %s\n", (uint32_t)_hrCode, __LINE__, __PRETTY_FUNCTION__); \
            goto Exit0;                                                                                        \
        }                                                                                                      \
    } while (0)
