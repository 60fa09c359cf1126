// Large buffers: anonymous mappings aligned to the huge-page size and marked
// for huge pages. A system without them, or one that refuses the hint,
// still gives ordinary pages.
#include "platform/large_buffer.h"

#include <cerrno>
#include <cstdint>
#include <sys/mman.h>

static const size_t s_uHugePageSize = 2 * 1024 * 1024;

// What a buffer of uSize bytes keeps mapped: whole huge pages.
static size_t _MappedSize(size_t uSize)
{
    return (uSize + s_uHugePageSize - 1) / s_uHugePageSize * s_uHugePageSize;
}

void* Pf_AllocLarge(size_t uSize)
{
    if (uSize == 0 || uSize > SIZE_MAX / 2) {
        errno = uSize == 0 ? EINVAL : ENOMEM;
        return nullptr;
    }
    // One huge page of slack, cut off again, lets the start be aligned.
    size_t uMapped = _MappedSize(uSize);
    size_t uWithSlack = uMapped + s_uHugePageSize;
    void* pvMap = mmap(nullptr, uWithSlack, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (pvMap == MAP_FAILED)
        return nullptr;
    uintptr_t uStart = (uintptr_t)pvMap;
    uintptr_t uAligned = (uStart + s_uHugePageSize - 1) & ~(uintptr_t)(s_uHugePageSize - 1);
    if (uAligned > uStart)
        munmap(pvMap, uAligned - uStart);
    if (uStart + uWithSlack > uAligned + uMapped)
        munmap((void*)(uAligned + uMapped), uStart + uWithSlack - (uAligned + uMapped));
#ifdef MADV_HUGEPAGE
    madvise((void*)uAligned, uMapped, MADV_HUGEPAGE);   // only a hint
#endif
    return (void*)uAligned;
}

void Pf_FreeLarge(void* pvBuffer, size_t uSize)
{
    if (pvBuffer && uSize > 0)
        munmap(pvBuffer, _MappedSize(uSize));
}

int Pf_LargeBuffer::Allocate(size_t uSize)
{
    void* pvNew = Pf_AllocLarge(uSize);
    if (!pvNew)
        return 0;
    Pf_FreeLarge(m_pbyData, m_uSize);
    m_pbyData = (unsigned char*)pvNew;
    m_uSize = uSize;
    return 1;
}

void Pf_LargeBuffer::Free()
{
    Pf_FreeLarge(m_pbyData, m_uSize);
    m_pbyData = nullptr;
    m_uSize = 0;
}
