// String values under the game's registry key of one version type:
// HKEY_LOCAL_MACHINE "SOFTWARE\Tervana\QV7\<version type>".
#pragma once

// Reads the value cszKeyName into the buffer, always terminated. Fails when
// the key or the value is missing or the value with its terminator does not
// fit uBufferSize.
int Rv_GetStringValueFromRegister(const char* cszVersionType, const char* cszKeyName, char* pszRetBuffer,
                                  unsigned uBufferSize);
// Writes the value (creating the key); an empty version type, name or value is refused.
int Rv_SetStringValueToRegister(const char* cszVersionType, const char* cszKeyName, const char* cszValue);
