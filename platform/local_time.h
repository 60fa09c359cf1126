// Conversion of a local wall-clock time (in this machine's time zone) to UTC.
#pragma once
#include "platform/clock.h"

#include <cstdint>

// Seconds since 1970 UTC of the local time pTime (milliseconds ignored), with
// the zone's daylight-saving rule of that date. Returns 0 for a time the
// system cannot convert.
int Pf_LocalTimeToUnix(const Pf_SYSTEMTIME& localTime, int64_t* pllRetSeconds);
