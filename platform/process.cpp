// Child processes over fork and exec, with pidfd waits.
#include "platform/process.h"

#include "platform/clock.h"
#include "platform/command_line.h"
#include "platform/file.h"
#include "platform/path.h"
#include "platform/thread.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <linux/close_range.h>
#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// The program to run: a path through the path conversion, made absolute
// against the current folder; a bare name is left to the PATH search.
int _ResolveProgram(const std::string& strName, std::string* pstrRetPath, int* pbRetSearchPath)
{
    *pbRetSearchPath = 0;
    if (strName.empty()) {
        errno = ENOENT;
        return 0;
    }
    if (strName.find_first_of("/\\") == std::string::npos) {
        *pbRetSearchPath = 1;
        *pstrRetPath = strName;
        return 1;
    }
    std::string strNative;
    if (!Pf_NativePath(strName, &strNative))
        return 0;
    if (strNative[0] != '/') {
        std::string strCurrent;
        if (!Pf_GetCurrentDir(&strCurrent))
            return 0;
        strNative = strCurrent + "/" + strNative;
    }
    *pstrRetPath = strNative;
    return 1;
}

int _ExitCodeOf(int nStatus)
{
    if (WIFEXITED(nStatus))
        return WEXITSTATUS(nStatus);
    if (WIFSIGNALED(nStatus))
        return 128 + WTERMSIG(nStatus);
    return -1;
}

} // namespace

Pf_Process::~Pf_Process()
{
    Close();
}

int Pf_Process::Start(const std::string& strCommandLine, const std::string& strWorkDir, Pf_Event* const* ppInherit,
                      int nInherit)
{
    if (m_nPid > 0 || nInherit < 0 || (nInherit > 0 && !ppInherit)) {
        errno = EINVAL;
        return 0;
    }
    std::vector<std::string> vecArgs;
    Pf_ParseCommandLine(strCommandLine, &vecArgs);
    if (vecArgs.empty()) {
        errno = EINVAL;
        return 0;
    }
    std::string strProgram;
    int bSearchPath = 0;
    if (!_ResolveProgram(vecArgs[0], &strProgram, &bSearchPath))
        return 0;
    std::string strDir;
    if (!strWorkDir.empty() && !Pf_NativePath(strWorkDir, &strDir))
        return 0;
    std::vector<int> vecInheritFds;
    for (int i = 0; i < nInherit; ++i) {
        if (!ppInherit[i] || ppInherit[i]->GetFd() < 0) {
            errno = EINVAL;
            return 0;
        }
        vecInheritFds.push_back(ppInherit[i]->GetFd());
    }
    std::vector<char*> vecArgv;
    for (std::string& strArg : vecArgs)
        vecArgv.push_back(strArg.data());
    vecArgv.push_back(nullptr);

    // Tells the parent why exec failed; closed by a successful exec.
    int anPipe[2];
    if (pipe2(anPipe, O_CLOEXEC) != 0)
        return 0;
    pid_t nPid = fork();
    if (nPid < 0) {
        int nError = errno;
        close(anPipe[0]);
        close(anPipe[1]);
        errno = nError;
        return 0;
    }
    if (nPid == 0) {
        // Only async-signal-safe calls from here on.
        sigset_t setAll;
        sigemptyset(&setAll);
        sigprocmask(SIG_SETMASK, &setAll, nullptr);
        if (syscall(SYS_close_range, 3u, ~0u, CLOSE_RANGE_CLOEXEC) != 0) {
            long lMax = sysconf(_SC_OPEN_MAX);
            for (int nFd = 3; nFd < lMax && nFd < 65536; ++nFd)
                fcntl(nFd, F_SETFD, FD_CLOEXEC);
        }
        int nError = 0;
        for (int nFd : vecInheritFds) {
            if (fcntl(nFd, F_SETFD, 0) != 0)
                nError = errno;
        }
        if (!nError && !strDir.empty() && chdir(strDir.c_str()) != 0)
            nError = errno;
        if (!nError) {
            if (bSearchPath)
                execvp(strProgram.c_str(), vecArgv.data());
            else
                execv(strProgram.c_str(), vecArgv.data());
            nError = errno;
        }
        ssize_t nDone = write(anPipe[1], &nError, sizeof(nError));
        (void)nDone;
        _exit(127);
    }
    close(anPipe[1]);
    int nChildError = 0;
    ssize_t nRead;
    do {
        nRead = read(anPipe[0], &nChildError, sizeof(nChildError));
    } while (nRead < 0 && errno == EINTR);
    close(anPipe[0]);
    if (nRead == (ssize_t)sizeof(nChildError)) {
        int nStatus;
        while (waitpid(nPid, &nStatus, 0) < 0 && errno == EINTR) {
        }
        errno = nChildError;
        return 0;
    }
    m_nPid = nPid;
    m_bReaped = 0;
    m_nExitCode = 0;
    m_nPidFd = (int)syscall(SYS_pidfd_open, nPid, 0);
    return 1;
}

