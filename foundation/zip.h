// Reading zip archives item by item, and extracting items to files below the
// folder that was current when the archive was opened.
//
//     ZipHandle* hZip = OpenZip("patch.zip");
//     ZipEntry entry;
//     GetZipItem(hZip, -1, &entry);          // entry.index: the number of items
//     for (int i = 0; i < count; ++i) {
//         GetZipItem(hZip, i, &entry);
//         ExtractZipItem(hZip, i, entry.name);
//     }
//     CloseZipHandle(hZip);
#pragma once
#include "platform/file.h"

#include <cstdint>

typedef uint32_t ZRESULT;

enum : ZRESULT {
    ZR_OK = 0x00000000,
    ZR_FILE_ERROR = 0x00000200,       // archive not opened or no zip; target not created
    ZR_WRITE_ERROR = 0x00000400,      // writing the target failed
    ZR_CORRUPT_ITEM = 0x00000700,     // local header does not match the directory entry
    ZR_READ_ERROR = 0x00000800,       // the item's extra field cannot be read
    ZR_PASSWORD_ERROR = 0x00001000,   // the item is encrypted
    ZR_BAD_ARGUMENT = 0x00010000,     // null handle or index out of range
    ZR_WRONG_HANDLE = 0x00080000,     // the handle was not opened for reading
    ZR_ALREADY_OPEN = 0x01000000,     // the archive object already holds an archive
    ZR_INFLATE_ERROR = 0x05000000,    // reading the item's data failed or stopped short
};

enum {
    ZIP_HANDLE_READ = 1,
};

// Windows file attributes of an item.
enum : uint32_t {
    ZIP_ATTR_READONLY = 0x01,
    ZIP_ATTR_HIDDEN = 0x02,
    ZIP_ATTR_SYSTEM = 0x04,
    ZIP_ATTR_DIRECTORY = 0x10,
    ZIP_ATTR_ARCHIVE = 0x20,
};

class ZipArchive;

struct ZipHandle {
    int nKind;                 // ZIP_HANDLE_READ
    ZipArchive* pArchive;
};

struct ZipEntry {
    int index;                 // the item's index; for index -1 the number of items
    char name[260];            // path inside the archive, made relative
    uint32_t attr;             // ZIP_ATTR_*
    Pf_FILETIME atime;         // last access (UTC)
    Pf_FILETIME ctime;         // creation (UTC)
    Pf_FILETIME mtime;         // last modification (UTC)
    int32_t comp_size;
    int32_t unc_size;
};

// Opens an archive for reading; null on failure.
ZipHandle* OpenZip(const char* cszFileName);
// Describes item nIndex (-1: the archive, with the item count in index).
ZRESULT GetZipItem(ZipHandle* hZip, int nIndex, ZipEntry* pEntry);
// Extracts item nIndex to cszTarget (relative to the opening folder unless
// it begins with a separator); a folder item creates the folder chain.
ZRESULT ExtractZipItem(ZipHandle* hZip, int nIndex, const char* cszTarget);
// Closes the archive and frees the handle.
ZRESULT CloseZipHandle(ZipHandle* hZip);
