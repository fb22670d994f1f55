// How fwinspect shows what an inspection finds: a table for people, one
// JSON document for programs, or only the defects.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "inspect/json_text.h"
#include "inspect/package_reader.h"

namespace fw {

// Printable ASCII stays; a backslash and every other byte become \\ and \xNN.
std::string escapeText(const std::string& bytes);
// A path the same way, except that its separators print as themselves (a
// Windows path's backslash too).
std::string escapePath(const std::string& path);
std::string hexDigest(const Digest& digest);
std::string hexBytes(const std::vector<std::uint8_t>& bytes);
// "1 part", "2 parts": a count and its noun, singular or plural.
std::string counted(std::uint64_t n, const char* noun);
// A board code as fwpack -b takes it: at least four lower-case hex digits.
std::string boardCodeText(std::uint32_t code);

// A damaged package can have a defect per part; the reports that collect
// them keep the first thousand and say that more were left out.
struct DefectList {
    std::vector<std::string> kept;
    void add(const std::string& text);
};

// Tar and named parts carry a path or name in front of the input's bytes,
// so their own digests are not the input's.
bool hasContentField(const PartReport& part);
// `,"input":{"length":...,"md5":...,"sha256":...}`: the input's bytes alone,
// as md5sum, sha256sum and stat of it give them.
std::string contentMember(const PartReport& part);

enum class ReportStyle { table, json, defectsOnly };

// One signer of a signature and what became of it.
struct SignerLine {
    std::string subject;      // empty when its certificate was not found
    std::string signingTime;  // empty when not signed in
    std::string defect;       // empty when accepted
    bool accepted = false;
};

// What the check of a package's detached signature found.
struct SignatureReport {
    std::string file;
    bool checked = false;  // the check ran to a verdict
    bool valid = false;
    std::string signer;       // the accepted signer's subject, else the first found
    std::string signingTime;  // the accepted signer's, when it signed one in
    std::string defect;       // empty when valid
    std::vector<SignerLine> signers;
};

class ReportSink : public InspectionSink {
public:
    // The SHA-256 of the whole package file, when it was asked for.
    virtual void packageDigest(const std::vector<std::uint8_t>&) {}
    virtual void signature(const SignatureReport&) {}
    // Closes the report once the inspection is over.
    virtual void finish(InspectionResult result) = 0;
};

std::unique_ptr<ReportSink> makeReport(ReportStyle style, std::FILE* out);

// One line on `err` when the package's layout could only be guessed.
void noteGuessedLayout(const PackageSummary& summary, std::FILE* err);
// "fwinspect: cannot read PATH: WHY", for a package that cannot be opened.
void printCannotRead(std::FILE* err, const std::string& path, const std::string& why);

}  // namespace fw
