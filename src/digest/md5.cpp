#include "digest/md5.h"

#include <cstring>

#include "digest/little_endian.h"

namespace fw {

void md5Init(Md5Context& ctx) {
    ctx.state = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
    ctx.bitCount = {0, 0};
}

void md5Update(Md5Context& ctx, const void* data, std::size_t count) {
    const auto* in = static_cast<const std::uint8_t*>(data);
    const std::size_t fill = (ctx.bitCount[0] >> 3) & 63;

    const std::uint64_t bits = static_cast<std::uint64_t>(count) << 3;
    const std::uint32_t low = ctx.bitCount[0] + static_cast<std::uint32_t>(bits);
    ctx.bitCount[1] += static_cast<std::uint32_t>(static_cast<std::uint64_t>(count) >> 29) +
                       (low < ctx.bitCount[0] ? 1 : 0);
    ctx.bitCount[0] = low;

    if (fill + count < 64) {
        if (count != 0) std::memcpy(ctx.block.data() + fill, in, count);
        return;
    }
    std::size_t used = 0;
    if (fill != 0) {
        used = 64 - fill;
        std::memcpy(ctx.block.data() + fill, in, used);
        md5Blocks(ctx.state, ctx.block.data(), 1);
    }
    const std::size_t whole = (count - used) / 64;
    md5Blocks(ctx.state, in + used, whole);
    used += whole * 64;
    if (used < count) std::memcpy(ctx.block.data(), in + used, count - used);
}

void md5Final(Md5Context& ctx, Digest& out) {
    std::uint8_t length[8];
    putWord(length, ctx.bitCount[0]);
    putWord(length + 4, ctx.bitCount[1]);

    static constexpr std::uint8_t padding[64] = {0x80};
    const std::size_t fill = (ctx.bitCount[0] >> 3) & 63;
    md5Update(ctx, padding, fill < 56 ? 56 - fill : 120 - fill);
    md5Update(ctx, length, 8);

    for (std::size_t i = 0; i < 4; ++i) putWord(out.data() + 4 * i, ctx.state[i]);
    // Wipe through a volatile pointer so the store is not dropped as dead.
    volatile std::uint8_t* p = reinterpret_cast<volatile std::uint8_t*>(&ctx);
    for (std::size_t i = 0; i < sizeof ctx; ++i) p[i] = 0;
}

Digest md5Of(const void* data, std::size_t count) {
    Md5Context ctx;
    md5Init(ctx);
    md5Update(ctx, data, count);
    Digest d;
    md5Final(ctx, d);
    return d;
}

}  // namespace fw
