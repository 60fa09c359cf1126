// The version stamp of the executable: a block that Pf_GetFileVersionInfo
// finds in the file on disk. It holds a translation (language and code page,
// as eight hexadecimal digits) and the strings of that translation.
//
// Layout: the marker "\x7fRVVERSION1", the payload length (32-bit LE), and
// the payload: pairs of zero-terminated key and value, then one more zero.
#include "version_stamp.h"

#define RV_STAMP_PAYLOAD                                             \
    "\\VarFileInfo\\Translation\0" "080404b0\0"                      \
    "\\StringFileInfo\\080404b0\\FileVersion\0" RV_FILE_VERSION_TEXT "\0" \
    "\\StringFileInfo\\080404b0\\ProductName\0" "Refitter\0"
// The literal's own terminator is the final zero of the payload.

struct Rv_VersionStampBlock {
    char szMarker[11];
    unsigned char abyLength[4];
    char szPayload[sizeof(RV_STAMP_PAYLOAD)];
};

extern "C" __attribute__((used)) const Rv_VersionStampBlock g_RvVersionStamp = {
    {'\x7f', 'R', 'V', 'V', 'E', 'R', 'S', 'I', 'O', 'N', '1'},
    {(unsigned char)(sizeof(RV_STAMP_PAYLOAD) & 0xFF), (unsigned char)((sizeof(RV_STAMP_PAYLOAD) >> 8) & 0xFF), 0, 0},
    RV_STAMP_PAYLOAD,
};
