#include "inspect/report/report.h"

#include "format/kinds.h"
#include "inspect/report/report_styles.h"

namespace fw {

std::vector<const char*> kindNames(std::uint32_t flags, bool oldLayout) {
    std::vector<const char*> names;
    for (const KindInfo& info : kindTable) {
        const std::uint32_t bit = kindBitOf(info.kind, oldLayout);
        if (bit != 0 && (flags & bit)) names.push_back(info.name.data());
    }
    return names;
}

bool hasContentField(const PartReport& r) { return contentOffset(r) > 0 && r.dataInside; }

std::string contentMember(const PartReport& r) {
    std::string s = ",\"input\":{\"length\":" + std::to_string(r.contentLength) + ",\"md5\":\"" +
                    hexDigest(r.contentDigest) + "\"";
    if (!r.contentSha256Digest.empty()) s += ",\"sha256\":\"" + hexBytes(r.contentSha256Digest) + "\"";
    return s + "}";
}

std::string labelMembers(const PartReport& r) {
    // Appended piece by piece: GCC 12 at -O3 takes "," + a string for an overlapping copy.
    const PartIdentity part = partIdentityOf(r);
    const std::string file = fileNameOf(part);
    std::string s(",");
    s.append(r.kind == PartKind::unknown ? std::string("\"label\":null") : jsonTextMember("label", labelOf(part)));
    s.append(",");
    return s.append(file.empty() ? std::string("\"file\":null") : jsonTextMember("file", file));
}

std::unique_ptr<ReportSink> makeReport(ReportStyle style, std::FILE* out) {
    if (style == ReportStyle::json) return makeJsonReport(out);
    if (style == ReportStyle::table) return makeTableReport(out);
    return makeDefectReport(out);
}

}  // namespace fw
