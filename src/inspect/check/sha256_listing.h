// list's SHA-256 digests, of each part and of the whole package: what
// sha256sum gives. fwinspect has one SHA-256, libcrypto's, which signatures
// need anyway and which is the fastest on every machine it runs on.
#pragma once

#include <cstdint>
#include <vector>

#include "inspect/reader/package_reader.h"
#include "inspect/signature/signature.h"

namespace fw {

// One SHA-256 as the reader's StreamDigest; starts afresh after finish().
class Sha256Stream : public StreamDigest {
public:
    void update(const std::uint8_t* bytes, std::size_t count) override { digest_.update(bytes, count); }
    std::vector<std::uint8_t> finish() override { return digest_.finish(); }

private:
    WholeFileDigest digest_{DigestAlgorithm::sha256};
};

// Makes a reader compute each part's SHA-256 and the whole file's, for list.
class Sha256Listing {
public:
    void attach(InspectionOptions& options);
    std::vector<std::uint8_t> packageDigest() { return whole_.finish(); }
    // Each part's SHA-256 only, without the whole file's.
    static void attachParts(InspectionOptions& options);

private:
    Sha256Stream whole_;
};

}  // namespace fw
