// Case-insensitive lookup of a name inside one folder, for the path
// conversion. Without an index this is a full listing of the folder, so a
// name that does not exist (every new file) would cost one listing each.
//
// The folders looked into most recently keep an index of their names, kept
// current by inotify: every create, delete and rename in the folder, by this
// process or any other, is queued by the kernel before that call returns, and
// the queue is read before each answer. So an index is never stale, whoever
// changed the folder and however fast. Indexes are keyed by the folder's
// device and inode (a folder replaced by another is a new folder), bounded in
// folders and names, shared by all threads under one lock, and dropped in a
// forked child. File systems whose changes may not all reach inotify
// (network and user-space ones) are listed every time, as are folders that
// cannot be watched.
#pragma once
#include <cstdint>
#include <string>
#include <sys/stat.h>

// Finds the entries of the native folder strDir ("" for the current folder)
// whose names equal strName without case: *pnRetMatches gets 0, 1, or 2 for
// two or more; *pstrRetMatch the spelling of the one match. pDirStat, when
// given, is a stat of strDir just taken. Returns 0 when the folder cannot be
// read.
int Pf_FindNameWithoutCase(const std::string& strDir, const struct stat* pDirStat, const std::string& strName,
                           int* pnRetMatches, std::string* pstrRetMatch);
// strName inside the native folder strDir ("" for the current folder).
std::string Pf_JoinNativeName(const std::string& strDir, const std::string& strName);
// For tests of the index: the folder listings made so far, and whether
// changes are being watched (0 when inotify cannot be had).
void Pf_NameIndexCounters(uint64_t* pullRetListings, int* pbRetWatching);
