// A new machine identifier: the MD5, as 32 lower-case hexadecimal digits, of
// a random number, a random GUID, the local time to the millisecond, the MD5
// of the computer name and the free bytes of the system folder's volume.
#pragma once
#include <string>

// The text the digest is taken of.
std::string Rv_MachineIdSource();
void Rv_GenerateMachineId(std::string* pstrRetId);
