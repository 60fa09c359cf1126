// Named auto-reset events shared between processes.
//
// An event lives exactly while at least one process holds it open: each
// holder keeps a shared lock on the event's lock file, so a holder that ends
// (or crashes) lets go of it. A signal travels through a FIFO beside the lock
// file, which every holder keeps open; the pipe's data dies with its last
// holder, so a new event always starts unsignalled.
//
// The files live in a folder of the user ("$XDG_RUNTIME_DIR/refitter-events",
// else "/tmp/refitter-events-<uid>"). RV_EVENT_PREFIX, when set, goes before
// every name; a prefix that begins with "/" is a path prefix instead, so
// tests can keep their events in their own temporary folder.
#pragma once
#include <cstdint>
#include <string>

class Pf_NamedEvent {
public:
    Pf_NamedEvent() = default;
    ~Pf_NamedEvent();
    Pf_NamedEvent(const Pf_NamedEvent&) = delete;
    Pf_NamedEvent& operator=(const Pf_NamedEvent&) = delete;

    // Creates the event unsignalled, or opens it when a process holds it
    // already (then *pbRetExisted is 1). Fails while this object holds one.
    int Create(const std::string& strName, int* pbRetExisted = nullptr);
    // Opens the event when a process holds it; fails (errno ENOENT) otherwise.
    int Open(const std::string& strName);
    // Signals the event: one waiter (in any process) wakes, or the next one.
    int Set();
    // 1 when signalled within the time (the signal is consumed), 0 otherwise.
    int Wait(uint32_t uTimeoutMs);
    void Close();
    int IsValid() const { return m_nLockFd >= 0; }

private:
    int _Take(const std::string& strName, int bCreate, int* pbRetExisted);

    int m_nLockFd = -1;
    int m_nFifoFd = -1;
};

// The file path (without extension) that holds the event of that name.
int Pf_NamedEventPath(const std::string& strName, std::string* pstrRetPath);
// The path of a file named strName (escaped as event names are) in the
// user's runtime folder of the events, for other short-lived files of the
// program: the same folder, prefix rule included.
int Pf_UserRuntimePath(const std::string& strName, std::string* pstrRetPath);
