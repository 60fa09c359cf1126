// Threads over pthreads; events over eventfd and poll.
#include "platform/thread.h"
#include "platform/clock.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <unistd.h>

struct _ThreadStart {
    Pf_ThreadFunction pfnFunction;
    void* pvArg;
};

static void* _ThreadEntry(void* pvStart)
{
    _ThreadStart start = *(_ThreadStart*)pvStart;
    delete (_ThreadStart*)pvStart;
    start.pfnFunction(start.pvArg);
    return nullptr;
}

Pf_Thread::~Pf_Thread()
{
    Join();
}

int Pf_Thread::Start(Pf_ThreadFunction pfnFunction, void* pvArg)
{
    if (m_bHeld || !pfnFunction)
        return 0;
    _ThreadStart* pStart = new _ThreadStart{pfnFunction, pvArg};
    int nError = pthread_create(&m_Thread, nullptr, _ThreadEntry, pStart);
    if (nError != 0) {
        delete pStart;
        errno = nError;
        return 0;
    }
    m_bHeld = 1;
    return 1;
}

int Pf_Thread::Join()
{
    if (!m_bHeld)
        return 0;
    pthread_join(m_Thread, nullptr);
    m_bHeld = 0;
    return 1;
}

uint32_t Pf_GetCurrentThreadId()
{
    return (uint32_t)syscall(SYS_gettid);
}

Pf_Mutex::Pf_Mutex()
{
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(&m_Mutex, &attr);
    pthread_mutexattr_destroy(&attr);
}

Pf_Mutex::~Pf_Mutex()
{
    pthread_mutex_destroy(&m_Mutex);
}

void Pf_Mutex::Lock()
{
    pthread_mutex_lock(&m_Mutex);
}

void Pf_Mutex::Unlock()
{
    pthread_mutex_unlock(&m_Mutex);
}

Pf_Event::~Pf_Event()
{
    Close();
}

int Pf_Event::Init(int bManualReset, int bInitialState, int bInheritable)
{
    Close();
    int nFd = eventfd(bInitialState ? 1 : 0, EFD_NONBLOCK | (bInheritable ? 0 : EFD_CLOEXEC));
    if (nFd < 0)
        return 0;
    m_nFd = nFd;
    m_bManualReset = bManualReset;
    return 1;
}

int Pf_Event::Attach(int nFd, int bManualReset)
{
    Close();
    int nFlags = fcntl(nFd, F_GETFL);
    if (nFlags < 0 || fcntl(nFd, F_SETFL, nFlags | O_NONBLOCK) < 0)
        return 0;
    m_nFd = nFd;
    m_bManualReset = bManualReset;
    return 1;
}

void Pf_Event::Close()
{
    if (m_nFd >= 0)
        close(m_nFd);
    m_nFd = -1;
}

int Pf_Event::Set()
{
    if (m_nFd < 0)
        return 0;
    uint64_t ullOne = 1;
    for (;;) {
        ssize_t nDone = write(m_nFd, &ullOne, sizeof(ullOne));
        if (nDone == (ssize_t)sizeof(ullOne))
            return 1;
        if (nDone < 0 && errno == EINTR)
            continue;
        return 0;
    }
}

int Pf_Event::Reset()
{
    if (m_nFd < 0)
        return 0;
    uint64_t ullValue;
    while (read(m_nFd, &ullValue, sizeof(ullValue)) < 0 && errno == EINTR) {
    }
    return 1;
}

// Consumes the signal of an auto-reset event; 0 when another waiter took it.
static int _TakeSignal(int nFd)
{
    uint64_t ullValue;
    for (;;) {
        if (read(nFd, &ullValue, sizeof(ullValue)) == (ssize_t)sizeof(ullValue))
            return 1;
        if (errno == EINTR)
            continue;
        return 0;
    }
}

int Pf_WaitForAny(Pf_Event* const* ppEvents, int nCount, uint32_t uTimeoutMs, int* pnRetIndex)
{
    if (nCount <= 0 || nCount > 64)
        return 0;
    struct pollfd aPoll[64];
    for (int i = 0; i < nCount; ++i) {
        if (!ppEvents[i] || ppEvents[i]->GetFd() < 0)
            return 0;
        aPoll[i].fd = ppEvents[i]->GetFd();
        aPoll[i].events = POLLIN;
        aPoll[i].revents = 0;
    }
    uint64_t ullDeadline = Pf_GetMonotonicMs() + uTimeoutMs;
    for (;;) {
        int nWait = -1;
        if (uTimeoutMs != PF_WAIT_INFINITE) {
            uint64_t ullNow = Pf_GetMonotonicMs();
            nWait = ullNow >= ullDeadline ? 0 : (int)(ullDeadline - ullNow);
        }
        int nReady = poll(aPoll, (nfds_t)nCount, nWait);
        if (nReady < 0 && errno == EINTR)
            continue;
        if (nReady < 0)
            return 0;
        for (int i = 0; i < nCount; ++i) {
            if (!(aPoll[i].revents & (POLLIN | POLLERR | POLLHUP)))
                continue;
            if (ppEvents[i]->IsManualReset() || _TakeSignal(aPoll[i].fd)) {
                if (pnRetIndex)
                    *pnRetIndex = i;
                return 1;
            }
        }
        if (nReady == 0)
            return 0;
    }
}

int Pf_Event::Wait(uint32_t uTimeoutMs)
{
    Pf_Event* pThis = this;
    return Pf_WaitForAny(&pThis, 1, uTimeoutMs, nullptr);
}
