// A worker thread that runs one function with one argument and is joined by
// its owner. The wrapper has no stop flag: each user keeps its own and lets
// its thread function return. Only the owning thread calls Create and Wait.
#pragma once
#include "platform/thread.h"

typedef void (*Rv_ThreadFunction)(void* pvArg);

class Rv_Thread {
public:
    Rv_Thread() = default;
    ~Rv_Thread();           // joins a thread still held
    Rv_Thread(const Rv_Thread&) = delete;
    Rv_Thread& operator=(const Rv_Thread&) = delete;

    // Starts pfnThreadFunction(pvArg) on a new thread. Fails without starting
    // anything while a thread is still held (even one that has ended).
    int Create(Rv_ThreadFunction pfnThreadFunction, void* pvArg);
    // Waits without limit for the held thread and releases it: 1; 0 when none is held.
    int Wait();

private:
    static void _ThreadProc(void* pvThread);

    Pf_Thread m_Thread;
    Rv_ThreadFunction m_pfnThreadFunction = nullptr;
    void* m_pvArg = nullptr;
};
