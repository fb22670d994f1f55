#include "inspect/command/inspect_command.h"

#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "inspect/check/sha256_listing.h"
#include "inspect/command/command_line.h"
#include "inspect/command/inspect_usage.h"
#include "inspect/diff/diff.h"
#include "inspect/extract/extract.h"
#include "inspect/lint/lint.h"
#include "inspect/report/layout_note.h"
#include "inspect/report/report.h"
#include "inspect/text/tool_messages.h"
#include "inspect/sbom/sbom.h"
#include "inspect/sign/sign.h"
#include "inspect/signature/signature.h"
#include "platform/console_text.h"
#include "platform/parallel_pass.h"

#ifndef FWPACK_VERSION
#define FWPACK_VERSION "unknown"
#endif

namespace fw {
namespace {

// The value for the i-th signer of an option given once for all or once each.
std::string perSigner(const std::vector<std::string>& values, std::size_t i) {
    return values.empty() ? "" : values.size() == 1 ? values[0] : values[i];
}

std::vector<SignerFiles> signersOf(const Command& c) {
    std::vector<SignerFiles> signers;
    for (std::size_t i = 0; i < c.keys.size(); ++i)
        signers.push_back({c.keys[i], c.certs[i], perSigner(c.chains, i), perSigner(c.passEnvs, i)});
    return signers;
}

// Passes everything on to the report and notes a guessed layout on the
// error stream.
class GuessNote : public InspectionSink {
public:
    GuessNote(InspectionSink& report, std::FILE* err) : report_(report), err_(err) {}
    void summary(const PackageSummary& s) override {
        noteGuessedLayout(s, err_);
        beyondFormat_ = s.beyondFormat;
        report_.summary(s);
    }
    bool beyondFormat() const { return beyondFormat_; }
    void board(std::uint32_t code) override { report_.board(code); }
    void part(const PartReport& r) override { report_.part(r); }
    void defect(const std::string& text) override { report_.defect(text); }

private:
    InspectionSink& report_;
    std::FILE* err_;
    bool beyondFormat_ = false;
};

int inspect(const Command& c, ReportStyle style, std::FILE* out, std::FILE* err) {
    auto report = makeReport(style, out, c.options.requiredBoard.has_value());
    GuessNote sink(*report, err);
    InspectionOptions options = c.options;
    SignatureCheck signature;
    Sha256Listing listing;
    std::string why;
    if (!c.signature.caFile.empty()) {
        if (!signature.prepareFor(c.operands[0], c.signature, &why)) {
            error(err, "%s", why.c_str());
            return 2;
        }
        signature.attach(options);
    } else if (c.verb == Verb::list && c.digests) {
        listing.attach(options);
    }
    if (c.json && c.verb == Verb::verify) Sha256Listing::attachParts(options);
    // list looks at the structure alone unless its digests are asked for.
    options.readData = c.verb != Verb::list || c.digests;
    options.inputDigests = (c.verb == Verb::list && c.digests) || c.json;
    // A report that can no longer reach its reader is not worth the rest of
    // the package's data: the run ends as soon as a write has failed.
    options.stopRequested = [out] { return std::ferror(out) != 0; };
    InspectionResult result = inspectPackage(c.operands[0], options, sink, &why);
    if (result == InspectionResult::stopped) return 2;
    if (result == InspectionResult::unreadable) {
        report->unreadable(c.operands[0], why);
        printCannotRead(err, c.operands[0], why);
        return 2;
    }
    if (!c.signature.caFile.empty()) {
        const SignatureReport checked = signature.finish();
        if (!checked.verdict.valid) {
            report->defect(checked.verdict.defect);
            result = InspectionResult::defective;
        }
        report->signature(checked);
    } else if (c.verb == Verb::list) {
        // Empty when not computed: without --digests, or for a file whose
        // size its header makes up.
        report->packageDigest(c.digests && !sink.beyondFormat() ? listing.packageDigest() : std::vector<std::uint8_t>{});
    }
    report->finish(result);
    return result == InspectionResult::sound ? 0 : 1;
}

int runVerb(const Command& c, std::FILE* out, std::FILE* err) {
    switch (c.verb) {
        case Verb::lint: return lintCommandLine(c.fwpackArgs, c.lintPackage, c.json, out, err);
        case Verb::extract: {
            ExtractOptions options{c.options, c.force, c.parts, c.signature};
            options.inspection.test.afterStructure = {};
            return extractPackage(c.operands[0], c.operands[1], options, out, err);
        }
        case Verb::diff: return diffPackages(c.operands[0], c.operands[1], DiffOptions{c.options, c.json}, out, err);
        case Verb::sign: return signPackage(SignRequest{c.operands[0], signersOf(c), c.output, c.add, c.options}, out, err);
        case Verb::sbom:
            return writeSbom(SbomRequest{c.operands[0], c.options, c.signature, c.partSboms, c.output, FWPACK_VERSION},
                             out, err);
        case Verb::list: return inspect(c, c.json ? ReportStyle::json : ReportStyle::table, out, err);
        case Verb::verify: return inspect(c, c.json ? ReportStyle::json : ReportStyle::defectsOnly, out, err);
    }
    return 2;  // every Verb is handled above
}

int runCommand(int argc, const char* const* argv, std::FILE* out, std::FILE* err) {
    startCrypto();
    if (argc >= 2 && std::strcmp(argv[1], "--version") == 0) {
        print(out, "fwinspect %s\n", FWPACK_VERSION);
        return 0;
    }
    const Command c = parseCommandLine(argc, argv);
    if (c.help) {
        printText(out, usageText(c.verbName).c_str());
        return 0;
    }
    if (!c.problem.empty()) {
        const std::string help = c.verbName.empty() ? "fwinspect --help" : "fwinspect " + c.verbName + " --help";
        error(err, "%s; try '%s'", c.problem.c_str(), help.c_str());
        if (!c.hint.empty()) error(err, "%s", c.hint.c_str());
        return 2;
    }
    return runVerb(c, out, err);
}

}  // namespace

// The package's reading says itself when memory ran out on any of its
// threads; what runs out elsewhere on this thread ends the run here.
int runInspector(int argc, const char* const* argv, std::FILE* out, std::FILE* err) {
    try {
        return runCommand(argc, argv, out, err);
    } catch (const std::bad_alloc&) {
        error(err, "%s", outOfMemory);
        return 2;
    }
}

}  // namespace fw