int Pf_Process::Wait(uint32_t uTimeoutMs, int* pnRetExitCode)
{
    if (m_nPid <= 0)
        return 0;
    uint64_t ullDeadline = Pf_GetMonotonicMs() + uTimeoutMs;
    while (!m_bReaped) {
        int nStatus = 0;
        pid_t nDone = waitpid(m_nPid, &nStatus, WNOHANG);
        if (nDone < 0 && errno == EINTR)
            continue;
        if (nDone < 0)
            return 0;
        if (nDone == m_nPid) {
            m_bReaped = 1;
            m_nExitCode = _ExitCodeOf(nStatus);
            break;
        }
        int nWait = -1;
        if (uTimeoutMs != PF_WAIT_INFINITE) {
            uint64_t ullNow = Pf_GetMonotonicMs();
            if (ullNow >= ullDeadline)
                return 0;
            nWait = (int)(ullDeadline - ullNow);
        }
        if (m_nPidFd >= 0) {
            struct pollfd pfd = {m_nPidFd, POLLIN, 0};
            if (poll(&pfd, 1, nWait) < 0 && errno != EINTR)
                return 0;
        } else {
            Pf_Sleep(nWait < 0 || nWait > 10 ? 10 : (uint32_t)nWait);
        }
    }
    if (pnRetExitCode)
        *pnRetExitCode = m_nExitCode;
    return 1;
}

int Pf_Process::Terminate()
{
    // The child is not collected before Wait or Close, so the id is still its own.
    if (m_nPid <= 0 || m_bReaped)
        return 0;
    return kill(m_nPid, SIGKILL) == 0;
}

void Pf_Process::Close()
{
    if (m_nPid > 0 && !m_bReaped && !Wait(0)) {
        pid_t nPid = m_nPid;
        std::thread([nPid]() {
            int nStatus;
            while (waitpid(nPid, &nStatus, 0) < 0 && errno == EINTR) {
            }
        }).detach();
    }
    if (m_nPidFd >= 0)
        close(m_nPidFd);
    m_nPidFd = -1;
    m_nPid = -1;
    m_bReaped = 0;
}

std::string Pf_EventHandleText(const Pf_Event& event)
{
    char szText[16];
    snprintf(szText, sizeof(szText), "%08X", (unsigned)event.GetFd());
    return szText;
}

int Pf_AttachInheritedEvent(uint64_t ullHandle, int bManualReset, Pf_Event* pEvent)
{
    if (ullHandle < 3 || ullHandle > 0x7FFFFFFF) {
        errno = EBADF;
        return 0;
    }
    int nFd = (int)ullHandle;
    char szLink[64];
    char szTarget[64];
    snprintf(szLink, sizeof(szLink), "/proc/self/fd/%d", nFd);
    ssize_t nLen = readlink(szLink, szTarget, sizeof(szTarget) - 1);
    if (nLen <= 0) {
        errno = EBADF;
        return 0;
    }
    szTarget[nLen] = '\0';
    if (strcmp(szTarget, "anon_inode:[eventfd]") != 0) {
        errno = EBADF;
        return 0;
    }
    if (fcntl(nFd, F_SETFD, FD_CLOEXEC) != 0)
        return 0;
    return pEvent->Attach(nFd, bManualReset);
}

namespace {
// The parent at start-up; a later parent means the first one has ended.
const pid_t s_nParentAtStart = getppid();
} // namespace

int Pf_ParentProcessHasEnded()
{
    return getppid() != s_nParentAtStart;
}
