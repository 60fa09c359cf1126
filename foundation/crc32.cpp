// CRC-32 by slicing by four: four 256-entry tables, built at compile time.
#include "foundation/crc32.h"

#include <array>
#include <cstring>

namespace {

typedef std::array<std::array<uint32_t, 256>, 4> CrcTables;

constexpr CrcTables _MakeTables()
{
    CrcTables aTables{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t uValue = i;
        for (int j = 0; j < 8; ++j)
            uValue = (uValue & 1) ? (uValue >> 1) ^ 0xEDB88320u : (uValue >> 1);
        aTables[0][i] = uValue;
    }
    // Each further table advances a byte by one more zero byte.
    for (uint32_t i = 0; i < 256; ++i) {
        for (int k = 1; k < 4; ++k) {
            uint32_t uPrev = aTables[k - 1][i];
            aTables[k][i] = (uPrev >> 8) ^ aTables[0][uPrev & 0xFF];
        }
    }
    return aTables;
}

constexpr CrcTables s_aCrcTables = _MakeTables();

inline uint32_t _LoadLE32(const unsigned char* pbyData)
{
    uint32_t uWord;
    memcpy(&uWord, pbyData, sizeof(uWord));
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    uWord = __builtin_bswap32(uWord);
#endif
    return uWord;
}

// Keeps a value in a register as it is: the compiler may not re-associate
// the xors around it.
inline uint32_t _Pin(uint32_t u)
{
#if defined(__GNUC__)
    __asm__("" : "+r"(u));
#endif
    return u;
}

// One word through the four tables, with the next word (or 0) folded into the
// result: the xor of the four lookups is then the running value for the next
// word. The lookups are combined as a tree (two pairs, then the pairs), so the
// chain from one word to the next is one load and two xors; left alone the
// compiler makes a chain of four xors of it.
inline uint32_t _Word(uint32_t uCrc, uint32_t uNext)
{
    uint32_t uLow = _Pin(s_aCrcTables[3][uCrc & 0xFF] ^ s_aCrcTables[2][(uCrc >> 8) & 0xFF]);
    uint32_t uHigh = _Pin(s_aCrcTables[1][(uCrc >> 16) & 0xFF] ^ (s_aCrcTables[0][uCrc >> 24] ^ uNext));
    return uLow ^ uHigh;
}

inline uint32_t _Byte(uint32_t uCrc, unsigned char by)
{
    return (uCrc >> 8) ^ s_aCrcTables[0][(uCrc ^ by) & 0xFF];
}

} // namespace

uint32_t Rv_CRC32(uint32_t uStart, const void* pvData, uint32_t uSize)
{
    if (!pvData)
        return 0;
    const unsigned char* pbyData = (const unsigned char*)pvData;
    uint32_t uCrc = ~uStart;

    while (uSize && ((uintptr_t)pbyData & 3)) {
        uCrc = _Byte(uCrc, *pbyData++);
        --uSize;
    }
    // Eight words a step, written out: every load of the step is issued
    // ahead of the table chain, and the chain carries the running value
    // already combined with the next word.
    if (uSize >= 4) {
        uCrc ^= _LoadLE32(pbyData);
        while (uSize >= 36) {
            uint32_t w1 = _LoadLE32(pbyData + 4), w2 = _LoadLE32(pbyData + 8), w3 = _LoadLE32(pbyData + 12);
            uint32_t w4 = _LoadLE32(pbyData + 16), w5 = _LoadLE32(pbyData + 20), w6 = _LoadLE32(pbyData + 24);
            uint32_t w7 = _LoadLE32(pbyData + 28), w8 = _LoadLE32(pbyData + 32);
            uCrc = _Word(uCrc, w1);
            uCrc = _Word(uCrc, w2);
            uCrc = _Word(uCrc, w3);
            uCrc = _Word(uCrc, w4);
            uCrc = _Word(uCrc, w5);
            uCrc = _Word(uCrc, w6);
            uCrc = _Word(uCrc, w7);
            uCrc = _Word(uCrc, w8);
            pbyData += 32;
            uSize -= 32;
        }
        // The remaining whole words; uCrc holds the current word already.
        while (uSize >= 8) {
            uCrc = _Word(uCrc, _LoadLE32(pbyData + 4));
            pbyData += 4;
            uSize -= 4;
        }
        uCrc = _Word(uCrc, 0);
        pbyData += 4;
        uSize -= 4;
    }
    while (uSize) {
        uCrc = _Byte(uCrc, *pbyData++);
        --uSize;
    }
    return ~uCrc;
}
