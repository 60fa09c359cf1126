// Child processes: start from a Windows-style command line in a chosen
// working folder, wait with a time-out, terminate. A child never becomes a
// zombie: one that is still running when its handle is closed is collected
// in the background when it ends.
#pragma once
#include <cstdint>
#include <string>

class Pf_Event;

class Pf_Process {
public:
    Pf_Process() = default;
    ~Pf_Process();      // Close()
    Pf_Process(const Pf_Process&) = delete;
    Pf_Process& operator=(const Pf_Process&) = delete;

    // Starts the command line (program name first, split by
    // Pf_ParseCommandLine; a program name without a separator is looked up
    // in PATH, a relative one against the current folder). strWorkDir ""
    // keeps the current folder. The ppInherit events stay open in the child
    // under the same handle numbers; no other descriptor but the standard
    // three reaches it. Fails while a process is held, when the program
    // cannot be run or the folder cannot be entered (errno set).
    int Start(const std::string& strCommandLine, const std::string& strWorkDir, Pf_Event* const* ppInherit = nullptr,
              int nInherit = 0);
    // 1 when the process has ended within the time (its exit code, or 128 +
    // the signal that ended it); 0 on time-out or error.
    int Wait(uint32_t uTimeoutMs, int* pnRetExitCode = nullptr);
    // Ends the process at once (it runs no clean-up of its own).
    int Terminate();
    // Gives up the handle; a running child is collected when it ends.
    void Close();
    int IsValid() const { return m_nPid > 0; }
    int GetPid() const { return m_nPid; }

private:
    int m_nPid = -1;
    int m_nPidFd = -1;
    int m_bReaped = 0;
    int m_nExitCode = 0;
};

// The handle text of an event for a child's command line: eight upper-case
// hexadecimal digits.
std::string Pf_EventHandleText(const Pf_Event& event);
// Takes over an event that the parent passed down, given the handle value
// read from the command line. Fails (errno EBADF) unless that value is an
// open event descriptor of this process. The event is not passed on to
// further children (only Start's ppInherit does that).
int Pf_AttachInheritedEvent(uint64_t ullHandle, int bManualReset, Pf_Event* pEvent);

// 1 once the process that started this one has ended (this process was then
// handed to another parent).
int Pf_ParentProcessHasEnded();
