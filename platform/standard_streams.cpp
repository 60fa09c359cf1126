// Closed standard descriptors filled with /dev/null.
#include "platform/standard_streams.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

int Pf_OpenClosedStandardDescriptors()
{
    for (int nFd = 0; nFd <= 2; ++nFd) {
        if (fcntl(nFd, F_GETFD) >= 0 || errno != EBADF)
            continue;
        // The lowest free number is the closed one; the others below it are open.
        int nNull = open("/dev/null", nFd == 0 ? O_RDONLY : O_WRONLY);
        if (nNull < 0)
            return 0;
        if (nNull != nFd) {
            int nRet = dup2(nNull, nFd);
            int nError = errno;
            close(nNull);
            if (nRet < 0) {
                errno = nError;
                return 0;
            }
        }
    }
    return 1;
}

namespace {
// Before any other static object of the program opens a descriptor.
__attribute__((constructor(101))) void _OpenAtLoad()
{
    Pf_OpenClosedStandardDescriptors();
}
} // namespace
