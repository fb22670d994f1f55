// MD5 throughput against OpenSSL's hand-written assembly, and digestFile
// on a file. Run with --benchmark_filter to pick; FWBENCH_FILE names the
// file for the digestFile benchmark (a 64 MiB temporary file otherwise).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "digest/file_digest.h"
#include "digest/md5.h"

#if defined(FWBENCH_OPENSSL)
#include <openssl/md5.h>
#endif

namespace {

const std::vector<std::uint8_t>& data() {
    static const std::vector<std::uint8_t> bytes = [] {
        std::vector<std::uint8_t> b(256u << 20);
        for (std::size_t i = 0; i < b.size(); ++i) b[i] = static_cast<std::uint8_t>((i * 2654435761u) >> 13);
        return b;
    }();
    return bytes;
}

void Md5Ours(benchmark::State& state) {
    const auto& b = data();
    for (auto _ : state) benchmark::DoNotOptimize(fw::md5Of(b.data(), b.size()));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * b.size()));
}
BENCHMARK(Md5Ours)->Unit(benchmark::kMillisecond)->UseRealTime();

#if defined(FWBENCH_OPENSSL)
void Md5OpenSsl(benchmark::State& state) {
    const auto& b = data();
    unsigned char out[16];
    for (auto _ : state) {
        MD5(b.data(), b.size(), out);
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * b.size()));
    const fw::Digest ours = fw::md5Of(b.data(), b.size());
    if (std::memcmp(ours.data(), out, 16) != 0) state.SkipWithError("digests differ");
}
BENCHMARK(Md5OpenSsl)->Unit(benchmark::kMillisecond)->UseRealTime();
#endif

char madeFile[] = "/tmp/fwbench.XXXXXX";

std::string benchFile() {
    if (const char* named = std::getenv("FWBENCH_FILE")) return named;
    static const bool made = [] {
        ::close(::mkstemp(madeFile));
        std::ofstream f(madeFile, std::ios::binary);
        f.write(reinterpret_cast<const char*>(data().data()), 64 << 20);
        std::atexit([] { ::unlink(madeFile); });
        return true;
    }();
    (void)made;
    return madeFile;
}

void DigestFile(benchmark::State& state) {
    const std::string path = benchFile();
    std::int64_t length = 0;
    fw::Digest d{};
    for (auto _ : state) {
        length = fw::digestFile(d, nullptr, 0, path.c_str());
        benchmark::DoNotOptimize(d);
    }
    state.SetBytesProcessed(state.iterations() * length);
}
BENCHMARK(DigestFile)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
