#include "inspect/lint/lint_package.h"

#include <algorithm>

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

std::string quotedInput(const PlannedPart& p) { return std::string("'").append(escapePath(p.path)).append("'"); }

// Whether the part holds the input's bytes as they are now.
void compareBytes(const PlannedPart& p, const PartReport& r, std::vector<std::string>& out) {
    Digest digest{};
    const std::int64_t length = digestFile(digest, nullptr, 0, p.path);
    if (length < 0) {
        out.push_back(escapeText(partLabel(r)) + ": its input " + quotedInput(p) + " cannot be read");
        return;
    }
    if (!r.digested || static_cast<std::uint64_t>(length) != r.contentLength || digest != r.contentDigest)
        out.push_back(escapeText(partLabel(r)) + ": not the bytes of " + quotedInput(p) + " (" + std::to_string(length) +
                      " bytes, md5 " + hexDigest(digest) + "; the part holds " + std::to_string(r.contentLength) +
                      " bytes, md5 " + hexDigest(r.contentDigest) + ")");
}

// The writer's order is fixed for every kind but the named parts, which
// follow their -n arguments; parts both sides hold that stand elsewhere
// among them make other bytes. `match` pairs planned with held parts.
void compareOrder(const std::vector<std::size_t>& match, const std::vector<std::string>& held,
                  std::vector<std::string>& out) {
    std::vector<std::string> planned, holds;
    for (const Reordered& r : reorderedMatches(match)) {
        planned.push_back(held[r.expected]);
        holds.push_back(held[r.held]);
    }
    if (!planned.empty())
        out.push_back("the parts stand in another order: the arguments pack " + escapedList(planned) +
                      "; the package holds " + escapedList(holds));
}

// Parts are matched by identity, as diff matches them, so a part left out
// of the arguments is one difference, not one for every part after it.
// Returns the kind bits of the parts only one side has: a difference in
// the header's kind bits that these explain is no difference of its own.
std::uint32_t compareParts(const PackagePlan& plan, const PackageJob& job, const std::vector<PartReport>& parts,
                  std::vector<std::string>& out) {
    std::vector<std::string> planned, held;
    std::vector<const PartReport*> read;
    for (const PlannedPart& p : plan.parts) planned.push_back(describe(plannedIdentityOf(p, job)));
    for (const PartReport& r : parts)
        if (r.headerRead) {
            read.push_back(&r);
            held.push_back(describe(partIdentityOf(r)));
        }
    const std::vector<std::size_t> match = matchByKey(planned, held);
    std::vector<bool> packed(read.size());
    std::uint32_t oneSided = 0;
    for (std::size_t i = 0; i < planned.size(); ++i) {
        if (match[i] == unmatched) {
            oneSided |= kindBitOf(plan.parts[i].kind, job.oldLayout != 0);
            out.push_back("the arguments pack " + escapeText(planned[i]) + " from " + quotedInput(plan.parts[i]) +
                          "; the package has no such part");
            continue;
        }
        packed[match[i]] = true;
        compareBytes(plan.parts[i], *read[match[i]], out);
    }
    for (std::size_t j = 0; j < read.size(); ++j)
        if (!packed[j]) {
            oneSided |= kindBitOf(read[j]->kind, job.oldLayout != 0);
            out.push_back(escapeText(partLabel(*read[j])) + ": no argument packs it");
        }
    compareOrder(match, held, out);
    return oneSided;
}

}  // namespace

bool comparePackageWithJob(const std::string& path, const PackageJob& job, std::vector<std::string>& differences,
                           std::string* why) {
    InspectionOptions options;
    options.layout = job.oldLayout ? LayoutChoice::old : LayoutChoice::normal;
    options.inputDigests = true;
    options.action = "lint";
    PackageContents c;
    ContentsCollector collector(c);
    if (inspectPackage(path.c_str(), options, collector, why) == InspectionResult::unreadable) return false;
    for (const std::string& d : c.defects.kept) differences.push_back("the package has a defect: " + escapeText(d));
    if (!c.summary.structureRead) return true;
    const PackagePlan plan = planPackage(job);
    if (c.boards != std::vector<std::uint32_t>(job.boardTypes.begin(), job.boardTypes.begin() + job.boardCount))
        differences.push_back("boards: the arguments give " + boardList(job.boardTypes.data(), job.boardCount) +
                              ", the package holds " + boardList(c.boards.data(), c.boards.size()));
    std::vector<std::string> parts;
    const std::uint32_t explained = compareParts(plan, job, c.parts, parts);
    if (((c.summary.header.kindFlags ^ plan.kindFlags) & ~explained) != 0) {
        char text[160];
        std::snprintf(text, sizeof text, "kind bits: the arguments give 0x%x in the %s layout, the package holds 0x%x",
                      plan.kindFlags, job.oldLayout ? "old" : "normal", c.summary.header.kindFlags);
        differences.push_back(text);
    }
    differences.insert(differences.end(), parts.begin(), parts.end());
    return true;
}

}  // namespace fw
