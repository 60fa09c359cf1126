// Dynamic libraries over dlopen.
#include "platform/library.h"

#include "platform/file.h"
#include "platform/path.h"

#include <dlfcn.h>

static thread_local std::string s_strLastError;

void* Pf_LoadLibrary(const std::string& strPath)
{
    std::string strNative;
    if (strPath.empty() || !Pf_NativePath(strPath, &strNative)) {
        s_strLastError = "bad library path";
        return nullptr;
    }
    if (strNative[0] != '/') {
        std::string strCurrent;
        if (!Pf_GetCurrentDir(&strCurrent)) {
            s_strLastError = "current folder unknown";
            return nullptr;
        }
        strNative = strCurrent + "/" + strNative;
    }
    void* hLibrary = dlopen(strNative.c_str(), RTLD_NOW | RTLD_LOCAL);
    const char* cszError = hLibrary ? nullptr : dlerror();
    s_strLastError = cszError ? cszError : "";
    return hLibrary;
}

void* Pf_GetProcAddress(void* hLibrary, const char* cszName)
{
    if (!hLibrary || !cszName)
        return nullptr;
    return dlsym(hLibrary, cszName);
}

int Pf_FreeLibrary(void* hLibrary)
{
    if (!hLibrary)
        return 0;
    return dlclose(hLibrary) == 0;
}

std::string Pf_LibraryError()
{
    return s_strLastError;
}
