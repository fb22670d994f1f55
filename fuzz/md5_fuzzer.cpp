// MD5 against a second computation written independently from RFC 1321's
// tables: any input, fed in pieces whose sizes the input also chooses, must
// give the same digest as the reference over the whole.
#include <cmath>
#include <cstdint>
#include <algorithm>
#include <cstring>
#include <vector>

#include "digest/md5.h"

namespace {

fw::Digest reference(const std::uint8_t* data, std::size_t size) {
    static const std::uint32_t s[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                                        5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                                        4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                                        6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};
    static std::uint32_t k[64];
    if (k[0] == 0)
        for (int i = 0; i < 64; ++i) k[i] = static_cast<std::uint32_t>(std::floor(std::fabs(std::sin(i + 1.0)) * 4294967296.0));

    std::vector<std::uint8_t> msg(data, data + size);
    msg.push_back(0x80);
    while (msg.size() % 64 != 56) msg.push_back(0);
    const std::uint64_t bits = static_cast<std::uint64_t>(size) * 8;
    for (int i = 0; i < 8; ++i) msg.push_back(static_cast<std::uint8_t>(bits >> (8 * i)));

    std::uint32_t h[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
    for (std::size_t at = 0; at < msg.size(); at += 64) {
        std::uint32_t m[16];
        for (int i = 0; i < 16; ++i)
            m[i] = msg[at + 4 * i] | msg[at + 4 * i + 1] << 8 | msg[at + 4 * i + 2] << 16 |
                   static_cast<std::uint32_t>(msg[at + 4 * i + 3]) << 24;
        std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3];
        for (int i = 0; i < 64; ++i) {
            std::uint32_t f;
            int g;
            if (i < 16) { f = (b & c) | (~b & d); g = i; }
            else if (i < 32) { f = (d & b) | (~d & c); g = (5 * i + 1) % 16; }
            else if (i < 48) { f = b ^ c ^ d; g = (3 * i + 5) % 16; }
            else { f = c ^ (b | ~d); g = (7 * i) % 16; }
            const std::uint32_t t = a + f + k[i] + m[g];
            a = d;
            d = c;
            c = b;
            b += (t << s[i]) | (t >> (32 - s[i]));
        }
        h[0] += a;
        h[1] += b;
        h[2] += c;
        h[3] += d;
    }
    fw::Digest out;
    for (int i = 0; i < 16; ++i) out[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(h[i / 4] >> (8 * (i % 4)));
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fw::Digest expected = reference(data, size);
    if (fw::md5Of(data, size) != expected) __builtin_trap();

    // Piece sizes come from the bytes themselves, zero-length pieces included.
    fw::Md5Context ctx;
    fw::md5Init(ctx);
    std::size_t at = 0;
    for (std::size_t i = 0; at < size; ++i) {
        std::size_t piece = std::min<std::size_t>(size - at, data[i % size] % 131);
        if (piece == 0 && (i & 1)) piece = 1;  // some empty updates, yet always progress
        fw::md5Update(ctx, data + at, piece);
        at += piece;
    }
    fw::Digest pieces;
    fw::md5Final(ctx, pieces);
    if (pieces != expected) __builtin_trap();
    return 0;
}
