// Which part of a package a part is: its kind, and for an mtd part its
// index, for a named part its name. Every place that names a part, or
// tells two packages' parts apart, asks this one record, so a kind's
// label, file name and packer arguments are decided here only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "format/kinds.h"

namespace fw {

struct PartIdentity {
    PartKind kind = PartKind::unknown;
    std::uint32_t mtdIndex = 0;  // 1 to 20 for an mtd part (-p1 is mtd0)
    std::string name;            // a named part's name; raw bytes
};

// "boot", "-p3 (mtd2)", "named abcde": how defects, diff and lint name a
// part. Two packages' parts with equal descriptions are the same part in each.
std::string describe(const PartIdentity& part);
// "boot", "-p3", "abcde": the label extract --part takes and JSON gives.
std::string labelOf(const PartIdentity& part);
// "mtd2" for -p3: the flash partition an mtd part is written to, which
// extract --part takes too; empty for other kinds and for index 0.
std::string partitionOf(const PartIdentity& part);
// "boot", "-p3 (mtd2)", "abcde": the label with the partition beside it,
// as every listing shows it, so one partition has one name everywhere.
std::string shownLabel(const PartIdentity& part);
// Whether `value`, as --part takes it, names the part: its label, or an mtd
// part's partition where no part of the package has that label (a named
// part may be called mtd2: `someLabelIs`).
bool labelNames(const std::string& value, const PartIdentity& part, bool someLabelIs);
// "boot.img", "mtd2.img", "abcde": what extraction calls the part's file;
// empty for a kind the layout never writes.
std::string fileNameOf(const PartIdentity& part);
// The packer's arguments before the part's file: {"-u"}, {"-p3"},
// {"-n", "abcde"}; none for a kind the layout never writes.
std::vector<std::string> packerArguments(const PartIdentity& part);

// Pairs the parts of two lists that are the same part: each list gives
// one key per part (describe(), or more where that cannot tell two parts
// apart), and a key that repeats within a list pairs occurrence by
// occurrence. For each key of `first`, the position in `second` of its
// match, or unmatched.
inline constexpr std::size_t unmatched = static_cast<std::size_t>(-1);
std::vector<std::size_t> matchByKey(const std::vector<std::string>& first, const std::vector<std::string>& second);

// The matched pairs that stand in another order on the second side: in the
// first side's order, each out-of-place pair as {the second side's position
// of that pair, the position that side holds there instead}.
struct Reordered {
    std::size_t expected, held;
};
std::vector<Reordered> reorderedMatches(const std::vector<std::size_t>& match);

}  // namespace fw
