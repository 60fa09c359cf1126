// The length of an open stdio stream's file, over fstat and ftruncate.
#include "platform/stream_length.h"

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

int Pf_TruncateStream(FILE* pFile, uint64_t ullLength)
{
    if (!pFile || ullLength > (uint64_t)INT64_MAX) {
        errno = EINVAL;
        return 0;
    }
    if (fflush(pFile) != 0)
        return 0;
    for (;;) {
        if (ftruncate(fileno(pFile), (off_t)ullLength) == 0)
            return 1;
        if (errno != EINTR)
            return 0;
    }
}

int Pf_GetStreamLength(FILE* pFile, uint64_t* pullRetLength)
{
    struct stat st;
    if (!pFile || !pullRetLength) {
        errno = EINVAL;
        return 0;
    }
    if (fflush(pFile) != 0)
        return 0;
    if (fstat(fileno(pFile), &st) != 0)
        return 0;
    *pullRetLength = (uint64_t)st.st_size;
    return 1;
}
