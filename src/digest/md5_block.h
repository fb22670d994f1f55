// The MD5 block transform of RFC 1321: folds whole 64-byte blocks into the
// four chaining words. Buffering and padding live in md5.h.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace fw {

using Md5State = std::array<std::uint32_t, 4>;

void md5Blocks(Md5State& state, const std::uint8_t* blocks, std::size_t blockCount);

}  // namespace fw
