// Texts of the string table for message boxes and the user interface.
#pragma once
#include <string>

enum { RVU_STRING_BUFFER_SIZE = 1024 };

// Copies entry uId into szBuffer (RVU_STRING_BUFFER_SIZE characters: at most
// 1023 and a terminating zero, never cut inside a UTF-8 character) and
// returns it; an id that is not in the table gives "".
std::string RVU_LoadString(char* szBuffer, unsigned uId);
