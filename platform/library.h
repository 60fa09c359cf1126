// Dynamic libraries: load a library file, find an exported function, unload.
#pragma once
#include <string>

// Loads the library at strPath (a relative path counts from the current
// folder, never from a search path). Returns null when it cannot be loaded;
// Pf_LibraryError tells why.
void* Pf_LoadLibrary(const std::string& strPath);
// The address of an exported symbol, or null.
void* Pf_GetProcAddress(void* hLibrary, const char* cszName);
int Pf_FreeLibrary(void* hLibrary);
// The loader's text for the last failure of this thread ("" when none).
std::string Pf_LibraryError();
