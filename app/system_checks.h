// Checks of the machine around an update: the compatibility flag against the
// mouse-pointer freeze, and the battery, free memory and processor load
// measured for the warnings shown after an update.
#pragma once
#include <string>

enum : unsigned long long {
    RVU_LOW_MEMORY_BYTES = 419430400ull,   // below this much free memory, warn
};
enum {
    RVU_BUSY_CPU_PERCENT = 80,             // above this load, warn
    RVU_CPU_SAMPLE_MS = 1000,
};

// Gives this executable the "NoDTToDITMouseBatch" compatibility layer once,
// on the systems that need it, and flushes the compatibility cache.
int RVU_CheckMousePointerFreezesOnWin8Point1();

// Each may append one warning entry ("<code>|<text>", "&" between entries);
// a null text only skips the appending.
int RVU_CheckLaptopPower(std::string* pstrWarning);
int RVU_CheckFreeMemory(std::string* pstrWarning);
int RVU_CheckCpuUsage(std::string* pstrWarning);

// Appends the entry of a code with the text of a string-table entry.
void RVU_AppendWarning(std::string* pstrWarning, const char* cszCode, unsigned uStringId);
