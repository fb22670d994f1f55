// fwinspect diff: what differs between two packages, by content. Parts are
// matched by identity (the fixed kind, the mtd index, the part name), so a
// part that moved within the table is the same part, and an mtd image
// under another index or a renamed part is one removed and one added.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "inspect/reader/package_reader.h"
#include "inspect/report/package_contents.h"
#include "inspect/text/plain_text.h"

namespace fw {

struct PartChange {
    enum class What { added, removed, changed };
    What what = What::changed;
    std::string identity;                // describe(partIdentityOf(part)), with the type code for an unknown kind
    const PartReport* before = nullptr;  // in the old package; null when added
    const PartReport* after = nullptr;   // in the new package; null when removed
    bool typeCode = false, length = false, digest = false;  // what changed
};

struct PackageDiff {
    PackageContents before, after;  // boards in table order
    std::vector<std::uint32_t> boardsAdded, boardsRemoved;
    // The same codes in another order or with other repeats: the bytes
    // differ, whatever the board's updater makes of the order.
    bool boardOrder() const;
    std::vector<PartChange> changes;
    std::size_t unchanged = 0;
    // The parts both hold, each package's table order, when the orders
    // differ (named parts stand in the order of their -n): other bytes.
    std::vector<std::string> orderBefore, orderAfter;
    bool same() const;
};

// The digest of a part's content: the one computed from its data when it
// was read, else the one its header records.
const Digest& dataDigestOf(const PartReport& part);

// Compares two packages that have been read.
void comparePackages(PackageDiff& diff);

struct DiffOptions {
    InspectionOptions inspection;
    bool json = false;
};

// Returns the exit status: 0 the packages hold the same boards and parts,
// 1 they differ, 2 either cannot be read or is not a package.
int diffPackages(const char* oldPath, const char* newPath, const DiffOptions& options, std::FILE* out,
                 std::FILE* err);

}  // namespace fw
