#include "inspect/diff/diff.h"

#include <algorithm>

#include "inspect/diff/diff_report.h"
#include "inspect/check/sha256_listing.h"
#include "inspect/text/json_text.h"
#include "inspect/text/tool_messages.h"
#include "platform/console_text.h"

namespace fw {
namespace {

// False, with the reason on `err` and in `why`, when the file cannot be
// read or is no package.
bool readContents(const char* path, const InspectionOptions& options, PackageContents& into, std::FILE* err,
                  std::string* why) {
    ContentsCollector collector(into, err);
    if (inspectPackage(path, options, collector, why) == InspectionResult::unreadable) {
        printCannotRead(err, path, *why);
        return false;
    }
    if (!into.summary.structureRead) {
        const std::string reason = into.defects.kept.empty() ? "" : ": " + into.defects.kept.front();
        error(err, "%s is not a package%s", escapePath(path).c_str(), escapeText(reason).c_str());
        *why = std::string("not a package").append(reason);
        return false;
    }
    return true;
}

std::vector<std::uint32_t> sortedOnce(std::vector<std::uint32_t> codes) {
    std::sort(codes.begin(), codes.end());
    codes.erase(std::unique(codes.begin(), codes.end()), codes.end());
    return codes;
}

// Unknown kinds are told apart by their type code too.
std::string diffKeyOf(const PartReport& r) {
    std::string identity = describe(partIdentityOf(r));
    if (r.kind == PartKind::unknown) identity += " type " + std::to_string(r.header.typeCode);
    return identity;
}

// Parts whose header could be read.
std::vector<const PartReport*> readable(const std::vector<PartReport>& parts) {
    std::vector<const PartReport*> read;
    for (const PartReport& r : parts)
        if (r.headerRead) read.push_back(&r);
    return read;
}

std::vector<std::string> keysOf(const std::vector<const PartReport*>& parts) {
    std::vector<std::string> keys;
    for (const PartReport* r : parts) keys.push_back(diffKeyOf(*r));
    return keys;
}

// Which of a part's header fields and data differ; false when none does.
bool noteDifferences(PartChange& c) {
    c.typeCode = c.before->header.typeCode != c.after->header.typeCode;
    c.length = c.before->header.dataLength != c.after->header.dataLength;
    c.digest = dataDigestOf(*c.before) != dataDigestOf(*c.after);
    return c.typeCode || c.length || c.digest;
}

// Codes of `these` that `other` lacks, each once, in rising order.
std::vector<std::uint32_t> missingFrom(const std::vector<std::uint32_t>& these, const std::vector<std::uint32_t>& other) {
    const std::vector<std::uint32_t> a = sortedOnce(these), b = sortedOnce(other);
    std::vector<std::uint32_t> missing;
    std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(missing));
    return missing;
}

// The parts both packages hold, in the old package's order, stand at
// rising places in the new one unless the order changed; those out of
// place are named, in each package's order.
void notePartOrder(const std::vector<const PartReport*>& after,
                   const std::vector<std::size_t>& match, PackageDiff& diff) {
    for (const Reordered& r : reorderedMatches(match)) {
        diff.orderBefore.push_back(diffKeyOf(*after[r.expected]));
        diff.orderAfter.push_back(diffKeyOf(*after[r.held]));
    }
}

}  // namespace

const Digest& dataDigestOf(const PartReport& r) { return r.digested ? r.actualDigest : r.header.digest; }

bool PackageDiff::same() const {
    return changes.empty() && boardsAdded.empty() && boardsRemoved.empty() && !boardOrder() && orderBefore.empty() &&
           before.summary.oldLayout == after.summary.oldLayout &&
           before.summary.header.kindFlags == after.summary.header.kindFlags;
}

bool PackageDiff::boardOrder() const {
    return boardsAdded.empty() && boardsRemoved.empty() && before.boards != after.boards;
}

void comparePackages(PackageDiff& diff) {
    diff.boardsAdded = missingFrom(diff.after.boards, diff.before.boards);
    diff.boardsRemoved = missingFrom(diff.before.boards, diff.after.boards);
    const auto before = readable(diff.before.parts), after = readable(diff.after.parts);
    const std::vector<std::size_t> match = matchByKey(keysOf(before), keysOf(after));
    std::vector<bool> matched(after.size());
    for (std::size_t i = 0; i < before.size(); ++i) {
        const PartReport* old = before[i];
        PartChange c{PartChange::What::removed, diffKeyOf(*old), old};
        if (match[i] != unmatched) {
            matched[match[i]] = true;
            c.what = PartChange::What::changed;
            c.after = after[match[i]];
            if (!noteDifferences(c)) {
                ++diff.unchanged;
                continue;
            }
        }
        diff.changes.push_back(c);
    }
    for (std::size_t j = 0; j < after.size(); ++j)
        if (!matched[j]) diff.changes.push_back({PartChange::What::added, diffKeyOf(*after[j]), nullptr, after[j]});
    notePartOrder(after, match, diff);
}

int diffPackages(const char* oldPath, const char* newPath, const DiffOptions& options, std::FILE* out,
                 std::FILE* err) {
    PackageDiff diff;
    InspectionOptions inspection = options.inspection;
    inspection.inputDigests = true;
    Sha256Listing::attachParts(inspection);
    std::string why;
    for (const auto& [path, side] : {std::pair{oldPath, &diff.before}, std::pair{newPath, &diff.after}})
        if (!readContents(path, inspection, *side, err, &why)) {
            if (options.json) printText(out, unreadableJson(path, why, "\"same\":false").c_str());
            return 2;
        }
    comparePackages(diff);
    if (options.json) printDiffJson(diff, out);
    else printDiffText(diff, out);
    // Between damaged packages "same" or "different" would be a guess.
    if (!diff.before.defects.kept.empty() || !diff.after.defects.kept.empty()) return 2;
    return diff.same() ? 0 : 1;
}

}  // namespace fw
