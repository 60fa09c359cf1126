// The string table of the executable: the user-visible texts by id, UTF-8.
#pragma once

struct Rv_StringTableEntry {
    unsigned uId;
    const char* cszText;
};

extern "C" const Rv_StringTableEntry g_RvStringTable[];
extern "C" const unsigned g_uRvStringTableCount;
