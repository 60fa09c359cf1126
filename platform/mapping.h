// Memory mappings of files: an open file, a mapping object of a fixed size
// over it, and views of the mapping at offsets that are multiples of the
// allocation granularity (64 KiB). Every view is checked against the file's
// current size when it is made, so a short or shrunk file gives an error
// instead of a fault on access.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

struct Pf_MapFile;      // an open file, ready to be mapped
struct Pf_Mapping;      // a mapping object over such a file

// The granularity of view offsets.
uint32_t Pf_GetAllocationGranularity();

// Opens an existing file for mapping, read-only or read-write; others may
// read and write it meanwhile. Returns null on failure (errno set).
Pf_MapFile* Pf_OpenMapFile(const std::string& strPath, int bWritable);
int Pf_GetMapFileSize(Pf_MapFile* pFile, uint64_t* pullRetSize);
void Pf_CloseMapFile(Pf_MapFile* pFile);
// Reads or writes uSize bytes at ullOffset through the file itself, not a
// view, so a file that shrinks under the caller gives an error, never a
// fault: a read that meets the file's end before uSize bytes fails (errno
// ERANGE). A write needs a writable file and a range inside the file's
// current size (it never grows the file; errno ERANGE otherwise); a full
// disk fails it with ENOSPC.
int Pf_ReadMapFile(Pf_MapFile* pFile, uint64_t ullOffset, void* pvData, size_t uSize);
int Pf_WriteMapFile(Pf_MapFile* pFile, uint64_t ullOffset, const void* pvData, size_t uSize);

// A mapping of the first ullSize bytes of the file (0: the file's current
// size; an empty file then fails, as there is nothing to map). A writable
// mapping of a writable file grows the file to ullSize when it is shorter;
// a read-only one fails instead. The mapping keeps the file open by itself.
// The blocks under a writable view are reserved when the view is made, so a
// full disk fails the view (errno ENOSPC) instead of a later write to it.
Pf_Mapping* Pf_CreateMapping(Pf_MapFile* pFile, int bWritable, uint64_t ullSize);
void Pf_CloseMapping(Pf_Mapping* pMapping);

// Maps uSize bytes from ullOffset (a multiple of the granularity). Fails when
// the range is empty, passes the mapping's size or the file's current size,
// the blocks of a writable view cannot be reserved, or the system refuses.
// A view is only good while the file keeps its size: the system lets another
// process cut a mapped file, and a touch past the new end faults, so readers
// that may meet a file changing under them read with Pf_ReadMapFile instead. A view stays valid until Pf_UnmapView, also after
// the mapping and the file are closed.
int Pf_MapView(Pf_Mapping* pMapping, uint64_t ullOffset, size_t uSize, int bWritable, void** ppvRetView);
// A private view: writable, but its changes never reach the file (a
// read-only mapping is enough).
int Pf_MapViewCopyOnWrite(Pf_Mapping* pMapping, uint64_t ullOffset, size_t uSize, void** ppvRetView);
// Writes a writable view's changes to the file.
int Pf_FlushView(void* pvView, size_t uSize);
int Pf_UnmapView(void* pvView, size_t uSize);
