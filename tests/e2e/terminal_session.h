// A person at a terminal for end-to-end runs: a shell command started on a
// pseudo-terminal of its own, what it wrote there, keys typed into it, and
// the terminal's mode before and after.
#pragma once
#include <string>

#include <sys/types.h>
#include <termios.h>

class Rv_TestTerminal {
public:
    Rv_TestTerminal() = default;
    ~Rv_TestTerminal();
    Rv_TestTerminal(const Rv_TestTerminal&) = delete;
    Rv_TestTerminal& operator=(const Rv_TestTerminal&) = delete;

    // Starts "sh -c strCommand" with the test's environment as the terminal's
    // foreground job, as a person's shell would: once the command's process
    // has ended the session's leader takes the terminal back, and a copy the
    // command leaves behind is in the background. The leader stays until the
    // test ends. The mode it starts with is the terminal's default (lines, echo).
    bool Start(const std::string& strCommand);
    // Waits up to uTimeoutMs for strText to appear in the output after the
    // position uFrom (see Seen). False on time-out or when the terminal closed.
    bool WaitFor(const std::string& strText, unsigned uTimeoutMs, size_t uFrom = 0);
    // How much output was seen so far.
    size_t Seen() const { return m_strOutput.size(); }
    const std::string& Output() const { return m_strOutput; }
    void Type(const std::string& strKeys);
    // Sends the signal to the foreground job, as the terminal does for Ctrl-C.
    void Signal(int nSignal);
    // Waits up to uTimeoutMs for the shell to end and every process to close
    // the terminal; the shell's exit status (128 + signal when killed), -1
    // on time-out (everything is killed then).
    int WaitExit(unsigned uTimeoutMs);
    // The terminal's mode now.
    bool Mode(struct termios* pRetMode) const;
    // The mode the terminal had when the command started.
    const struct termios& StartMode() const { return m_StartMode; }

private:
    // Reads what is there, waiting at most uWaitMs. False when the terminal closed.
    bool _Read(unsigned uWaitMs);

    int m_nMaster = -1;
    int m_nStatusPipe = -1;
    pid_t m_nLeader = -1;
    pid_t m_nJob = -1;
    int m_nExitStatus = -1;
    bool m_bClosed = false;
    std::string m_strOutput;
    struct termios m_StartMode {};
};

// "lines and echo on" when the mode reads lines with echo, else a description.
std::string Rv_TestDescribeMode(const struct termios& mode);
