// Prints "digest  length  path" for each file, read through digestFile as
// lint reads the inputs it holds against a package's parts; the benchmark
// script times it against md5sum.
#include <cstdio>

#include "digest/file_digest.h"

int main(int argc, char** argv) {
    int status = 0;
    for (int i = 1; i < argc; ++i) {
        fw::Digest d{};
        const std::int64_t length = fw::digestFile(d, nullptr, 0, argv[i]);
        if (length < 0) {
            std::fprintf(stderr, "cannot read %s\n", argv[i]);
            status = 1;
            continue;
        }
        for (auto b : d) std::printf("%02x", b);
        std::printf("  %lld  %s\n", static_cast<long long>(length), argv[i]);
    }
    return status;
}
