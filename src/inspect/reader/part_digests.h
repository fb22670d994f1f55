// The digests of one part's data as it streams past, whichever pass reads it.
#pragma once

#include <cstdint>
#include <memory>

#include "digest/md5.h"
#include "inspect/reader/package_reader.h"

namespace fw {

// Over the whole data, and over the input's own bytes behind a name or
// path field, when there is one and they were asked for.
struct PartDigests {
    Md5Context md5, contentMd5;
    std::unique_ptr<StreamDigest> sha256, contentSha256;
    std::uint64_t skip = 0;
    bool wanted = false;  // the input's own digests were asked for

    PartDigests(const PartReport& part, const InspectionOptions& options) {
        md5Init(md5);
        md5Init(contentMd5);
        skip = contentOffset(part);
        wanted = options.inputDigests;
        if (options.partSha256) sha256 = options.partSha256();
        if (options.partSha256 && skip > 0 && wanted) contentSha256 = options.partSha256();
    }
    void update(std::uint64_t at, const std::uint8_t* bytes, std::size_t n) {
        md5Update(md5, bytes, n);
        if (sha256) sha256->update(bytes, n);
        if (skip == 0 || !wanted || at + n <= skip) return;
        const std::size_t from = at >= skip ? 0 : static_cast<std::size_t>(skip - at);
        md5Update(contentMd5, bytes + from, n - from);
        if (contentSha256) contentSha256->update(bytes + from, n - from);
    }
    void finish(PartReport& r) {
        md5Final(md5, r.actualDigest);
        if (sha256) r.sha256Digest = sha256->finish();
        if (skip == 0) {
            r.contentDigest = r.actualDigest;
            r.contentSha256Digest = r.sha256Digest;
            return;
        }
        if (!wanted) return;
        md5Final(contentMd5, r.contentDigest);
        if (contentSha256) r.contentSha256Digest = contentSha256->finish();
    }
};

// Ends a part's read, whichever pass read it: its digests when it was
// `read` whole, whether they match, and the end of its extraction.
inline void endPart(PartReport& r, std::unique_ptr<PartDigests>& digests, bool read, const InspectionOptions& options) {
    r.digested = read;
    if (read) digests->finish(r);
    digests.reset();
    r.digestOk = r.digested && r.actualDigest == r.header.digest;
    if (options.partData != nullptr) options.partData->end(r, r.digestOk);
}

}  // namespace fw
