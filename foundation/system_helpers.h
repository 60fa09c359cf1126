// Small system and file-system helpers shared by the application's parts:
// the current folder, folder creation, the folder of a file, running a
// command and waiting for it, the D3DX9 and local DirectX installer checks,
// a move with retries, and the processor-load sampler.
#pragma once
#include <cstdint>
#include <string>

// The current folder (1 to 259 characters) with "\" appended unless it ends
// in "\" or "/".
int Rv_GetCurrentDir(std::string* pstrRetDir);
// Creates one folder; a folder (not a file) of that name already there is fine.
int Rv_CreateDirOrFindExisting(const std::string& strPath);
// Creates a folder and its missing parents; an existing folder is fine, a file of that name is not.
int Rv_MakeSureDirExisted(const char* cszPath);
// Makes sure the folder of a file path exists.
int Rv_MakeSureDirForFile(const char* cszFileFullName);
// The text before the last "\" or "/" (separator not included); 0 when there is none.
int _GetParentDir(const char* cszPath, std::string* pstrRetParent);
// Moves strFrom over strTo (replacing it) in up to three attempts; before
// each the target is made writable, after a failed one 500 ms pass. On
// failure *pnRetError (when given) holds the last attempt's system error.
int Rv_MoveFileWithRetries(const std::string& strFrom, const std::string& strTo, int* pnRetError);
// Starts the command line (nothing inherited) and waits for it to end; the exit code is not looked at.
int _CreateAndWaitProcess(const char* cszCommandLine);
// Whether "<system folder>\<name>" exists.
int RVU_IsSystemFileExist(const char* cszFileName);
// Whether the four D3DX9 libraries are all in the system folder.
int RVU_IsD3DX9Installed();
// The local DirectX setup: the cabinet must exist two levels up or in place,
// then the setup is looked for two levels up or in place.
int _GetDirectXInstaller(std::string* pstrRetSetupPath);
// A D3DX9 library is missing and no local installer exists.
int RVU_IsDirectXPackageNeeded();

typedef int (*Rv_GetSystemTimesFunction)(uint64_t* pullIdle, uint64_t* pullKernel, uint64_t* pullUser);

// Processor busy percentage since a first sample. The user fills
// m_pfnGetSystemTimes (Pf_GetSystemTimes) and takes the first sample.
struct CpuUsageSampler {
    Rv_GetSystemTimesFunction m_pfnGetSystemTimes = nullptr;
    uint64_t m_ullIdleTime = 0;
    uint64_t m_ullKernelTime = 0;
    uint64_t m_ullUserTime = 0;

    int TakeFirstSample();
    // A whole number from 0 to 100; every call measures from the first sample.
    float Sample();
};
