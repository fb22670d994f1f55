#include "inspect/check/sha256_listing.h"

#include <memory>

namespace fw {

void Sha256Listing::attachParts(InspectionOptions& options) {
    options.partSha256 = [] { return std::make_unique<Sha256Stream>(); };
}

void Sha256Listing::attach(InspectionOptions& options) {
    attachParts(options);
    options.packageBytes = [this](const std::uint8_t* bytes, std::size_t count) { whole_.update(bytes, count); };
}

}  // namespace fw
