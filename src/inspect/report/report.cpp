#include "inspect/report/report.h"

#include <algorithm>

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

std::string jsonHexOrNull(const std::vector<std::uint8_t>& digest) {
    return digest.empty() ? "null" : std::string(1, '"').append(hexBytes(digest)).append(1, '"');
}

std::string contentMember(const PartReport& r) {
    std::string s = ",\"input\":{\"length\":";
    s.append(std::to_string(r.contentLength)).append(",\"md5\":");
    if (r.digested) s.append(1, '"').append(hexDigest(r.contentDigest)).append(1, '"');
    else s.append("null");
    return s.append(",\"sha256\":").append(jsonHexOrNull(r.contentSha256Digest)).append("}");
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

std::vector<std::uint32_t> partsNamed(const std::string& label, const std::vector<PartReport>& parts) {
    const bool someLabelIs = std::any_of(parts.begin(), parts.end(), [&label](const PartReport& r) {
        return r.headerRead && labelOf(partIdentityOf(r)) == label;
    });
    std::vector<std::uint32_t> named;
    for (const PartReport& r : parts)
        if (r.headerRead && labelNames(label, partIdentityOf(r), someLabelIs)) named.push_back(r.number);
    return named;
}

std::string noPartNamed(const std::string& label, const std::vector<PartReport>& parts) {
    std::string held;
    for (const PartReport& r : parts)
        if (r.headerRead) held.append(held.empty() ? "" : ", ").append(escapeText(shownLabel(partIdentityOf(r))));
    return "the package has no part " + escapeText(label) + "; it holds " + held;
}

std::unique_ptr<ReportSink> makeReport(ReportStyle style, std::FILE* out, bool boardChecked) {
    if (style == ReportStyle::json) return makeJsonReport(out);
    if (style == ReportStyle::table) return makeTableReport(out);
    return makeDefectReport(out, boardChecked);
}

}  // namespace fw
