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
    std::unique_ptr<StreamDigest> extra, contentExtra;
    std::uint64_t skip = 0;
    bool wanted = false;  // the input's own digests were asked for

    PartDigests(const PartReport& part, const InspectionOptions& options) {
        md5Init(md5);
        md5Init(contentMd5);
        skip = contentOffset(part);
        wanted = options.inputDigests;
        if (options.partDigest) extra = options.partDigest();
        if (options.partDigest && skip > 0 && wanted) contentExtra = options.partDigest();
    }
    void update(std::uint64_t at, const std::uint8_t* bytes, std::size_t n) {
        md5Update(md5, bytes, n);
        if (extra) extra->update(bytes, n);
        if (skip == 0 || !wanted || at + n <= skip) return;
        const std::size_t from = at >= skip ? 0 : static_cast<std::size_t>(skip - at);
        md5Update(contentMd5, bytes + from, n - from);
        if (contentExtra) contentExtra->update(bytes + from, n - from);
    }
    void finish(PartReport& r) {
        md5Final(md5, r.actualDigest);
        if (extra) r.extraDigest = extra->finish();
        if (skip == 0) {
            r.contentDigest = r.actualDigest;
            r.contentExtraDigest = r.extraDigest;
            return;
        }
        if (!wanted) return;
        md5Final(contentMd5, r.contentDigest);
        if (contentExtra) r.contentExtraDigest = contentExtra->finish();
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
