// A shell command on a pseudo-terminal of its own: a session leader that
// stands in for the person's shell, and the command as its foreground job.
#include "tests/e2e/terminal_session.h"

#include <cerrno>
#include <csignal>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

void _WriteAll(int nFd, const void* pvData, size_t uSize)
{
    ssize_t nDone = write(nFd, pvData, uSize);
    (void)nDone;
}

// The session leader: makes the terminal its own, starts the job in a process
// group of its own in the foreground, takes the terminal back once the job's
// process has ended (as a shell does before its next prompt), tells the test
// how the job ended, and stays until it is killed.
[[noreturn]] void _RunLeader(int nSlave, int nStatusPipe, const std::string& strCommand)
{
    setsid();
    ioctl(nSlave, TIOCSCTTY, 0);
    int anGo[2];
    if (pipe(anGo) != 0)
        _exit(126);
    pid_t nJob = fork();
    if (nJob == 0) {
        close(anGo[1]);
        char c;
        while (read(anGo[0], &c, 1) < 0 && errno == EINTR) {
        }
        close(anGo[0]);
        dup2(nSlave, 0);
        dup2(nSlave, 1);
        dup2(nSlave, 2);
        if (nSlave > 2)
            close(nSlave);
        close(nStatusPipe);
        execl("/bin/sh", "sh", "-c", strCommand.c_str(), (char*)nullptr);
        _exit(127);
    }
    close(anGo[0]);
    setpgid(nJob, nJob);
    tcsetpgrp(nSlave, nJob);
    close(nSlave);
    _WriteAll(nStatusPipe, &nJob, sizeof(nJob));
    _WriteAll(anGo[1], "g", 1);
    close(anGo[1]);
    // As a shell: the terminal's keys and its hand-back do not end the leader.
    for (int nSignal : {SIGINT, SIGQUIT, SIGTSTP, SIGTTOU, SIGTTIN})
        signal(nSignal, SIG_IGN);
    int nStatus = 0;
    while (waitpid(nJob, &nStatus, 0) < 0 && errno == EINTR) {
    }
    // A copy the job left behind stays in the job's group, now in the background.
    int nTerminal = open("/dev/tty", O_RDWR | O_NOCTTY);
    if (nTerminal >= 0) {
        tcsetpgrp(nTerminal, getpgrp());
        close(nTerminal);
    }
    int nExit = WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : 128 + WTERMSIG(nStatus);
    _WriteAll(nStatusPipe, &nExit, sizeof(nExit));
    for (;;)
        pause();
}

} // namespace

Rv_TestTerminal::~Rv_TestTerminal()
{
    if (m_nJob > 0)
        kill(-m_nJob, SIGKILL);
    if (m_nLeader > 0) {
        kill(m_nLeader, SIGKILL);
        waitpid(m_nLeader, nullptr, 0);
    }
    if (m_nStatusPipe >= 0)
        close(m_nStatusPipe);
    if (m_nMaster >= 0)
        close(m_nMaster);
}

bool Rv_TestTerminal::Start(const std::string& strCommand)
{
    struct winsize size = {};
    size.ws_row = 50;
    size.ws_col = 200;
    int nSlave = -1;
    int anStatus[2];
    if (openpty(&m_nMaster, &nSlave, nullptr, nullptr, &size) != 0 || pipe(anStatus) != 0)
        return false;
    fcntl(m_nMaster, F_SETFD, FD_CLOEXEC);
    tcgetattr(nSlave, &m_StartMode);
    fflush(stdout);
    fflush(stderr);
    m_nLeader = fork();
    if (m_nLeader < 0)
        return false;
    if (m_nLeader == 0) {
        close(m_nMaster);
        close(anStatus[0]);
        _RunLeader(nSlave, anStatus[1], strCommand);
    }
    // Only the job's processes hold the terminal: its end shows as the end
    // of the output.
    close(nSlave);
    close(anStatus[1]);
    m_nStatusPipe = anStatus[0];
    while (read(m_nStatusPipe, &m_nJob, sizeof(m_nJob)) < 0 && errno == EINTR) {
    }
    return m_nJob > 0;
}

bool Rv_TestTerminal::_Read(unsigned uWaitMs)
{
    if (m_bClosed)
        return false;
    struct pollfd fd = {m_nMaster, POLLIN, 0};
    int nReady = poll(&fd, 1, (int)uWaitMs);
    if (nReady <= 0)
        return true;
    char szBuf[4096];
    ssize_t nRead = read(m_nMaster, szBuf, sizeof(szBuf));
    if (nRead < 0 && errno == EINTR)
        return true;
    if (nRead <= 0) {
        m_bClosed = true;   // EIO: no process holds the terminal any more
        return false;
    }
    m_strOutput.append(szBuf, (size_t)nRead);
    return true;
}

bool Rv_TestTerminal::WaitFor(const std::string& strText, unsigned uTimeoutMs, size_t uFrom)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(uTimeoutMs);
    for (;;) {
        if (uFrom <= m_strOutput.size() && m_strOutput.find(strText, uFrom) != std::string::npos)
            return true;
        if (std::chrono::steady_clock::now() >= deadline || !_Read(50))
            return m_strOutput.find(strText, uFrom) != std::string::npos;
    }
}

void Rv_TestTerminal::Type(const std::string& strKeys)
{
    size_t uDone = 0;
    while (uDone < strKeys.size()) {
        ssize_t nWritten = write(m_nMaster, strKeys.data() + uDone, strKeys.size() - uDone);
        if (nWritten < 0 && errno == EINTR)
            continue;
        if (nWritten <= 0)
            return;
        uDone += (size_t)nWritten;
    }
}

void Rv_TestTerminal::Signal(int nSignal)
{
    if (m_nJob > 0)
        kill(-m_nJob, nSignal);
}

int Rv_TestTerminal::WaitExit(unsigned uTimeoutMs)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(uTimeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        if (m_nExitStatus < 0) {
            struct pollfd fd = {m_nStatusPipe, POLLIN, 0};
            if (poll(&fd, 1, 0) > 0 && read(m_nStatusPipe, &m_nExitStatus, sizeof(m_nExitStatus)) != sizeof(int))
                m_nExitStatus = -1;
        }
        if (!_Read(50) && m_nExitStatus >= 0)
            return m_nExitStatus;
    }
    return -1;
}

bool Rv_TestTerminal::Mode(struct termios* pRetMode) const
{
    return tcgetattr(m_nMaster, pRetMode) == 0;
}

std::string Rv_TestDescribeMode(const struct termios& mode)
{
    const bool bLines = (mode.c_lflag & ICANON) != 0;
    const bool bEcho = (mode.c_lflag & ECHO) != 0;
    if (bLines && bEcho)
        return "lines and echo on";
    return std::string(bLines ? "lines" : "no lines") + ", " + (bEcho ? "echo" : "no echo") +
           ", VMIN=" + std::to_string(mode.c_cc[VMIN]) + ", VTIME=" + std::to_string(mode.c_cc[VTIME]);
}
