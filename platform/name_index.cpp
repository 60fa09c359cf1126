// Per-folder indexes of names without case, kept current by inotify.
#include "platform/name_index.h"

#include "platform/path.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <map>
#include <memory>
#include <mutex>
#include <pthread.h>
#include <strings.h>
#include <sys/inotify.h>
#include <sys/vfs.h>
#include <unistd.h>
#include <unordered_map>
#include <utility>

namespace {

// At most this many folders keep an index, holding at most this many names
// in all; a larger folder is listed each time.
const size_t s_uMaxFolders = 64;
const size_t s_uMaxNames = 1 << 17;
// A name renamed away is kept, marked, until a lookup checks it (an exchange
// of two names reports both as renamed away). Past this many marked names,
// or half the folder, the index is dropped and built again on demand.
const size_t s_uMinUnsureLimit = 1024;

const uint32_t s_uWatchMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_ONLYDIR;

struct _CaseHash {
    size_t operator()(const std::string& str) const { return (size_t)Pf_StrCaseHash(str); }
};

struct _CaseEqual {
    bool operator()(const std::string& strA, const std::string& strB) const { return Pf_StrCaseEqual(strA, strB); }
};

// Spelling -> renamed away, not yet checked.
typedef std::unordered_multimap<std::string, bool, _CaseHash, _CaseEqual> _NameMap;

struct _FolderIndex {
    std::pair<dev_t, ino_t> Key;
    int nWatch;
    uint64_t ullLastUse;
    size_t uUnsure;
    _NameMap mapNames;
};

struct _State {
    std::mutex mutex;
    int nInotify = -1;
    bool bInotifyFailed = false;
    bool bForgetAfterFork = false;  // a forked child drops the parent's indexes at its first lookup
    uint64_t ullClock = 0;
    size_t uNames = 0;  // in all indexes
    std::map<std::pair<dev_t, ino_t>, std::unique_ptr<_FolderIndex>> mapFolders;
    std::unordered_map<int, _FolderIndex*> mapWatches;
    alignas(struct inotify_event) char acEvents[64 * 1024];
};

_State* s_pState = nullptr;
std::atomic<uint64_t> s_ullListings{0};

// Across fork the lock is taken, so that the child never inherits it held;
// the child drops everything, since it shares the parent's inotify queue.
// The handler in the child only closes the queue: memory may not be freed
// there (the allocator's locks may still be held until fork returns), so the
// indexes are dropped at the child's first lookup.
void _LockForFork()
{
    s_pState->mutex.lock();
}

void _UnlockInParent()
{
    s_pState->mutex.unlock();
}

void _ForgetAll(_State* pState)
{
    if (pState->nInotify >= 0)
        close(pState->nInotify);
    pState->nInotify = -1;
    pState->mapWatches.clear();
    pState->mapFolders.clear();
    pState->uNames = 0;
}

void _ResetInChild()
{
    if (s_pState->nInotify >= 0)
        close(s_pState->nInotify);
    s_pState->nInotify = -1;
    s_pState->bInotifyFailed = false;
    s_pState->bForgetAfterFork = true;
    s_pState->mutex.unlock();
}

_State* _GetState()
{
    static std::once_flag s_Once;
    std::call_once(s_Once, [] {
        // Never destroyed: lookups may run on threads that outlive static destruction.
        s_pState = new _State;
        pthread_atfork(_LockForFork, _UnlockInParent, _ResetInChild);
    });
    return s_pState;
}

// File systems on which every change of a folder reaches inotify.
bool _NotifiesEveryChange(long lType)
{
    switch ((unsigned long)lType) {
    case EXT4_SUPER_MAGIC:
    case XFS_SUPER_MAGIC:
    case BTRFS_SUPER_MAGIC:
    case F2FS_SUPER_MAGIC:
    case TMPFS_MAGIC:
    case RAMFS_MAGIC:
        return true;
    default:
        return false;
    }
}

void _DropFolder(_State* pState, _FolderIndex* pIndex, bool bRemoveWatch)
{
    if (bRemoveWatch)
        inotify_rm_watch(pState->nInotify, pIndex->nWatch);
    pState->uNames -= pIndex->mapNames.size();
    pState->mapWatches.erase(pIndex->nWatch);
    pState->mapFolders.erase(pIndex->Key);
}

_NameMap::iterator _FindExact(_FolderIndex* pIndex, const std::string& strName)
{
    auto range = pIndex->mapNames.equal_range(strName);
    for (auto it = range.first; it != range.second; ++it) {
        if (it->first == strName)
            return it;
    }
    return pIndex->mapNames.end();
}

void _Insert(_State* pState, _FolderIndex* pIndex, const std::string& strName)
{
    auto it = _FindExact(pIndex, strName);
    if (it == pIndex->mapNames.end()) {
        pIndex->mapNames.emplace(strName, false);
        ++pState->uNames;
    } else if (it->second) {
        it->second = false;
        --pIndex->uUnsure;
    }
}

void _Erase(_State* pState, _FolderIndex* pIndex, _NameMap::iterator it)
{
    if (it->second)
        --pIndex->uUnsure;
    pIndex->mapNames.erase(it);
    --pState->uNames;
}

// Applies one event; false when the queue overflowed and everything was dropped.
bool _ApplyEvent(_State* pState, const struct inotify_event* pEvent)
{
    if (pEvent->mask & IN_Q_OVERFLOW) {
        _ForgetAll(pState);
        return false;
    }
    auto itWatch = pState->mapWatches.find(pEvent->wd);
    if (itWatch == pState->mapWatches.end())
        return true;
    _FolderIndex* pIndex = itWatch->second;
    if (pEvent->mask & (IN_IGNORED | IN_DELETE_SELF | IN_UNMOUNT)) {
        _DropFolder(pState, pIndex, false);
        return true;
    }
    if (pEvent->len == 0)
        return true;
    std::string strName = pEvent->name;
    if (pEvent->mask & (IN_CREATE | IN_MOVED_TO)) {
        _Insert(pState, pIndex, strName);
    } else if (pEvent->mask & IN_DELETE) {
        auto it = _FindExact(pIndex, strName);
        if (it != pIndex->mapNames.end())
            _Erase(pState, pIndex, it);
    } else if (pEvent->mask & IN_MOVED_FROM) {
        auto it = _FindExact(pIndex, strName);
        if (it != pIndex->mapNames.end() && !it->second) {
            it->second = true;
            ++pIndex->uUnsure;
        }
    }
    size_t uSize = pIndex->mapNames.size();
    if (uSize > s_uMaxNames || (pIndex->uUnsure > s_uMinUnsureLimit && pIndex->uUnsure > uSize / 2))
        _DropFolder(pState, pIndex, true);
    return true;
}

// Reads every event queued so far.
void _ReadEvents(_State* pState)
{
    const size_t uBuffer = sizeof(pState->acEvents);
    while (pState->nInotify >= 0) {
        ssize_t nRead = read(pState->nInotify, pState->acEvents, uBuffer);
        if (nRead < 0 && errno == EINTR)
            continue;
        if (nRead < 0) {
            if (errno != EAGAIN)
                _ForgetAll(pState);
            return;
        }
        for (ssize_t nOffset = 0; nOffset < nRead;) {
            const struct inotify_event* pEvent = (const struct inotify_event*)(pState->acEvents + nOffset);
            if (!_ApplyEvent(pState, pEvent))
                return;
            nOffset += (ssize_t)(sizeof(struct inotify_event) + pEvent->len);
        }
        // Room was left for one more event of any size: the queue is empty.
        if ((size_t)nRead + sizeof(struct inotify_event) + NAME_MAX + 1 <= uBuffer)
            return;
    }
}

// Drops the least recently used indexes beyond the bounds, pKeep last.
void _Trim(_State* pState, _FolderIndex* pKeep)
{
    while (pState->mapFolders.size() > s_uMaxFolders || pState->uNames > s_uMaxNames) {
        _FolderIndex* pOldest = nullptr;
        for (auto& item : pState->mapFolders) {
            _FolderIndex* p = item.second.get();
            if (p != pKeep && (!pOldest || p->ullLastUse < pOldest->ullLastUse))
                pOldest = p;
        }
        if (!pOldest)
            pOldest = pKeep;
        if (!pOldest)
            return;
        _DropFolder(pState, pOldest, true);
        if (pOldest == pKeep)
            pKeep = nullptr;
    }
}

void _Answer(int nMatches, const std::string& strMatch, int* pnRetMatches, std::string* pstrRetMatch)
{
    *pnRetMatches = nMatches > 2 ? 2 : nMatches;
    *pstrRetMatch = nMatches == 1 ? strMatch : std::string();
}

// Answers from an index; names renamed away are checked first.
void _AnswerFromIndex(_State* pState, _FolderIndex* pIndex, const std::string& strDir, const std::string& strName,
                      int* pnRetMatches, std::string* pstrRetMatch)
{
    int nMatches = 0;
    std::string strMatch;
    auto range = pIndex->mapNames.equal_range(strName);
    for (auto it = range.first; it != range.second;) {
        if (it->second) {
            struct stat st;
            if (lstat(Pf_JoinNativeName(strDir, it->first).c_str(), &st) != 0 && errno == ENOENT) {
                auto itErase = it++;
                _Erase(pState, pIndex, itErase);
                continue;
            }
            it->second = false;
            --pIndex->uUnsure;
        }
        ++nMatches;
        strMatch = it->first;
        ++it;
    }
    _Answer(nMatches, strMatch, pnRetMatches, pstrRetMatch);
}

// Lists the folder and answers from the listing; with pState, also watches
// the folder and keeps its names as a new index where that can be done.
int _ListFolder(_State* pState, const std::string& strDir, const std::string& strName, int* pnRetMatches,
                std::string* pstrRetMatch)
{
    int nFd = open(strDir.empty() ? "." : strDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (nFd < 0)
        return 0;
    std::unique_ptr<_FolderIndex> pIndex;
    struct stat st;
    struct statfs sfs;
    if (pState && fstat(nFd, &st) == 0 && fstatfs(nFd, &sfs) == 0 && _NotifiesEveryChange((long)sfs.f_type)) {
        // Watched through the descriptor, so that the watch is on the folder listed.
        char szLink[64];
        snprintf(szLink, sizeof(szLink), "/proc/self/fd/%d", nFd);
        int nWatch = inotify_add_watch(pState->nInotify, szLink, s_uWatchMask);
        if (nWatch >= 0) {
            pIndex.reset(new _FolderIndex);
            pIndex->Key = std::make_pair(st.st_dev, st.st_ino);
            pIndex->nWatch = nWatch;
            pIndex->ullLastUse = ++pState->ullClock;
            pIndex->uUnsure = 0;
        }
    }
    DIR* pDir = fdopendir(nFd);
    s_ullListings.fetch_add(1, std::memory_order_relaxed);
    if (!pDir) {
        close(nFd);
        if (pIndex)
            inotify_rm_watch(pState->nInotify, pIndex->nWatch);
        return 0;
    }
    int nMatches = 0;
    std::string strMatch;
    bool bComplete = true;
    for (;;) {
        errno = 0;
        struct dirent* pEntry = readdir(pDir);
        if (!pEntry) {
            bComplete = errno == 0;
            break;
        }
        if (strcasecmp(pEntry->d_name, strName.c_str()) == 0) {
            strMatch = pEntry->d_name;
            ++nMatches;
        }
        if (!pIndex || !strcmp(pEntry->d_name, ".") || !strcmp(pEntry->d_name, ".."))
            continue;
        if (pIndex->mapNames.size() >= s_uMaxNames) {
            inotify_rm_watch(pState->nInotify, pIndex->nWatch);
            pIndex.reset();
            continue;
        }
        pIndex->mapNames.emplace(pEntry->d_name, false);
    }
    closedir(pDir);
    if (pIndex && !bComplete) {
        inotify_rm_watch(pState->nInotify, pIndex->nWatch);
        pIndex.reset();
    }
    if (pIndex) {
        // A watch already known for this folder belonged to an index under another key.
        auto itOld = pState->mapWatches.find(pIndex->nWatch);
        if (itOld != pState->mapWatches.end())
            _DropFolder(pState, itOld->second, false);
        _FolderIndex* pNew = pIndex.get();
        pState->uNames += pNew->mapNames.size();
        pState->mapWatches[pNew->nWatch] = pNew;
        pState->mapFolders[pNew->Key] = std::move(pIndex);
        _Trim(pState, pNew);
    }
    _Answer(nMatches, strMatch, pnRetMatches, pstrRetMatch);
    return 1;
}

} // namespace

std::string Pf_JoinNativeName(const std::string& strDir, const std::string& strName)
{
    if (strDir.empty())
        return strName;
    if (strDir == "/")
        return "/" + strName;
    return strDir + "/" + strName;
}

int Pf_FindNameWithoutCase(const std::string& strDir, const struct stat* pDirStat, const std::string& strName,
                           int* pnRetMatches, std::string* pstrRetMatch)
{
    struct stat stDir;
    if (pDirStat)
        stDir = *pDirStat;
    else if (stat(strDir.empty() ? "." : strDir.c_str(), &stDir) != 0)
        return _ListFolder(nullptr, strDir, strName, pnRetMatches, pstrRetMatch);

    _State* pState = _GetState();
    std::unique_lock<std::mutex> lock(pState->mutex);
    if (pState->bForgetAfterFork) {
        _ForgetAll(pState);
        pState->bForgetAfterFork = false;
    }
    if (pState->nInotify < 0 && !pState->bInotifyFailed) {
        pState->nInotify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        pState->bInotifyFailed = pState->nInotify < 0;
    }
    if (pState->nInotify < 0) {
        lock.unlock();
        return _ListFolder(nullptr, strDir, strName, pnRetMatches, pstrRetMatch);
    }
    _ReadEvents(pState);
    _Trim(pState, nullptr);
    auto it = pState->mapFolders.find(std::make_pair(stDir.st_dev, stDir.st_ino));
    if (it == pState->mapFolders.end() || pState->nInotify < 0)
        return _ListFolder(pState->nInotify < 0 ? nullptr : pState, strDir, strName, pnRetMatches, pstrRetMatch);
    it->second->ullLastUse = ++pState->ullClock;
    _AnswerFromIndex(pState, it->second.get(), strDir, strName, pnRetMatches, pstrRetMatch);
    return 1;
}

void Pf_NameIndexCounters(uint64_t* pullRetListings, int* pbRetWatching)
{
    _State* pState = _GetState();
    std::lock_guard<std::mutex> lock(pState->mutex);
    *pullRetListings = s_ullListings.load(std::memory_order_relaxed);
    *pbRetWatching = pState->nInotify >= 0;
}
