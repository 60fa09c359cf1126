// Executables with another version stamp.
#include "tests/support/stamped_copy.h"

#include "platform/file.h"
#include "platform/file_mode.h"
#include "tests/support/temp_dir.h"

namespace {

// The marker of a stamp block, put together at run time so that the test
// programs hold no copy of it themselves.
std::string _Marker()
{
    std::string strMarker = "\x7e" "RVVERSION1";
    strMarker[0] = (char)(strMarker[0] + 1);
    return strMarker;
}

std::string _Pair(const std::string& strKey, const std::string& strValue)
{
    return strKey + std::string(1, '\0') + strValue + std::string(1, '\0');
}

}  // namespace

bool Rv_TestWriteStampedCopy(const std::string& strFrom, const std::string& strTo, const std::string& strFileVersion)
{
    const std::string strMarker = _Marker();
    std::string strData = strFrom.empty() ? std::string() : Rv_TestReadFile(strFrom);
    for (size_t uPos = strData.find(strMarker); uPos != std::string::npos; uPos = strData.find(strMarker, uPos + 1))
        strData[uPos + 1] = 'x';
    std::string strPayload = _Pair("\\VarFileInfo\\Translation", "080404b0") +
                             _Pair("\\StringFileInfo\\080404b0\\FileVersion", strFileVersion) +
                             _Pair("\\StringFileInfo\\080404b0\\ProductName", "Refitter") + std::string(1, '\0');
    std::string strLength;
    for (int i = 0; i < 4; ++i)
        strLength += (char)((strPayload.size() >> (8 * i)) & 0xFF);
    strData += strMarker + strLength + strPayload;
    Pf_DeleteFile(strTo);
    Rv_TestWriteFile(strTo, strData);
    return Rv_TestReadFile(strTo) == strData && Pf_SetExecutable(strTo);
}
