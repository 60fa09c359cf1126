// CRC-32 of a buffer: the zip and zlib CRC (reflected polynomial 0xEDB88320),
// chainable through the start value.
#pragma once
#include <cstdint>

// The CRC-32 of uSize bytes at pvData, continuing from uStart (0 for a fresh
// CRC; the result of a previous call to continue it). A null buffer gives 0.
uint32_t Rv_CRC32(uint32_t uStart, const void* pvData, uint32_t uSize);
