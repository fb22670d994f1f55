// Incremental SHA-256 (FIPS 180-4): init, any number of updates, final.
// For the part and package digests fwinspect lists beside the format's MD5, so they can
// be checked with sha256sum; signatures digest with libcrypto's.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace fw {

using Sha256Digest = std::array<std::uint8_t, 32>;

struct Sha256Context {
    std::array<std::uint32_t, 8> state{};
    std::uint64_t byteCount = 0;
    std::array<std::uint8_t, 64> block{};
};

void sha256Init(Sha256Context& ctx);
void sha256Update(Sha256Context& ctx, const void* data, std::size_t count);
// Writes the digest and wipes the context; a new init must follow before reuse.
void sha256Final(Sha256Context& ctx, Sha256Digest& out);

}  // namespace fw
