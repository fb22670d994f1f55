// The package as a CycloneDX 1.6 bill of materials (JSON, ECMA-424): the
// package, each part with its digests, and links to the images' own bills.
// Made from what the one read of the package found, and nothing else, so
// the same package and arguments give the same bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "inspect/check/signature_check.h"
#include "inspect/reader/package_reader.h"
#include "inspect/sbom/linked_bom.h"

namespace fw {

struct SbomFacts {
    PackageSummary summary;
    std::vector<std::uint32_t> boards;
    std::vector<PartReport> parts;
    std::vector<std::uint8_t> sha256;  // of the whole package file
    std::vector<LinkedBom> linked;     // each names a part by its label
    std::optional<SignatureReport> signature;  // checked and valid, when --ca was given
    std::int64_t timestamp = 0;        // seconds since 1970 UTC
    std::string toolVersion;
};

std::string sbomDocument(const SbomFacts& facts);

// "urn:uuid:…": a name-based UUID (RFC 9562 version 8, over SHA-256) of
// the document as it reads without its serial number.
std::string serialNumberOf(const std::string& unnumbered);

// RFC 3339 UTC, "2023-11-14T22:13:20Z"; years 1 to 9999 only.
std::string rfc3339Seconds(std::int64_t seconds);
constexpr std::int64_t latestTimestamp = 253'402'300'799;  // 9999-12-31T23:59:59Z

// A file path as a URI reference (RFC 3986, and so an IRI reference):
// separators as '/', every byte but ASCII letters, digits and
// -._~!$&'()*+,;=@/ percent-encoded, an absolute path as a file: URI.
std::string iriReferenceOf(const std::string& path);

}  // namespace fw
