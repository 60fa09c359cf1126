// Dotted version texts ("1.0.0.2086", "4.09.00.0904", "1-2-3") as five
// numbers, most significant first, compared part by part.
#pragma once
#include <cstdint>

struct Rv_VersionNumber {
    // Missing trailing parts are 0: "1.2" equals 1.2.0.0.0.
    uint32_t uPart[5] = {};

    // Splits the text on the first of ".", "-" and "," that occurs in it and
    // reads each piece's leading digits like atoi. A null or empty text, one
    // of 256 characters or more, or one without any separator fails, leaving
    // all five parts 0.
    int ParseString(const char* cszVersionNumber);
};

bool operator==(const Rv_VersionNumber& a, const Rv_VersionNumber& b);
bool operator!=(const Rv_VersionNumber& a, const Rv_VersionNumber& b);
bool operator<(const Rv_VersionNumber& a, const Rv_VersionNumber& b);
bool operator>(const Rv_VersionNumber& a, const Rv_VersionNumber& b);
bool operator<=(const Rv_VersionNumber& a, const Rv_VersionNumber& b);
bool operator>=(const Rv_VersionNumber& a, const Rv_VersionNumber& b);
