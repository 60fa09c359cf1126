// Decimal texts to numbers the way the runtime's atoi reads them.
#pragma once
#include <string>

// Leading blanks, an optional sign and the leading digits; a text without
// digits gives 0, and a number beyond the int range saturates at INT_MAX or
// INT_MIN (never undefined behaviour).
int Pf_AtoI(const char* cszText);
inline int Pf_AtoI(const std::string& strText) { return Pf_AtoI(strText.c_str()); }
