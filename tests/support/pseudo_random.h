// Reproducible test data: uSize bytes from a linear congruential generator
// seeded with uSeed.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

inline std::string Rv_TestPseudoRandom(size_t uSize, uint32_t uSeed)
{
    std::string strData(uSize, '\0');
    for (size_t i = 0; i < uSize; ++i) {
        uSeed = uSeed * 1103515245u + 12345u;
        strData[i] = (char)(uSeed >> 16);
    }
    return strData;
}
