// Permission bits of files through chmod(2).
#include "platform/file_mode.h"
#include "platform/path.h"

#include <cerrno>
#include <sys/stat.h>

int Pf_SetExecutable(const std::string& strPath)
{
    std::string strNative;
    struct stat st;
    if (!Pf_NativePath(strPath, &strNative))
        return 0;
    if (stat(strNative.c_str(), &st) != 0)
        return 0;
    mode_t uMode = st.st_mode & 07777;
    if (uMode & S_IRUSR)
        uMode |= S_IXUSR;
    if (uMode & S_IRGRP)
        uMode |= S_IXGRP;
    if (uMode & S_IROTH)
        uMode |= S_IXOTH;
    return chmod(strNative.c_str(), uMode) == 0;
}
