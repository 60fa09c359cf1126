// Copies of executables with another version stamp, for runs that need an
// older or newer updater than the one the build stamped.
#pragma once
#include <string>

// Writes strTo as a copy of strFrom (any file; none: an empty one) whose
// version stamp gives "FileVersion" strFileVersion: every stamp block of the
// original is made unreadable and a new one is appended. The copy keeps the
// execute permission. Returns false when the copy cannot be written.
bool Rv_TestWriteStampedCopy(const std::string& strFrom, const std::string& strTo, const std::string& strFileVersion);
