// The terminal's modes: the one kept, the key mode, prompts and signals.
#include "platform/terminal_mode.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <termios.h>
#include <unistd.h>

namespace {

// The longest answer kept; the rest of a longer line is read and dropped.
const size_t s_uLineLimit = 1024;

// Written once before the handlers are installed, read by them.
struct termios s_Kept;
volatile sig_atomic_t s_bKept = 0;
std::atomic<int> s_bKeyMode{0};
std::atomic<uint32_t> s_uPrompts{0};
// Held by a prompt while it is open, and by the front end while it reads
// keys or draws.
std::mutex s_TerminalLock;
std::mutex s_ModeLock;

void _PutKeptMode()
{
    if (s_bKept)
        tcsetattr(STDIN_FILENO, TCSANOW, &s_Kept);
}

int _PutKeyMode()
{
    struct termios keys = s_Kept;
    keys.c_lflag &= ~(tcflag_t)(ICANON | ECHO);
    keys.c_cc[VMIN] = 0;
    keys.c_cc[VTIME] = 0;
    return tcsetattr(STDIN_FILENO, TCSANOW, &keys) == 0;
}

// The kept mode goes back, then the signal ends the process as it would have.
void _OnSignal(int nSignal)
{
    int nSavedErrno = errno;
    _PutKeptMode();
    errno = nSavedErrno;
    raise(nSignal);
}

void _OnExit()
{
    Pf_TerminalLeaveKeyMode();
}

void _InstallHandlers()
{
    for (int nSignal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction old;
        // An ignored signal stays ignored, and another handler stays in place.
        if (sigaction(nSignal, nullptr, &old) != 0 || (old.sa_flags & SA_SIGINFO) || old.sa_handler != SIG_DFL)
            continue;
        struct sigaction action;
        memset(&action, 0, sizeof(action));
        action.sa_handler = _OnSignal;
        sigemptyset(&action.sa_mask);
        // The default comes back on entry, so the raise in the handler ends the process.
        action.sa_flags = SA_RESETHAND;
        sigaction(nSignal, &action, nullptr);
    }
}

} // namespace

int Pf_IsTerminal()
{
    return isatty(STDIN_FILENO) && isatty(STDOUT_FILENO);
}

int Pf_TerminalEnterKeyMode()
{
    std::lock_guard<std::mutex> guard(s_ModeLock);
    if (s_bKeyMode)
        return 1;
    if (!s_bKept) {
        struct termios mode;
        if (tcgetattr(STDIN_FILENO, &mode) != 0)
            return 0;
        s_Kept = mode;
        s_bKept = 1;
        _InstallHandlers();
        atexit(_OnExit);
    }
    if (!_PutKeyMode())
        return 0;
    s_bKeyMode = 1;
    return 1;
}

void Pf_TerminalLeaveKeyMode()
{
    std::lock_guard<std::mutex> guard(s_ModeLock);
    if (!s_bKeyMode)
        return;
    _PutKeptMode();
    s_bKeyMode = 0;
}

int Pf_TerminalTryTake()
{
    return s_TerminalLock.try_lock();
}

void Pf_TerminalGive()
{
    s_TerminalLock.unlock();
}

uint32_t Pf_TerminalPromptCount()
{
    return s_uPrompts.load();
}

Pf_TerminalPrompt::Pf_TerminalPrompt()
{
    s_TerminalLock.lock();
    std::lock_guard<std::mutex> guard(s_ModeLock);
    struct termios mode;
    if (!m_Before.Save() || tcgetattr(STDIN_FILENO, &mode) != 0)
        return;
    // Lines with echo, as the person had them; blocking.
    if (s_bKept)
        mode = s_Kept;
    mode.c_lflag |= ICANON | ECHO;
    mode.c_cc[VMIN] = 1;
    mode.c_cc[VTIME] = 0;
    m_bSet = tcsetattr(STDIN_FILENO, TCSANOW, &mode) == 0;
}

Pf_TerminalPrompt::~Pf_TerminalPrompt()
{
    {
        std::lock_guard<std::mutex> guard(s_ModeLock);
        if (m_bSet)
            m_Before.Restore();
    }
    ++s_uPrompts;
    s_TerminalLock.unlock();
}

int Pf_TerminalPrompt::ReadLine(std::string* pstrRetLine)
{
    std::string strLine;
    for (;;) {
        char c = 0;
        ssize_t nRead = read(STDIN_FILENO, &c, 1);
        if (nRead < 0 && errno == EINTR)
            continue;
        if (nRead <= 0) {
            if (strLine.empty())
                return 0;
            break;
        }
        if (c == '\n')
            break;
        if (strLine.size() < s_uLineLimit)
            strLine += c;
    }
    *pstrRetLine = strLine;
    return 1;
}

int Pf_SavedTerminalMode::Save()
{
    struct termios mode;
    if (tcgetattr(STDIN_FILENO, &mode) != 0)
        return 0;
    m_strMode.assign((const char*)&mode, sizeof(mode));
    return 1;
}

int Pf_SavedTerminalMode::Restore() const
{
    struct termios mode;
    if (m_strMode.size() != sizeof(mode))
        return 0;
    memcpy(&mode, m_strMode.data(), sizeof(mode));
    return tcsetattr(STDIN_FILENO, TCSANOW, &mode) == 0;
}
