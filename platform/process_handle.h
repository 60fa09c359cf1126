// A running process that this one did not start, opened by its id: its
// image path, terminate, and a wait for its end with a time limit.
#pragma once
#include <cstdint>
#include <string>

class Pf_ProcessHandle {
public:
    Pf_ProcessHandle() = default;
    ~Pf_ProcessHandle() { Close(); }
    Pf_ProcessHandle(const Pf_ProcessHandle&) = delete;
    Pf_ProcessHandle& operator=(const Pf_ProcessHandle&) = delete;

    // Opens the process; 0 (errno set) when it has ended or cannot be opened.
    // Once open, the handle keeps naming that process even when its id is
    // given to another one after it ends.
    int Open(uint32_t uProcessId);
    // The full path of its image; 0 once it has ended.
    int GetImagePath(std::string* pstrRetImagePath) const;
    // Ends the process at once. 1 when the system took the request.
    int Terminate();
    // 1 when the process has ended (whether or not its parent has collected
    // it yet) within the time; 0 on time-out or error.
    int WaitExit(uint32_t uTimeoutMs);
    void Close();
    int IsOpen() const { return m_nPidFd >= 0; }

private:
    uint32_t m_uProcessId = 0;
    int m_nPidFd = -1;
};
