// Threads, recursive mutexes and events.
//
// An event is an eventfd, so that a process can wait for any of several
// events (poll) and an unnamed event can be inherited by a child process.
#pragma once
#include <cstdint>
#include <pthread.h>

typedef void (*Pf_ThreadFunction)(void* pvArg);

class Pf_Thread {
public:
    Pf_Thread() = default;
    ~Pf_Thread();                   // joins a thread still held
    Pf_Thread(const Pf_Thread&) = delete;
    Pf_Thread& operator=(const Pf_Thread&) = delete;

    // Starts pfnFunction(pvArg). Fails while a thread is held.
    int Start(Pf_ThreadFunction pfnFunction, void* pvArg);
    // Waits without limit for the thread and releases it; 0 when none is held.
    int Join();
    int IsHeld() const { return m_bHeld; }

private:
    pthread_t m_Thread{};
    int m_bHeld = 0;
};

// The calling thread's id (the kernel's thread id).
uint32_t Pf_GetCurrentThreadId();

class Pf_Mutex {
public:
    Pf_Mutex();
    ~Pf_Mutex();
    Pf_Mutex(const Pf_Mutex&) = delete;
    Pf_Mutex& operator=(const Pf_Mutex&) = delete;
    void Lock();
    void Unlock();

private:
    pthread_mutex_t m_Mutex;
};

class Pf_MutexGuard {
public:
    explicit Pf_MutexGuard(Pf_Mutex& mutex) : m_Mutex(mutex) { m_Mutex.Lock(); }
    ~Pf_MutexGuard() { m_Mutex.Unlock(); }
    Pf_MutexGuard(const Pf_MutexGuard&) = delete;
    Pf_MutexGuard& operator=(const Pf_MutexGuard&) = delete;

private:
    Pf_Mutex& m_Mutex;
};

enum { PF_WAIT_INFINITE = 0xFFFFFFFFu };

class Pf_Event {
public:
    Pf_Event() = default;
    ~Pf_Event();
    Pf_Event(const Pf_Event&) = delete;
    Pf_Event& operator=(const Pf_Event&) = delete;

    // Creates the event. bInheritable keeps the descriptor open across exec.
    int Init(int bManualReset, int bInitialState, int bInheritable = 0);
    // Takes over an existing eventfd (an inherited handle); the event owns it.
    int Attach(int nFd, int bManualReset);
    void Close();
    int Set();
    int Reset();
    // 1 when signalled within the time, 0 on time-out or error.
    int Wait(uint32_t uTimeoutMs);
    int IsValid() const { return m_nFd >= 0; }
    int GetFd() const { return m_nFd; }
    int IsManualReset() const { return m_bManualReset; }

private:
    int m_nFd = -1;
    int m_bManualReset = 0;
};

// Waits until one of the events is signalled (an auto-reset event is then
// reset). Returns 1 with its index, 0 on time-out or error.
int Pf_WaitForAny(Pf_Event* const* ppEvents, int nCount, uint32_t uTimeoutMs, int* pnRetIndex);
