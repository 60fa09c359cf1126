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

inline uint32_t _Word(uint32_t uCrc, const unsigned char* pbyData)
{
    uCrc ^= _LoadLE32(pbyData);
    return s_aCrcTables[3][uCrc & 0xFF] ^ s_aCrcTables[2][(uCrc >> 8) & 0xFF] ^
           s_aCrcTables[1][(uCrc >> 16) & 0xFF] ^ s_aCrcTables[0][uCrc >> 24];
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
    while (uSize >= 32) {
        for (int i = 0; i < 8; ++i)
            uCrc = _Word(uCrc, pbyData + 4 * i);
        pbyData += 32;
        uSize -= 32;
    }
    while (uSize >= 4) {
        uCrc = _Word(uCrc, pbyData);
        pbyData += 4;
        uSize -= 4;
    }
    while (uSize) {
        uCrc = _Byte(uCrc, *pbyData++);
        --uSize;
    }
    return ~uCrc;
}
