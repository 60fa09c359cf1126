// HMAC-SHA1 (RFC 2104, block size 64): the signature of the report client.
#pragma once
#include <cstddef>

#include "telemetry/sha1.h"

// Signs uMessageSize bytes of pvMessage under uKeySize bytes of pvKey into
// 20 bytes. A key longer than 64 bytes is replaced by its SHA-1 digest. The
// message is streamed, so its length is not limited. Fails only for a null
// pointer with a non-zero size or a null output.
int Rv_HmacSha1(const void* pvMessage, size_t uMessageSize, const void* pvKey, size_t uKeySize,
                unsigned char abyRetDigest[RV_SHA1_DIGEST_SIZE]);
