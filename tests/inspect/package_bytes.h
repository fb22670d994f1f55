// Packages written byte by byte, for the cases the packer never makes:
// hostile tables, no board code, names fwpack refuses, damaged parts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "format/kinds.h"
#include "test_support.h"

namespace fwtest {

struct RawPart {
    std::uint32_t typeCode = 0;
    Bytes data;  // name or path field included
    std::uint32_t nameLength = 0;
    std::uint32_t partIndex = 0;
};

RawPart fixedPart(fw::PartKind kind, const Bytes& content, bool oldLayout = false);
RawPart mtdPart(std::uint32_t index, const Bytes& content);
// The name padded with zeros to a multiple of 4, any length.
RawPart namedPart(const std::string& name, const Bytes& content);

// Header, boards, part table and parts where the layout puts them, each
// digest the MD5 of its data, kind bits those of the parts.
Bytes buildPackage(const std::vector<std::uint32_t>& boards, const std::vector<RawPart>& parts,
                   bool oldLayout = false);

// One boot part of `dataLength` bytes (the header's sanity check wants
// 56 bytes of file per entry, so make it at least 60 times `entries`), and a part table of `entries` words that
// all point at it: without bounds, each entry would read the part again.
Bytes oneTargetManyEntries(std::uint32_t entries, std::uint32_t dataLength);

struct InspectOutcome {
    int status;
    std::string out, err;
};
// fwinspect in this process, on these arguments.
InspectOutcome fwinspect(const std::vector<std::string>& args);

// For the signing tests: a shell script run quietly in `dir` (written there
// as a file, so its quotes stay its own), or one openssl call run there.
bool runScriptIn(const ScratchDir& dir, const std::string& script);
bool opensslIn(const ScratchDir& dir, const std::string& arguments);

// Runs python3 on `json`, printing `expression` (over the parsed document
// `d`); what it printed, or "no python3" when there is none to run.
std::string pythonJson(const std::string& json, const std::string& expression);
bool pythonAvailable();

}  // namespace fwtest

// Checks what python3 reads from a JSON document; where there is no python3
// (a Windows test run) the test ends as skipped, after every check before it.
#define EXPECT_PYTHON_JSON(json, expression, expected)                                 \
    do {                                                                                \
        if (!fwtest::pythonAvailable()) GTEST_SKIP() << "no python3 to read the JSON";  \
        EXPECT_EQ(fwtest::pythonJson(json, expression), expected);                     \
    } while (false)
