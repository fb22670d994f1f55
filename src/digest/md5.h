// Incremental MD5 (RFC 1321): init, any number of updates, final.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "digest/md5_block.h"

namespace fw {

// 16 bytes of MD5 output, the chaining words least significant byte first.
using Digest = std::array<std::uint8_t, 16>;

struct Md5Context {
    Md5State state{};
    std::array<std::uint32_t, 2> bitCount{};  // low word first, modulo 2^64
    std::array<std::uint8_t, 64> block{};
};

void md5Init(Md5Context& ctx);
void md5Update(Md5Context& ctx, const void* data, std::size_t count);
// Writes the digest and wipes the context; a new init must follow before reuse.
void md5Final(Md5Context& ctx, Digest& out);

Digest md5Of(const void* data, std::size_t count);

}  // namespace fw
