// Base64 (RFC 4648, standard alphabet, "=" fill characters) of the report
// client's signature digest.
#pragma once
#include <cstddef>
#include <string>

#include "telemetry/sha1.h"

// Three bytes give four characters, most significant bits first.
std::string Rv_Base64Encode(const unsigned char* pbyData, size_t uSize);
// A 20-byte digest: 28 characters, the last one "=".
std::string Rv_Base64OfDigest(const unsigned char abyDigest[RV_SHA1_DIGEST_SIZE]);
