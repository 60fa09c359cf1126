// The string table lookup.
#include "app/load_string.h"

#include "resources/string_table.h"

#include <cstring>

std::string RVU_LoadString(char* szBuffer, unsigned uId)
{
    szBuffer[0] = '\0';
    for (unsigned i = 0; i < g_uRvStringTableCount; ++i) {
        if (g_RvStringTable[i].uId != uId)
            continue;
        size_t uLen = strlen(g_RvStringTable[i].cszText);
        if (uLen > RVU_STRING_BUFFER_SIZE - 1) {
            uLen = RVU_STRING_BUFFER_SIZE - 1;
            while (uLen > 0 && ((unsigned char)g_RvStringTable[i].cszText[uLen] & 0xC0) == 0x80)
                --uLen;
        }
        memcpy(szBuffer, g_RvStringTable[i].cszText, uLen);
        szBuffer[uLen] = '\0';
        break;
    }
    return szBuffer;
}
