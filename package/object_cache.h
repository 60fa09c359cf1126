// A small lock-free cache of idle objects of one class: eight slots, each an
// atomic pointer (null = empty). Taking gives an idle object when there is
// one, else a new one; giving keeps the object in a free slot, or destroys it
// when all eight are taken. The objects left at exit are destroyed with the
// cache. Safe for several threads; no lock is taken.
#pragma once
#include <atomic>
#include <new>

enum { RV_OBJECT_CACHE_SLOT_COUNT = 8 };

template <class T>
class Rv_ObjectCache {
public:
    Rv_ObjectCache()
    {
        for (std::atomic<T*>& Slot : m_Slots)
            Slot.store(nullptr);
    }
    ~Rv_ObjectCache() { Drain(); }
    Rv_ObjectCache(const Rv_ObjectCache&) = delete;
    Rv_ObjectCache& operator=(const Rv_ObjectCache&) = delete;

    // An idle object as it was given back (not reset), or a new one; null
    // when memory cannot be had.
    T* Take()
    {
        for (std::atomic<T*>& Slot : m_Slots) {
            if (Slot.load(std::memory_order_relaxed) == nullptr)
                continue;
            T* pObject = Slot.exchange(nullptr, std::memory_order_acq_rel);
            if (pObject)
                return pObject;
        }
        return new (std::nothrow) T;
    }

    // Keeps the object for a later Take, or destroys it when the cache is full.
    void Give(T* pObject)
    {
        for (std::atomic<T*>& Slot : m_Slots) {
            if (!pObject)
                return;
            if (Slot.load(std::memory_order_relaxed) != nullptr)
                continue;
            // A concurrent give may have filled the slot meanwhile: then the
            // object it displaced is the one to place further on.
            pObject = Slot.exchange(pObject, std::memory_order_acq_rel);
        }
        delete pObject;
    }

    // Destroys every idle object.
    void Drain()
    {
        for (std::atomic<T*>& Slot : m_Slots)
            delete Slot.exchange(nullptr, std::memory_order_acq_rel);
    }

    // The number of idle objects held (a snapshot).
    unsigned IdleCount() const
    {
        unsigned uCount = 0;
        for (const std::atomic<T*>& Slot : m_Slots)
            uCount += Slot.load() != nullptr;
        return uCount;
    }

private:
    std::atomic<T*> m_Slots[RV_OBJECT_CACHE_SLOT_COUNT];
};
