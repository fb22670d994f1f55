#include "inspect/sbom/sbom.h"

#include <algorithm>
#include <memory>

#include "inspect/check/sha256_listing.h"
#include "inspect/report/layout_note.h"
#include "inspect/report/report.h"
#include "inspect/sbom/sbom_document.h"
#include "inspect/text/tool_messages.h"
#include "platform/console_text.h"
#include "platform/files.h"
#include "platform/process_start.h"
#include "platform/standard_streams.h"
#include "platform/whole_file.h"

namespace fw {
namespace {

// Keeps what the document is made of; says the defects as verify does.
class SbomCollector : public InspectionSink {
public:
    explicit SbomCollector(std::FILE* err) : defects_(makeReport(ReportStyle::defectsOnly, err)), err_(err) {}
    void summary(const PackageSummary& s) override {
        noteGuessedLayout(s, err_);
        facts.summary = s;
        defects_->summary(s);
    }
    void board(std::uint32_t code) override { facts.boards.push_back(code); }
    void part(const PartReport& r) override {
        facts.parts.push_back(r);
        defects_->part(r);
    }
    void defect(const std::string& text) override { defects_->defect(text); }
    // Each signer's verdict, as verify gives it, where the signature is why no document is written.
    void refusedSignature(const SignatureReport& report) { defects_->signature(report); }
    void finishDefects(InspectionResult result) { defects_->finish(result); }

