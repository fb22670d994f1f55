#include "digest/file_digest.h"

#include "digest/md5.h"
#include "platform/files.h"
#include "platform/progress.h"

namespace fw {

std::int64_t digestFile(Digest& out, const void* prefix, std::int32_t prefixLength,
                        const char* path) {
    InputFile in;
    if (in.open(path) != Opening::ok) return -1;
    Md5Context ctx;
    md5Init(ctx);
    if (prefix != nullptr && prefixLength > 0)
        md5Update(ctx, prefix, static_cast<std::size_t>(prefixLength));

    std::uint8_t piece[1024];
    std::int64_t total = 0;
    std::int64_t n;
    ProgressLine progress("digest", path, in.size());
    while ((n = in.read(piece, sizeof piece)) > 0) {
        md5Update(ctx, piece, static_cast<std::size_t>(n));
        total += n;
        progress.advance(static_cast<std::uint64_t>(n));
    }
    if (n < 0) return -1;
    md5Final(ctx, out);
    return total;
}

}  // namespace fw
