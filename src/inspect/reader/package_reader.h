// Reads a package back and checks everything the format promises. The
// structure (header, tables, part headers and name fields) is read first,
// at most the parts a package can hold; then the data is read once, each
// part's digest computed on one of the machine's cores, largest parts
// first, with at most a few pieces per core in memory whatever the package.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "format/kinds.h"
#include "format/part_identity.h"
#include "format/records.h"

namespace fw {

struct PackageSummary {
    std::string path;
    std::uint64_t fileSize = 0;
    std::int64_t modified = 0;  // the file's last write, seconds since 1970 UTC
    PackageHeader header;
    bool oldLayout = false;
    const char* layoutReason = "";
    // Nothing in the package told the layouts apart and the reading matters.
    bool layoutGuessed = false;
    // The header and its tables lie in the file; false when it is no package.
    bool structureRead = false;
    // Its header claims more than any package holds; the file is then not
    // read whole (InspectionOptions::packageBytes gets nothing).
    bool beyondFormat = false;
    // The parts' data is read and digested (InspectionOptions::readData).
    bool dataRead = true;
};

struct PartReport {
    std::uint32_t number = 0;
    std::uint64_t offset = 0;
    bool headerRead = false;
    PartHeader header;
    PartKind kind = PartKind::unknown;
    std::string name;         // a named part's name, the tar part's target path
    bool dataInside = false;  // the data lies inside the file
    bool overlaps = false;    // shares bytes with the tables or an earlier part
    bool digested = false;    // its data was read and digested
    bool digestOk = false;
    Digest actualDigest{};
    std::vector<std::uint8_t> sha256Digest;  // from InspectionOptions::partSha256, when asked for
    // The input's own bytes, without a name or path field: what md5sum,
    // sha256sum and stat of the file that was packed give. For parts
    // without such a field these are the data's own digests.
    std::uint64_t contentLength = 0;
    Digest contentDigest{};
    std::vector<std::uint8_t> contentSha256Digest;
};

// Where a part's input bytes start within its data, and how many there are.
std::uint32_t contentOffset(const PartReport& part);

// Which part it is, as far as its header could be read.
PartIdentity partIdentityOf(const PartReport& part);
// A named part's name as text (its field holds the code page's bytes on
// Windows), or the tar part's target path.
std::string nameText(const PartReport& part);
// "part 6 (named abcde)", "part 4 (mtd -p3)", "part 0 (boot)": how defects
// and reports name a part. The name is raw bytes; printing escapes it.
std::string partLabel(const PartReport& part);

// Receives what the inspection finds: the summary and boards first, then
// the structural defects, then the parts in table order with their digests.
class InspectionSink {
public:
    virtual ~InspectionSink() = default;
    virtual void summary(const PackageSummary&) {}
    virtual void board(std::uint32_t) {}
    virtual void part(const PartReport&) {}
    virtual void defect(const std::string&) {}
};

// Receives the data of every part that is digested, as it is read. Each
// byte comes once, but the pieces of one part may come in any order and
// from several threads at once; `end` follows the last of them.
class PartDataSink {
public:
    virtual ~PartDataSink() = default;
    // Once the structure is known, before any data is read; false ends the
    // inspection there.
    virtual bool prepare(const PackageSummary&, const std::vector<PartReport>&) { return true; }
    // `at` counts from the first data byte, name or path field included.
    virtual void data(const PartReport&, std::uint64_t at, const std::uint8_t* bytes, std::size_t count) = 0;
    virtual void end(const PartReport&, bool digestOk) = 0;
};

// A part's SHA-256 beside its MD5, for records that ask for a stronger
// digest; made by the layer that owns SHA-256.
class StreamDigest {
public:
    virtual ~StreamDigest() = default;
    virtual void update(const std::uint8_t* bytes, std::size_t count) = 0;
    virtual std::vector<std::uint8_t> finish() = 0;
};

// How to read the type codes: as the bytes suggest, or as the user says.
enum class LayoutChoice { guess, normal, old };

// For tests: moments and limits that no run meets on demand.
struct InspectionTestHooks {
    // Runs between reading the structure and reading the data.
    std::function<void()> afterStructure;
    // Sees each piece the package is read whole in, as storage that
    // answers two reads of one place differently could change it.
    std::function<void(std::uint64_t at, std::uint8_t* bytes, std::size_t count)> tamperRead;
    // Pieces of data in memory after this many cannot be had, as when
    // memory runs out.
    std::size_t piecesThatFit = SIZE_MAX;
};

struct InspectionOptions {
    // The task the progress line names: the command's verb.
    std::string action = "read";
    // What is read and checked.
    LayoutChoice layout = LayoutChoice::guess;
    std::optional<std::uint32_t> requiredBoard;
    // Also digest the input's own bytes of each part with a name or path
    // field (PartReport::content*): a second pass of MD5 over the largest
    // parts, so only for the reports that show them.
    bool inputDigests = false;
    // Read the parts' data at all. Without it only the structure is read, a
    // few KiB whatever the package's size, and no digest is checked.
    bool readData = true;

    // Who is handed what is read, beside the checks. Set packageBytes and
    // the package is read whole, in order (for its digest).
    PartDataSink* partData = nullptr;
    // Every byte of the package in order, from one thread, beside the
    // digests of the parts.
    std::function<void(const std::uint8_t*, std::size_t)> packageBytes;
    // Once packageBytes has seen the last byte (true), or the package could
    // not be read whole (false); never called when it is not read whole.
    std::function<void(bool whole)> packageBytesEnd;
    // Makes each part's SHA-256, when set.
    std::function<std::unique_ptr<StreamDigest>()> partSha256;
    // Asked between pieces of data; true ends the inspection as stopped.
    std::function<bool()> stopRequested;

    InspectionTestHooks test;
};

enum class InspectionResult { sound, defective, unreadable, stopped };

// `why`, for an unreadable package, gets the system's reason, or says that
// memory ran out, on any of the reader's threads.
InspectionResult inspectPackage(const char* path, const InspectionOptions& options, InspectionSink& sink,
                                std::string* why);

}  // namespace fw
