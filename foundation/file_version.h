// The file version of an executable on disk, read from its version stamp.
#pragma once
#include <string>

// The "FileVersion" text of the file's first translation ("1.0.0.1").
// Returns 0, with the failed check and the file name in the log, when the
// file has no stamp or the stamp has no such text.
int Rv_GetApplicationFileVersionNumber(const char* cszFileName, std::string* pstrRetVersionNumber);
