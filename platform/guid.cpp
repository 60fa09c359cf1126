// Random identifiers from getrandom.
#include "platform/guid.h"

#include <cerrno>
#include <sys/random.h>

int Pf_CreateGuid(Pf_GUID* pRetGuid)
{
    uint8_t aby[16];
    size_t uDone = 0;
    if (!pRetGuid)
        return 0;
    while (uDone < sizeof(aby)) {
        ssize_t nGot = getrandom(aby + uDone, sizeof(aby) - uDone, 0);
        if (nGot < 0) {
            if (errno == EINTR)
                continue;
            return 0;
        }
        uDone += (size_t)nGot;
    }
    aby[6] = (uint8_t)((aby[6] & 0x0F) | 0x40);
    aby[8] = (uint8_t)((aby[8] & 0x3F) | 0x80);
    pRetGuid->Data1 = (uint32_t)aby[0] << 24 | (uint32_t)aby[1] << 16 | (uint32_t)aby[2] << 8 | aby[3];
    pRetGuid->Data2 = (uint16_t)(aby[4] << 8 | aby[5]);
    pRetGuid->Data3 = (uint16_t)(aby[6] << 8 | aby[7]);
    for (int i = 0; i < 8; ++i)
        pRetGuid->Data4[i] = aby[8 + i];
    return 1;
}
