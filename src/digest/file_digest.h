#pragma once

#include <cstdint>

#include "digest/md5.h"

namespace fw {

// Digests an optional prefix followed by the whole file. Returns the file's
// length (the prefix not counted), or -1 when the file cannot be opened or a
// read fails; on -1 the output is left as it was. A prefix length of 0 or
// below means no prefix.
std::int64_t digestFile(Digest& out, const void* prefix, std::int32_t prefixLength,
                        const char* path);

}  // namespace fw
