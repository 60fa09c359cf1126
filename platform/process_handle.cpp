// Processes opened by id over pidfds.
#include "platform/process_handle.h"

#include "platform/clock.h"
#include "platform/process_list.h"

#include <cerrno>
#include <csignal>
#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

int Pf_ProcessHandle::Open(uint32_t uProcessId)
{
    Close();
    if (uProcessId == 0 || uProcessId > INT32_MAX) {
        errno = EINVAL;
        return 0;
    }
    int nFd = (int)syscall(SYS_pidfd_open, (pid_t)uProcessId, 0);
    if (nFd < 0)
        return 0;
    m_nPidFd = nFd;
    m_uProcessId = uProcessId;
    return 1;
}

int Pf_ProcessHandle::GetImagePath(std::string* pstrRetImagePath) const
{
    if (m_nPidFd < 0)
        return 0;
    // The id still names the opened process while the pidfd does not report
    // its end: read the image, then make sure it had not ended before.
    std::string strImage;
    if (!Pf_GetProcessImagePath(m_uProcessId, &strImage))
        return 0;
    struct pollfd pfd = {m_nPidFd, POLLIN, 0};
    if (poll(&pfd, 1, 0) != 0)
        return 0;
    *pstrRetImagePath = strImage;
    return 1;
}

int Pf_ProcessHandle::Terminate()
{
    if (m_nPidFd < 0)
        return 0;
    return syscall(SYS_pidfd_send_signal, m_nPidFd, SIGKILL, nullptr, 0) == 0;
}

int Pf_ProcessHandle::WaitExit(uint32_t uTimeoutMs)
{
    if (m_nPidFd < 0)
        return 0;
    uint64_t ullDeadline = Pf_GetMonotonicMs() + uTimeoutMs;
    for (;;) {
        uint64_t ullNow = Pf_GetMonotonicMs();
        int nWait = ullNow >= ullDeadline ? 0 : (int)(ullDeadline - ullNow);
        struct pollfd pfd = {m_nPidFd, POLLIN, 0};
        int nRet = poll(&pfd, 1, nWait);
        if (nRet > 0)
            return 1;
        if (nRet == 0)
            return 0;
        if (errno != EINTR)
            return 0;
    }
}

void Pf_ProcessHandle::Close()
{
    if (m_nPidFd >= 0)
        close(m_nPidFd);
    m_nPidFd = -1;
    m_uProcessId = 0;
}
