#include "inspect/lint/lint_package.h"

#include "digest/file_digest.h"
#include "inspect/text/plain_text.h"
#include "inspect/reader/package_reader.h"
#include "package/part_plan.h"

namespace fw {
namespace {

class Collector : public InspectionSink {
public:
    void summary(const PackageSummary& s) override { summary_ = s; }
    void board(std::uint32_t code) override { boards_.push_back(code); }
    void part(const PartReport& r) override { parts_.push_back(r); }
    void defect(const std::string& text) override { defects_.add(text); }

    PackageSummary summary_;
    std::vector<std::uint32_t> boards_;
    std::vector<PartReport> parts_;
    DefectList defects_;
};

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
    Collector c;
    if (inspectPackage(path.c_str(), options, c, why) == InspectionResult::unreadable) return false;
    for (const std::string& d : c.defects_.kept) differences.push_back("the package has a defect: " + escapeText(d));
    if (!c.summary_.structureRead) return true;
    const PackagePlan plan = planPackage(job);
    if (c.boards_ != std::vector<std::uint32_t>(job.boardTypes.begin(), job.boardTypes.begin() + job.boardCount))
        differences.push_back("boards: the arguments give " + boardList(job.boardTypes.data(), job.boardCount) +
                              ", the package holds " + boardList(c.boards_.data(), c.boards_.size()));
    if (c.summary_.header.kindFlags != plan.kindFlags) {
        char text[160];
        std::snprintf(text, sizeof text, "kind bits: the arguments give 0x%x in the %s layout, the package holds 0x%x",
                      plan.kindFlags, job.oldLayout ? "old" : "normal", c.summary_.header.kindFlags);
        differences.push_back(text);
    }
    for (std::size_t i = 0; i < plan.parts.size(); ++i)
        comparePart(plan.parts[i], i < c.parts_.size() ? &c.parts_[i] : nullptr, job, differences);
    for (std::size_t i = plan.parts.size(); i < c.parts_.size(); ++i)
        differences.push_back(escapeText(partLabel(c.parts_[i])) + ": no argument packs it");
    return true;
}

}  // namespace fw
