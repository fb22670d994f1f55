#include "format/part_identity.h"

#include <algorithm>
#include <map>

namespace fw {

std::string describe(const PartIdentity& p) {
    return p.kind == PartKind::named ? "named " + p.name : shownLabel(p);
}

std::string labelOf(const PartIdentity& p) {
    if (p.kind == PartKind::mtd) return "-p" + std::to_string(p.mtdIndex);
    if (p.kind == PartKind::named) return p.name;
    return std::string(kindName(p.kind));
}

std::string partitionOf(const PartIdentity& p) {
    if (p.kind != PartKind::mtd || p.mtdIndex == 0) return "";
    return "mtd" + std::to_string(p.mtdIndex - 1);
}

std::string shownLabel(const PartIdentity& p) {
    const std::string partition = partitionOf(p);
    return partition.empty() ? labelOf(p) : labelOf(p) + " (" + partition + ")";
}

bool labelNames(const std::string& value, const PartIdentity& part, bool someLabelIs) {
    return value == labelOf(part) || (!someLabelIs && value == partitionOf(part));
}

std::string fileNameOf(const PartIdentity& p) {
    if (p.kind == PartKind::unknown) return "";
    if (p.kind == PartKind::named) return p.name;
    if (p.kind == PartKind::mtd) return p.mtdIndex == 0 ? "" : partitionOf(p) + ".img";
    return std::string(kindInfo(p.kind).fileName);
}

std::vector<std::string> packerArguments(const PartIdentity& p) {
    if (p.kind == PartKind::unknown) return {};
    if (p.kind == PartKind::mtd) return {"-p" + std::to_string(p.mtdIndex)};
    if (p.kind == PartKind::named) return {"-n", p.name};
    return {std::string(kindInfo(p.kind).option)};
}

std::vector<std::size_t> matchByKey(const std::vector<std::string>& first, const std::vector<std::string>& second) {
    std::map<std::string, std::vector<std::size_t>> waiting;  // positions in `second`, last one first
    for (std::size_t j = second.size(); j-- > 0;) waiting[second[j]].push_back(j);
    std::vector<std::size_t> match(first.size(), unmatched);
    for (std::size_t i = 0; i < first.size(); ++i) {
        auto it = waiting.find(first[i]);
        if (it == waiting.end() || it->second.empty()) continue;
        match[i] = it->second.back();
        it->second.pop_back();
    }
    return match;
}

std::vector<Reordered> reorderedMatches(const std::vector<std::size_t>& match) {
    std::vector<std::size_t> common;  // second-side positions, in the first side's order
    for (std::size_t j : match)
        if (j != unmatched) common.push_back(j);
    std::vector<std::size_t> sorted = common;
    std::sort(sorted.begin(), sorted.end());
    std::vector<Reordered> out;
    for (std::size_t k = 0; k < common.size(); ++k)
        if (common[k] != sorted[k]) out.push_back({common[k], sorted[k]});
    return out;
}

}  // namespace fw
