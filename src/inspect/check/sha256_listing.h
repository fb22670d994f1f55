// list's SHA-256 digests, of each part and of the whole package, by the
// project's own SHA-256: what sha256sum gives. Signatures digest with
// libcrypto, since a signature may name another algorithm.
#pragma once

#include <cstdint>
#include <vector>

#include "digest/sha256.h"
#include "inspect/reader/package_reader.h"

namespace fw {

// One SHA-256 as the reader's StreamDigest; starts afresh after finish().
class Sha256Stream : public StreamDigest {
public:
    Sha256Stream() { sha256Init(ctx_); }
    void update(const std::uint8_t* bytes, std::size_t count) override { sha256Update(ctx_, bytes, count); }
    std::vector<std::uint8_t> finish() override;

private:
    Sha256Context ctx_;
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
