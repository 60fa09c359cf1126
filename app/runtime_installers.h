// The runtimes the game client and this updater need: the Flash control and
// the D3DX9 libraries. Each is checked, and when missing its installer from
// the client's "3rdParty" folder is run and waited for; the user is told by
// a message box when the install did not help.
#pragma once
#include <string>

enum : unsigned long long {
    // Free bytes the system drive needs beyond this for a DirectX install.
    RVU_DIRECTX_MIN_FREE_BYTES = 117440511ull,
};
enum { RVU_FLASH_MIN_MAJOR_VERSION = 9 };

// The Flash control can be created and is version 9 or later; else its
// installer is run. Fails (after a message box) when it is still missing.
int RVU_MakeSureFlashInstalled();
// When a D3DX9 library is missing, installs DirectX and tells the user how
// it went. Succeeds silently when all four are there.
int RVU_CheckGameEnvironment();

// The steps, for tests.
int _CheckFlashAvailable();
int _GetFlashInstaller(std::string* pstrRetPath);
int _InstallFlash();
int _InstallDirectX();
