// Packages written byte by byte from the layout rules, with the format's
// numbers written out here again rather than taken from the tools' tables:
// the writer is checked against this independent picture of the format,
// and the reader gets the packages the packer never makes (hostile tables,
// no board code, names fwpack refuses, damaged parts).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "format/kinds.h"
#include "support/test_support.h"

namespace fwtest {

struct RawPart {
    std::uint32_t typeCode = 0;
    Bytes data;  // name or path field included
    std::uint32_t nameLength = 0;
    std::uint32_t partIndex = 0;
};

// The tar part's target path, as fwpack writes it in front of the archive.
inline const std::string tarPath = "/usr/etc/sata/sda0/tarfileupdate.tar.gz";

// `name` in a field of `fieldLength` bytes, padded with zeros.
Bytes nameField(const std::string& name, std::size_t fieldLength);
Bytes concat(Bytes a, const Bytes& b);

RawPart fixedPart(fw::PartKind kind, const Bytes& content, bool oldLayout = false);
RawPart mtdPart(std::uint32_t index, const Bytes& content);
// The name padded with zeros to a multiple of 4, any length.
RawPart namedPart(const std::string& name, const Bytes& content);

// Header, boards, part table and parts where the layout puts them, each
// digest the MD5 of its data, the header's kind bits `kindFlags`.
Bytes expectedPackage(std::uint32_t kindFlags, const std::vector<std::uint32_t>& boards,
                      const std::vector<RawPart>& parts);
// The same with the kind bits those of the parts.
Bytes buildPackage(const std::vector<std::uint32_t>& boards, const std::vector<RawPart>& parts,
                   bool oldLayout = false);

// One boot part of `dataLength` bytes (the header's sanity check wants
// 56 bytes of file per entry, so make it at least 60 times `entries`), and a part table of `entries` words that
// all point at it: without bounds, each entry would read the part again.
Bytes oneTargetManyEntries(std::uint32_t entries, std::uint32_t dataLength);

}  // namespace fwtest
