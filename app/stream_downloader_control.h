// Control of the streaming downloader tool that sits beside the updater: it
// must not run while files are patched, so it is asked to quit (and ended
// when it does not) before an update and started in background mode after.
#pragma once
#include <string>

// The folder of the running executable, with its final separator.
int GetApplicationPath(std::string* pstrRetPath);
// True when a running process's image path begins with the given full path
// (without case); false when none does, the name is empty or the process
// list cannot be read.
bool CheckProcessExist(const char* cpszProcessName);
// Ends every process that matches as CheckProcessExist does, waiting a
// bounded time for each one that was ended. True when the list was read and
// no match remains.
bool KillProcess(const char* cpszProcessName);
// Stops the tool of that full path: nothing to do when it does not run;
// else it is asked to quit ("-q") and ended when it is still running half
// a second later. Fails when its file is missing or it keeps running.
int StopVBunDownloader(const std::string& strPath);

// Both builds of the tool in the folder strAppPath (with its final
// separator), the release build first; the first failure fails.
int StopVBunDownloadersIn(const std::string& strAppPath);
// Starts the release build of the tool in the folder strAppPath in
// background mode ("-b") when its file is there; no file is no work.
int LaunchVBunDownloaderIn(const std::string& strAppPath);

// The same, for the tool in the application's folder.
int Rv_StopVBunDownloader();
int Rv_LaunchVBunDownloader();
