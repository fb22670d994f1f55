#include "inspect/lint/lint_package.h"

#include "digest/file_digest.h"
#include "inspect/text/plain_text.h"
#include "inspect/reader/package_reader.h"
#include "inspect/report/package_contents.h"
#include "package/part_plan.h"

namespace fw {
namespace {

std::string boardList(const std::uint32_t* codes, std::size_t n) {
    std::string s;
    for (std::size_t i = 0; i < n; ++i) s.append(i ? " " : "").append(boardCodeText(codes[i]));
    return s.empty() ? "none" : s;
}

PartIdentity plannedIdentityOf(const PlannedPart& p, const PackageJob& job) {
    const std::uint32_t index = p.kind == PartKind::mtd ? static_cast<std::uint32_t>(p.slot + 1) : 0;
    return {p.kind, index, p.kind == PartKind::named ? job.partNames[p.slot].data() : ""};
}

void comparePart(const PlannedPart& p, const PartReport* r, const PackageJob& job, std::vector<std::string>& out) {
    const std::string expected = describe(plannedIdentityOf(p, job));
    const std::string input = std::string("'").append(escapePath(p.path)).append("'");
    if (r == nullptr || !r->headerRead || describe(partIdentityOf(*r)) != expected) {
        out.push_back("the arguments pack " + escapeText(expected) + " from " + input + " here; the package has " +
                      (r == nullptr ? "no part" : escapeText(partLabel(*r))));
        return;
    }
    Digest digest{};
    const std::int64_t length = digestFile(digest, nullptr, 0, p.path);
    if (length < 0) {
        out.push_back(escapeText(partLabel(*r)) + ": its input " + input + " cannot be read");
        return;
    }
    if (!r->digested || static_cast<std::uint64_t>(length) != r->contentLength || digest != r->contentDigest)
        out.push_back(escapeText(partLabel(*r)) + ": not the bytes of " + input + " (" + std::to_string(length) +
                      " bytes, md5 " + hexDigest(digest) + "; the part holds " + std::to_string(r->contentLength) +
                      " bytes, md5 " + hexDigest(r->contentDigest) + ")");
}

}  // namespace

bool comparePackageWithJob(const std::string& path, const PackageJob& job, std::vector<std::string>& differences,
                           std::string* why) {
    InspectionOptions options;
    options.layout = job.oldLayout ? LayoutChoice::old : LayoutChoice::normal;
    options.inputDigests = true;
    PackageContents c;
    ContentsCollector collector(c);
    if (inspectPackage(path.c_str(), options, collector, why) == InspectionResult::unreadable) return false;
    for (const std::string& d : c.defects.kept) differences.push_back("the package has a defect: " + escapeText(d));
    if (!c.summary.structureRead) return true;
    const PackagePlan plan = planPackage(job);
    if (c.boards != std::vector<std::uint32_t>(job.boardTypes.begin(), job.boardTypes.begin() + job.boardCount))
        differences.push_back("boards: the arguments give " + boardList(job.boardTypes.data(), job.boardCount) +
                              ", the package holds " + boardList(c.boards.data(), c.boards.size()));
    if (c.summary.header.kindFlags != plan.kindFlags) {
        char text[160];
        std::snprintf(text, sizeof text, "kind bits: the arguments give 0x%x in the %s layout, the package holds 0x%x",
                      plan.kindFlags, job.oldLayout ? "old" : "normal", c.summary.header.kindFlags);
        differences.push_back(text);
    }
    for (std::size_t i = 0; i < plan.parts.size(); ++i)
        comparePart(plan.parts[i], i < c.parts.size() ? &c.parts[i] : nullptr, job, differences);
    for (std::size_t i = plan.parts.size(); i < c.parts.size(); ++i)
        differences.push_back(escapeText(partLabel(c.parts[i])) + ": no argument packs it");
    return true;
}

}  // namespace fw
