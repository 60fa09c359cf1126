// A reference-counted block of memory (IRv_Buffer) and its factory.
#pragma once
#include "package/unknown.h"

#include <cstdint>

struct IRv_Buffer : IUnknown {
    virtual uint32_t GetSize() = 0;   // bytes
    virtual void* GetData() = 0;      // first byte
};

// A new buffer of exactly uSize bytes (contents undefined), reference count 1.
// S_OK, or E_FAIL when memory cannot be had.
HRESULT Rv_CreateBuffer(uint32_t uSize, IRv_Buffer** ppiRetBuffer);
