// Flushing, syncing and closing written stdio streams.
#include "platform/stream.h"

#include <cerrno>
#include <unistd.h>

int Pf_SyncStream(FILE* fp)
{
    if (!fp)
        return 0;
    if (fflush(fp) != 0)
        return 0;
    int nFd = fileno(fp);
    if (nFd < 0)
        return 0;
    while (fsync(nFd) != 0) {
        if (errno != EINTR)
            return 0;
    }
    return 1;
}

int Pf_CloseWrittenStream(FILE* fp, int bSync)
{
    if (!fp)
        return 0;
    int bOk = 1;
    if (fflush(fp) != 0)
        bOk = 0;
    if (bOk && bSync && !Pf_SyncStream(fp))
        bOk = 0;
    if (fclose(fp) != 0)
        bOk = 0;
    return bOk;
}
