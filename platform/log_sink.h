// Where the platform layer's own log lines go: the program's log registers
// itself here; until then the lines are dropped.
#pragma once

typedef void (*Pf_LogSinkFunction)(int nLevel, const char* cszText);
void Pf_SetLogSink(Pf_LogSinkFunction pfnSink);
// Formats one line and hands it to the sink (levels as the program's log).
void Pf_Log(int nLevel, const char* cszFormat, ...) __attribute__((format(printf, 2, 3)));