    SbomFacts facts;

private:
    std::unique_ptr<ReportSink> defects_;
    std::FILE* err_;
};

// SOURCE_DATE_EPOCH, as reproducible builds set it: whole seconds since
// 1970. A value that is set but no such count fails the run rather than
// quietly give another date.
bool sourceDateEpoch(std::optional<std::int64_t>& into, std::string* why) {
    std::string value;
    if (!environmentValue("SOURCE_DATE_EPOCH", &value) || value.empty()) return true;
    std::int64_t seconds = 0;
    bool count = true;
    for (char c : value) {
        count = count && c >= '0' && c <= '9' && seconds <= latestTimestamp;
        if (count) seconds = seconds * 10 + (c - '0');
    }
    if (!count || seconds > latestTimestamp) {
        *why = "SOURCE_DATE_EPOCH must be a count of seconds since 1970 up to " + std::to_string(latestTimestamp) +
               ", not \"" + escapeText(value) + "\"";
        return false;
    }
    into = seconds;
    return true;
}

bool readLinked(const std::vector<std::string>& arguments, std::vector<LinkedBom>& into, std::string* why) {
    for (const std::string& argument : arguments) {
        LinkedBom bom;
        if (!splitPartSbom(argument, bom, why) || !readLinkedBom(bom, why)) return false;
        into.push_back(std::move(bom));
    }
    return true;
}

// The document must never take the place of a file the run reads, nor be
// appended to one through standard output, nor go where nothing keeps it.
bool outputClear(const SbomRequest& request, const std::vector<LinkedBom>& linked, std::string* why) {
    const bool toStandardOutput = request.output.empty();
    if (toStandardOutput && standardOutputWasClosed()) {
        *why = "standard output is closed, so the document would be lost; write it with --output FILE";
        return false;
    }
    std::vector<std::pair<std::string, const char*>> inputs{{request.package, "the package"},
                                                            {request.signature.caFile, "the CA file"},
                                                            {signatureFileOf(request.signature, request.package),
                                                             "the signature"}};
    inputs.push_back({request.signature.signerCertFile, "the signer certificate"});
    for (const std::string& crl : request.signature.crlFiles) inputs.push_back({crl, "a CRL file"});
    for (const LinkedBom& bom : linked) inputs.push_back({bom.path, "a linked document"});
    for (const auto& [path, what] : inputs) {
        if (path.empty()) continue;
        if (toStandardOutput ? descriptorIsFile(1, path.c_str()) : sameFile(request.output.c_str(), path.c_str())) {
            const std::string output = toStandardOutput ? "standard output" : escapePath(request.output);
            *why = output + " is " + what + "; the document goes elsewhere (--output FILE)";
            return false;
        }
    }
    return true;
}

// Each linked document's label, to the parts it names.
bool placeLinked(std::vector<LinkedBom>& linked, const std::vector<PartReport>& parts, std::string* why) {
    for (LinkedBom& bom : linked) {
        bom.parts = partsNamed(bom.label, parts);
        if (bom.parts.empty()) {
            *why = noPartNamed(bom.label, parts) + "; --part-sbom names a part by the label list shows";
            return false;
        }
    }
    return true;
}

// Reads the package once: its parts' digests, its own SHA-256 and, with
// a CA file, everything the signature needs, side by side.
InspectionResult readPackage(const SbomRequest& request, SbomCollector& collector, std::string* why,
                             std::FILE* err) {
    InspectionOptions options = request.inspection;
    options.readData = true;
    options.inputDigests = true;
    SignatureCheck signature;
    const bool signedRead = !request.signature.caFile.empty();
    if (signedRead) {
        // Files that cannot judge a signature stop the run before the package is read.
        if (!signature.prepareFor(request.package, request.signature, why)) return InspectionResult::stopped;
        signature.attach(options);
    }
    auto forSignature = std::move(options.packageBytes);
    Sha256Listing listing;
    listing.attach(options);
    // Both go into the one whole-file reader, held by value: the read
    // outlives this block.
    if (forSignature)
        options.packageBytes = [forSignature = std::move(forSignature), forListing = std::move(options.packageBytes)](
                                   const std::uint8_t* bytes, std::size_t count) {
            forSignature(bytes, count);
            forListing(bytes, count);
        };
    InspectionResult result = inspectPackage(request.package, options, collector, why);
    if (result == InspectionResult::unreadable) {
        printCannotRead(err, request.package, *why);
        return result;
    }
    if (signedRead && result == InspectionResult::sound) {
        SignatureReport checked = signature.finish();
        if (!checked.verdict.valid) {
            collector.defect(checked.verdict.defect);
            collector.refusedSignature(checked);
            result = InspectionResult::defective;
        }
        collector.facts.signature = std::move(checked);
    }
    collector.facts.sha256 = listing.packageDigest();
    return result;
}

bool writeDocument(const SbomRequest& request, const std::string& document, std::FILE* out, std::string* why) {
    if (request.output.empty()) {
        printText(out, document.c_str());
        return true;
    }
    std::string reason, leftover;
    if (replaceFileWhole(request.output, std::vector<std::uint8_t>(document.begin(), document.end()), &reason,
                         &leftover))
        return true;
    *why = "cannot write " + escapePath(request.output) + ": " + reason;
    if (!leftover.empty()) *why += "; the new document could not be removed and stays as " + escapePath(leftover);
    return false;
}

}  // namespace

int writeSbom(const SbomRequest& request, std::FILE* out, std::FILE* err) {
    std::string why;
    std::optional<std::int64_t> timestamp;
    std::vector<LinkedBom> linked;
    if (!sourceDateEpoch(timestamp, &why) || !readLinked(request.partSboms, linked, &why) ||
        !outputClear(request, linked, &why)) {
        error(err, "%s", why.c_str());
        return 2;
    }
    SbomCollector collector(err);
    const InspectionResult result = readPackage(request, collector, &why, err);
    if (result == InspectionResult::unreadable) return 2;
    if (result == InspectionResult::stopped) {
        error(err, "%s", why.c_str());
        return 2;
    }
    if (result != InspectionResult::sound) {
        collector.finishDefects(result);
        error(err, "%s is defective; no bill of materials written", escapePath(request.package).c_str());
        return 1;
    }
    SbomFacts& facts = collector.facts;
    if (!placeLinked(linked, facts.parts, &why)) {
        error(err, "%s", why.c_str());
        return 2;
    }
    facts.linked = std::move(linked);
    // The file's own time when no build gave one: the package, not the run,
    // decides the document's bytes. A time the document cannot hold is not
    // moved quietly to another.
    const std::int64_t modified = facts.summary.modified;
    if (!timestamp && (modified < 0 || modified > latestTimestamp)) {
        error(err, "%s was last modified outside 1970 to 9999; set SOURCE_DATE_EPOCH to the release's time",
              escapePath(request.package).c_str());
        return 2;
    }
    facts.timestamp = timestamp.value_or(modified);
    facts.toolVersion = request.toolVersion;
    if (!writeDocument(request, sbomDocument(facts), out, &why)) {
        error(err, "%s", why.c_str());
        return 2;
    }
    if (!request.output.empty())
        print(out, "%s: sound, %s; bill of materials in %s\n", escapePath(request.package).c_str(),
              counted(facts.parts.size(), "part").c_str(), escapePath(request.output).c_str());
    return 0;
}

}  // namespace fw
