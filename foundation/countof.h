// The element count of a fixed array, as an int, for the size checks that
// compare it with snprintf's results.
#pragma once

#ifndef _countof
#define _countof(a) ((int)(sizeof(a) / sizeof((a)[0])))
#endif
