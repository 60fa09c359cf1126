// Files that carry a version stamp as the build writes it into executables,
// for tests of the code that reads file versions: data files, and small
// shell-script tools that run and still have a file version.
#pragma once
#include <string>

// The stamp block: marker, 32-bit LE length, the translation "080404b0" and
// its "FileVersion".
std::string Rv_TestVersionStamp(const std::string& strFileVersion);
// Writes an executable shell script (strBody runs under /bin/sh, then the
// script exits with 0) followed by the stamp of the version.
void Rv_TestWriteStampedScript(const std::string& strPath, const std::string& strBody,
                               const std::string& strFileVersion);
