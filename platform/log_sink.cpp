// The platform layer's log lines, forwarded to the program's log.
#include "platform/log_sink.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

static std::atomic<Pf_LogSinkFunction> s_pfnSink{nullptr};

void Pf_SetLogSink(Pf_LogSinkFunction pfnSink)
{
    s_pfnSink.store(pfnSink);
}

void Pf_Log(int nLevel, const char* cszFormat, ...)
{
    Pf_LogSinkFunction pfnSink = s_pfnSink.load();
    if (!pfnSink)
        return;
    char szText[1024];
    va_list args;
    va_start(args, cszFormat);
    vsnprintf(szText, sizeof(szText), cszFormat, args);
    va_end(args);
    pfnSink(nLevel, szText);
}
