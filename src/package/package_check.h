// Reads a package back and checks everything the format promises. The
// package is streamed: one part at a time, its digest computed piece by
// piece, so memory does not grow with the package.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "package/records.h"

namespace fw {

enum class PartKind { boot, kernel, rfs, app, config, logo, chlogo, tar, flash, named, mtd, unknown };

const char* partKindName(PartKind kind);

struct PackageSummary {
    std::string path;
    std::uint64_t fileSize = 0;
    PackageHeader header;
    bool oldLayout = false;
    const char* layoutReason = "";
};

struct PartReport {
    std::uint32_t number = 0;
    std::uint64_t offset = 0;
    bool headerRead = false;
    PartHeader header;
    PartKind kind = PartKind::unknown;
    std::string name;        // a named part's name, the tar part's target path
    bool dataInside = false;  // the data lies inside the file
    bool digestOk = false;
    Digest actualDigest{};
};

// Receives what the inspection finds, in file order.
class InspectionSink {
public:
    virtual ~InspectionSink() = default;
    virtual void summary(const PackageSummary&) {}
    virtual void board(std::uint32_t) {}
    virtual void part(const PartReport&) {}
    virtual void defect(const std::string&) {}
};

struct InspectionOptions {
    bool forceOld = false;
    std::optional<std::uint32_t> requiredBoard;
    bool checkDigests = true;  // off only to read again a package just verified
};

enum class InspectionResult { sound, defective, unreadable };

InspectionResult inspectPackage(const char* path, const InspectionOptions& options, InspectionSink& sink);

// Part kinds by type code in either layout; unknown for codes the layout never writes.
PartKind kindOfTypeCode(std::uint32_t typeCode, bool oldLayout);
std::uint32_t kindBitOf(PartKind kind, bool oldLayout);

}  // namespace fw
