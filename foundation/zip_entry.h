// The parts of an item's description that come from its raw directory data:
// the name made relative, Windows attributes, and the times of the "UT"
// extra field.
#pragma once
#include "platform/file.h"

#include <cstddef>
#include <cstdint>

// Makes an item name relative in place: drive prefixes, leading separators,
// everything through a "\..\"-like step, and leading ".." steps go.
void ZipMakeRelativeName(char* szName);

// Windows attributes from the directory entry's version-made-by field and
// external attributes.
uint32_t ZipAttributes(uint32_t uVersionMadeBy, uint32_t uExternalAttributes);

// Reads the first "UT" record of an extra field: each of the modification,
// access and creation times that is flagged and lies wholly inside both the
// record and the buffer replaces the time given. Returns the number of times read.
int ZipReadUnixTimes(const unsigned char* pbyExtra, size_t uSize, Pf_FILETIME* pMTime, Pf_FILETIME* pATime,
                     Pf_FILETIME* pCTime);
