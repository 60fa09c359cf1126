// The base of the package library's reference-counted interfaces: query (which
// always fails), add a reference, release. Objects are used only through the
// interface they were created with.
#pragma once
#include "foundation/log.h"

#include <cstdint>

struct Rv_GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};

struct IUnknown {
    // Every implementation in the package library returns E_FAIL and touches nothing.
    virtual HRESULT QueryInterface(const Rv_GUID& riid, void** ppvObject) = 0;
    // Interlocked increment and decrement; both return the new count.
    virtual uint32_t AddRef() = 0;
    virtual uint32_t Release() = 0;

protected:
    virtual ~IUnknown() = default;
};

// Releases *pp when it is set and clears it.
template <class T>
inline void Rv_ComRelease(T*& p)
{
    if (p) {
        p->Release();
        p = nullptr;
    }
}
