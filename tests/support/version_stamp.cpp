// Version-stamped files for tests (see version_stamp.h).
#include "tests/support/version_stamp.h"

#include "tests/support/temp_dir.h"

#include <sys/stat.h>

std::string Rv_TestVersionStamp(const std::string& strFileVersion)
{
    // Put together here so that the test executables hold no copy of the marker.
    std::string strMarker = "\x7e" "RVVERSION1";
    strMarker[0] = (char)(strMarker[0] + 1);
    std::string strPayload = std::string("\\VarFileInfo\\Translation") + '\0' + "080404b0" + '\0' +
                             "\\StringFileInfo\\080404b0\\FileVersion" + '\0' + strFileVersion + '\0' + '\0';
    std::string strLength;
    for (int i = 0; i < 4; ++i)
        strLength += (char)((strPayload.size() >> (8 * i)) & 0xFF);
    return strMarker + strLength + strPayload;
}

void Rv_TestWriteStampedScript(const std::string& strPath, const std::string& strBody,
                               const std::string& strFileVersion)
{
    Rv_TestWriteFile(strPath, "#!/bin/sh\n" + strBody + "\nexit 0\n" + Rv_TestVersionStamp(strFileVersion));
    chmod(strPath.c_str(), 0755);
}
