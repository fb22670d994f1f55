// The format's rules, checked on records the reader has already read:
// each check appends what it finds wrong, in words, and the reader adds
// which part it was. Nothing here reads a file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "format/kinds.h"
#include "format/records.h"

namespace fw {

using Defects = std::vector<std::string>;

// The longest name field a part name can have.
inline constexpr std::uint32_t largestNameField = nameFieldLengthOf(maxPartNameLength);

// Whether a kind carries a name or path field in front of its input.
constexpr bool carriesName(PartKind kind) {
    return kind != PartKind::unknown && kindInfo(kind).nameField != NameField::none;
}

struct HeaderVerdict {
    bool readable = false;      // the tables lie in the file: the parts can be read
    bool beyondFormat = false;  // it claims more boards than any package holds
    std::uint32_t examined = 0; // the parts worth reading: at most a package's worth
};

// A header that lies whole in a file of `fileSize` bytes.
HeaderVerdict checkPackageHeader(const PackageHeaderBytes& raw, std::uint64_t fileSize, Defects& defects);

// A part header at `offset`, whose type code reads as `kind`; true when
// its data lies inside the file.
bool checkPartFields(const PartHeaderBytes& raw, PartKind kind, std::uint64_t offset, std::uint64_t fileSize,
                     Defects& defects);

// Whether the name field's length fits the kind; only then are its bytes
// worth reading and checking with checkNameFieldBytes.
bool checkNameFieldShape(PartKind kind, const PartHeader& header, Defects& defects);
// `field` holds the header's nameLength bytes, `name` them up to the first zero.
void checkNameFieldBytes(PartKind kind, const PartHeader& header, const std::uint8_t* field, const std::string& name,
                         Defects& defects);

// The writing order: fixed kinds once each in their order, then mtd parts
// by rising index, then named parts.
class WritingOrder {
public:
    // False when the part breaks the order after the parts before it.
    bool admits(PartKind kind, std::uint32_t mtdIndex);

private:
    int previousRank_ = -1;
    std::uint32_t previousMtdIndex_ = 0;
};

// The magic as its four characters, for messages.
std::string magicText(std::uint32_t magic);

}  // namespace fw
