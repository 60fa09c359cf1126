// Named events over lock files (flock) and FIFOs.
#include "platform/named_event.h"

#include "platform/clock.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Names may hold "\" and other characters that a file name should not.
std::string _EscapeName(const std::string& strName)
{
    std::string strRet;
    for (unsigned char c : strName) {
        bool bPlain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
                      c == '{' || c == '}' || c == '.';
        if (bPlain && !(c == '.' && strRet.empty())) {
            strRet += (char)c;
        } else {
            char szHex[4];
            snprintf(szHex, sizeof(szHex), "%%%02X", c);
            strRet += szHex;
        }
    }
    return strRet;
}

// The user's folder of events, made when missing and checked to be ours.
int _EventFolder(std::string* pstrRetFolder)
{
    const char* cszRuntime = getenv("XDG_RUNTIME_DIR");
    std::string strFolder;
    if (cszRuntime && cszRuntime[0] == '/')
        strFolder = std::string(cszRuntime) + "/refitter-events";
    else
        strFolder = "/tmp/refitter-events-" + std::to_string((unsigned)getuid());
    if (mkdir(strFolder.c_str(), 0700) != 0 && errno != EEXIST)
        return 0;
    struct stat st;
    if (lstat(strFolder.c_str(), &st) != 0)
        return 0;
    if (!S_ISDIR(st.st_mode) || st.st_uid != getuid()) {
        errno = EACCES;
        return 0;
    }
    *pstrRetFolder = strFolder;
    return 1;
}

// Holds an exclusive lock for the time of one create or open, so that the
// test "does anyone hold it?" and taking the shared lock are one step.
class _GuardLock {
public:
    explicit _GuardLock(const std::string& strPath)
    {
        m_nFd = open(strPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (m_nFd >= 0) {
            while (flock(m_nFd, LOCK_EX) != 0 && errno == EINTR) {
            }
        }
    }
    ~_GuardLock()
    {
        if (m_nFd >= 0)
            close(m_nFd);
    }
    int IsHeld() const { return m_nFd >= 0; }

private:
    int m_nFd = -1;
};

int _Flock(int nFd, int nOperation)
{
    for (;;) {
        if (flock(nFd, nOperation) == 0)
            return 1;
        if (errno != EINTR)
            return 0;
    }
}

} // namespace

int Pf_NamedEventPath(const std::string& strName, std::string* pstrRetPath)
{
    return Pf_UserRuntimePath(strName, pstrRetPath);
}

int Pf_UserRuntimePath(const std::string& strName, std::string* pstrRetPath)
{
    if (strName.empty()) {
        errno = EINVAL;
        return 0;
    }
    const char* cszPrefix = getenv("RV_EVENT_PREFIX");
    std::string strPrefix = cszPrefix ? cszPrefix : "";
    if (!strPrefix.empty() && strPrefix[0] == '/') {
        *pstrRetPath = strPrefix + _EscapeName(strName);
        return 1;
    }
    std::string strFolder;
    if (!_EventFolder(&strFolder))
        return 0;
    *pstrRetPath = strFolder + "/" + _EscapeName(strPrefix + strName);
    return 1;
}

Pf_NamedEvent::~Pf_NamedEvent()
{
    Close();
}

int Pf_NamedEvent::Create(const std::string& strName, int* pbRetExisted)
{
    return _Take(strName, 1, pbRetExisted);
}

int Pf_NamedEvent::Open(const std::string& strName)
{
    return _Take(strName, 0, nullptr);
}

int Pf_NamedEvent::_Take(const std::string& strName, int bCreate, int* pbRetExisted)
{
    if (m_nLockFd >= 0) {
        errno = EBUSY;
        return 0;
    }
    std::string strBase;
    if (!Pf_NamedEventPath(strName, &strBase))
        return 0;
    std::string strLock = strBase + ".lock";
    std::string strFifo = strBase + ".fifo";
    size_t uSlash = strBase.find_last_of('/');
    _GuardLock guard(strBase.substr(0, uSlash + 1) + ".guard");
    if (!guard.IsHeld())
        return 0;

    int nLockFd = open(strLock.c_str(), O_RDWR | O_CLOEXEC | (bCreate ? O_CREAT : 0), 0600);
    if (nLockFd < 0)
        return 0;
    int bExisted = 0;
    if (_Flock(nLockFd, LOCK_EX | LOCK_NB)) {
        // Nobody holds it: the event does not exist.
        if (!bCreate) {
            close(nLockFd);
            errno = ENOENT;
            return 0;
        }
    } else if (errno == EWOULDBLOCK) {
        bExisted = 1;
    } else {
        int nError = errno;
        close(nLockFd);
        errno = nError;
        return 0;
    }
    // Under the guard nobody else changes locks, so the conversion is safe.
    if (!_Flock(nLockFd, LOCK_SH)) {
        int nError = errno;
        close(nLockFd);
        errno = nError;
        return 0;
    }
    if (mkfifo(strFifo.c_str(), 0600) != 0 && errno != EEXIST) {
        int nError = errno;
        close(nLockFd);
        errno = nError;
        return 0;
    }
    int nFifoFd = open(strFifo.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    struct stat st;
    if (nFifoFd < 0 || fstat(nFifoFd, &st) != 0 || !S_ISFIFO(st.st_mode)) {
        int nError = nFifoFd < 0 ? errno : EINVAL;
        if (nFifoFd >= 0)
            close(nFifoFd);
        close(nLockFd);
        errno = nError;
        return 0;
    }
    m_nLockFd = nLockFd;
    m_nFifoFd = nFifoFd;
    if (pbRetExisted)
        *pbRetExisted = bExisted;
    return 1;
}

int Pf_NamedEvent::Set()
{
    if (m_nFifoFd < 0)
        return 0;
    char c = 1;
    for (;;) {
        if (write(m_nFifoFd, &c, 1) == 1)
            return 1;
        if (errno == EINTR)
            continue;
        // A full pipe is signalled already.
        return errno == EAGAIN;
    }
}

int Pf_NamedEvent::Wait(uint32_t uTimeoutMs)
{
    if (m_nFifoFd < 0)
        return 0;
    uint64_t ullDeadline = Pf_GetMonotonicMs() + uTimeoutMs;
    for (;;) {
        // Several signals before a wait count as one, as for any auto-reset event.
        int bTaken = 0;
        char szBuf[256];
        for (;;) {
            ssize_t nRead = read(m_nFifoFd, szBuf, sizeof(szBuf));
            if (nRead > 0) {
                bTaken = 1;
                continue;
            }
            if (nRead < 0 && errno == EINTR)
                continue;
            break;
        }
        if (bTaken)
            return 1;
        int nWait = -1;
        if (uTimeoutMs != 0xFFFFFFFFu) {
            uint64_t ullNow = Pf_GetMonotonicMs();
            if (ullNow >= ullDeadline)
                return 0;
            nWait = (int)(ullDeadline - ullNow);
        }
        struct pollfd pfd = {m_nFifoFd, POLLIN, 0};
        if (poll(&pfd, 1, nWait) < 0 && errno != EINTR)
            return 0;
    }
}

void Pf_NamedEvent::Close()
{
    if (m_nFifoFd >= 0)
        close(m_nFifoFd);
    if (m_nLockFd >= 0)
        close(m_nLockFd);
    m_nFifoFd = -1;
    m_nLockFd = -1;
}
