// Buffers of many megabytes for bulk copies. They come straight from the
// system and ask for huge pages where it has them, so filling a buffer of
// hundreds of MiB takes a few hundred page faults instead of tens of
// thousands. The bytes start as zeros.
#pragma once
#include <cstddef>

// Null (errno set) when the system has no room, or for a size of 0.
void* Pf_AllocLarge(size_t uSize);
// Takes back what Pf_AllocLarge gave for the same size; null is ignored.
void Pf_FreeLarge(void* pvBuffer, size_t uSize);

// Owns one large buffer; empty until Allocate succeeds.
class Pf_LargeBuffer {
public:
    Pf_LargeBuffer() = default;
    ~Pf_LargeBuffer() { Free(); }
    Pf_LargeBuffer(const Pf_LargeBuffer&) = delete;
    Pf_LargeBuffer& operator=(const Pf_LargeBuffer&) = delete;

    // Replaces what it held by a fresh buffer of uSize bytes; 0 when none could be had.
    int Allocate(size_t uSize);
    void Free();
    unsigned char* Data() const { return m_pbyData; }
    size_t Size() const { return m_uSize; }

private:
    unsigned char* m_pbyData = nullptr;
    size_t m_uSize = 0;
};
