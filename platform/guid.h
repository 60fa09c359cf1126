// Globally unique identifiers made from the system's random source.
#pragma once
#include <cstdint>

struct Pf_GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};

// A new random identifier (version 4, variant 1). Fails when the system's
// random source cannot be read.
int Pf_CreateGuid(Pf_GUID* pRetGuid);
