// Process entry of Refitter.exe.
#include "foundation/log.h"

#include <cstdio>

int main()
{
    fprintf(stderr, "Refitter: the updater's modes are not built yet\n");
    return 1;
}
