// MD5 of a whole file as 32 lower-case hexadecimal digits.
#pragma once

// Writes the digest text and a terminator into szDestMD5String (at least 33
// characters; set to "" first). Returns 1 done, 0 failed.
int MakeFileMD5(char* szDestMD5String, const char* szFileName);
