#include "inspect/check/sha256_listing.h"

#include <memory>

namespace fw {

std::vector<std::uint8_t> Sha256Stream::finish() {
    Sha256Digest d;
    sha256Final(ctx_, d);
    sha256Init(ctx_);
    return {d.begin(), d.end()};
}

void Sha256Listing::attachParts(InspectionOptions& options) {
    options.partDigest = [] { return std::make_unique<Sha256Stream>(); };
}

void Sha256Listing::attach(InspectionOptions& options) {
    attachParts(options);
    options.wholeFile = [this](const std::uint8_t* bytes, std::size_t count) { whole_.update(bytes, count); };
}

}  // namespace fw
