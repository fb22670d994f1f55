#include "digest/md5_block.h"

#include <bit>
#include <cstring>

namespace fw {
namespace {

// The steps are written out so the compiler keeps all four words in
// registers and reads message words straight from the input. Each step adds
// constant and message word before the round function is ready, so only the
// function, one add, the rotate and the last add sit on the chain from one
// step to the next: 5, 4, 4 and 5 cycles a step in the four rounds.

// Pins the sum of word, constant and old value before the round function is
// added; left alone, the compiler may reassociate the additions and put the
// message word back on the chain.
inline void settle(std::uint32_t& v) {
#if defined(__GNUC__)
    asm("" : "+r"(v));
#else
    (void)v;
#endif
}

inline std::uint32_t rotl(std::uint32_t x, int s) { return (x << s) | (x >> (32 - s)); }

inline std::uint32_t load(const std::uint8_t* p) {
    std::uint32_t w;
    std::memcpy(&w, p, 4);
    if constexpr (std::endian::native == std::endian::big) w = __builtin_bswap32(w);
    return w;
}

template <int S>
inline void stepF(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d,
                  std::uint32_t xk) {
    a += xk;
    settle(a);
    a += d ^ (b & (c ^ d));
    a = rotl(a, S) + b;
}

// G(b,c,d) = (b & d) | (c & ~d); the two terms never share a bit, so they
// can be added one at a time instead of being combined first.
template <int S>
inline void stepG(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d,
                  std::uint32_t xk) {
    a += xk;
    settle(a);
    a += ~d & c;
    a += d & b;
    a = rotl(a, S) + b;
}

template <int S>
inline void stepH(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d,
                  std::uint32_t xk) {
    a += xk;
    settle(a);
    a += (c ^ d) ^ b;
    a = rotl(a, S) + b;
}

template <int S>
inline void stepI(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d,
                  std::uint32_t xk) {
    a += xk;
    settle(a);
    a += c ^ (b | ~d);
    a = rotl(a, S) + b;
}

void block(Md5State& st, const std::uint8_t* p) {
    auto x = [p](int i) { return load(p + 4 * i); };
    std::uint32_t a = st[0], b = st[1], c = st[2], d = st[3];

    stepF<7>(a, b, c, d, x(0) + 0xd76aa478);
    stepF<12>(d, a, b, c, x(1) + 0xe8c7b756);
    stepF<17>(c, d, a, b, x(2) + 0x242070db);
    stepF<22>(b, c, d, a, x(3) + 0xc1bdceee);
    stepF<7>(a, b, c, d, x(4) + 0xf57c0faf);
    stepF<12>(d, a, b, c, x(5) + 0x4787c62a);
    stepF<17>(c, d, a, b, x(6) + 0xa8304613);
    stepF<22>(b, c, d, a, x(7) + 0xfd469501);
    stepF<7>(a, b, c, d, x(8) + 0x698098d8);
    stepF<12>(d, a, b, c, x(9) + 0x8b44f7af);
    stepF<17>(c, d, a, b, x(10) + 0xffff5bb1);
    stepF<22>(b, c, d, a, x(11) + 0x895cd7be);
    stepF<7>(a, b, c, d, x(12) + 0x6b901122);
    stepF<12>(d, a, b, c, x(13) + 0xfd987193);
    stepF<17>(c, d, a, b, x(14) + 0xa679438e);
    stepF<22>(b, c, d, a, x(15) + 0x49b40821);

    stepG<5>(a, b, c, d, x(1) + 0xf61e2562);
    stepG<9>(d, a, b, c, x(6) + 0xc040b340);
    stepG<14>(c, d, a, b, x(11) + 0x265e5a51);
    stepG<20>(b, c, d, a, x(0) + 0xe9b6c7aa);
    stepG<5>(a, b, c, d, x(5) + 0xd62f105d);
    stepG<9>(d, a, b, c, x(10) + 0x02441453);
    stepG<14>(c, d, a, b, x(15) + 0xd8a1e681);
    stepG<20>(b, c, d, a, x(4) + 0xe7d3fbc8);
    stepG<5>(a, b, c, d, x(9) + 0x21e1cde6);
    stepG<9>(d, a, b, c, x(14) + 0xc33707d6);
    stepG<14>(c, d, a, b, x(3) + 0xf4d50d87);
    stepG<20>(b, c, d, a, x(8) + 0x455a14ed);
    stepG<5>(a, b, c, d, x(13) + 0xa9e3e905);
    stepG<9>(d, a, b, c, x(2) + 0xfcefa3f8);
    stepG<14>(c, d, a, b, x(7) + 0x676f02d9);
    stepG<20>(b, c, d, a, x(12) + 0x8d2a4c8a);

    stepH<4>(a, b, c, d, x(5) + 0xfffa3942);
    stepH<11>(d, a, b, c, x(8) + 0x8771f681);
    stepH<16>(c, d, a, b, x(11) + 0x6d9d6122);
    stepH<23>(b, c, d, a, x(14) + 0xfde5380c);
    stepH<4>(a, b, c, d, x(1) + 0xa4beea44);
    stepH<11>(d, a, b, c, x(4) + 0x4bdecfa9);
    stepH<16>(c, d, a, b, x(7) + 0xf6bb4b60);
    stepH<23>(b, c, d, a, x(10) + 0xbebfbc70);
    stepH<4>(a, b, c, d, x(13) + 0x289b7ec6);
    stepH<11>(d, a, b, c, x(0) + 0xeaa127fa);
    stepH<16>(c, d, a, b, x(3) + 0xd4ef3085);
    stepH<23>(b, c, d, a, x(6) + 0x04881d05);
    stepH<4>(a, b, c, d, x(9) + 0xd9d4d039);
    stepH<11>(d, a, b, c, x(12) + 0xe6db99e5);
    stepH<16>(c, d, a, b, x(15) + 0x1fa27cf8);
    stepH<23>(b, c, d, a, x(2) + 0xc4ac5665);

    stepI<6>(a, b, c, d, x(0) + 0xf4292244);
    stepI<10>(d, a, b, c, x(7) + 0x432aff97);
    stepI<15>(c, d, a, b, x(14) + 0xab9423a7);
    stepI<21>(b, c, d, a, x(5) + 0xfc93a039);
    stepI<6>(a, b, c, d, x(12) + 0x655b59c3);
    stepI<10>(d, a, b, c, x(3) + 0x8f0ccc92);
    stepI<15>(c, d, a, b, x(10) + 0xffeff47d);
    stepI<21>(b, c, d, a, x(1) + 0x85845dd1);
    stepI<6>(a, b, c, d, x(8) + 0x6fa87e4f);
    stepI<10>(d, a, b, c, x(15) + 0xfe2ce6e0);
    stepI<15>(c, d, a, b, x(6) + 0xa3014314);
    stepI<21>(b, c, d, a, x(13) + 0x4e0811a1);
    stepI<6>(a, b, c, d, x(4) + 0xf7537e82);
    stepI<10>(d, a, b, c, x(11) + 0xbd3af235);
    stepI<15>(c, d, a, b, x(2) + 0x2ad7d2bb);
    stepI<21>(b, c, d, a, x(9) + 0xeb86d391);

    st[0] += a;
    st[1] += b;
    st[2] += c;
    st[3] += d;
}

}  // namespace

void md5Blocks(Md5State& state, const std::uint8_t* blocks, std::size_t blockCount) {
    for (std::size_t i = 0; i < blockCount; ++i) block(state, blocks + 64 * i);
}

}  // namespace fw
