#include "inspect/command/inspect_command.h"

#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "inspect/diff/diff.h"
#include "inspect/extract/extract.h"
#include "inspect/lint/lint.h"
#include "inspect/report/layout_note.h"
#include "inspect/report/report.h"
#include "inspect/text/tool_messages.h"
#include "inspect/sign/sign.h"
#include "inspect/signature/signature.h"
#include "inspect/command/inspect_usage.h"
#include "platform/console_text.h"
#include "platform/parallel_pass.h"

#ifndef FWPACK_VERSION
#define FWPACK_VERSION "unknown"
#endif

namespace fw {
namespace {

enum class Verb { list, verify, extract, diff, sign, lint };

struct Command {
    Verb verb = Verb::list;
    std::string verbName;
    bool json = false, force = false, help = false;
    InspectionOptions options;
    std::vector<const char*> operands;
    std::string problem;  // what was not understood
    SignaturePolicy signature;  // verify and extract
    // sign: --key and --cert pair in order; --chain and --pass-env, given
    // once, serve every signer, given once per --key, one each in order.
    std::vector<std::string> keys, certs, chains, passEnvs;
    bool add = false;
    std::string output;
    std::vector<std::string> parts;  // extract --part
    std::string lintPackage;
    std::vector<const char*> fwpackArgs;  // lint: everything after --
};

std::optional<Verb> verbOf(const std::string& word) {
    if (word == "list") return Verb::list;
    if (word == "verify") return Verb::verify;
    if (word == "extract") return Verb::extract;
    if (word == "sign") return Verb::sign;
    if (word == "diff") return Verb::diff;
    if (word == "lint") return Verb::lint;
    return std::nullopt;
}

// A board code as a board table holds it: one to eight hexadecimal digits.
std::optional<std::uint32_t> boardCodeOf(const char* text) {
    const std::size_t n = std::strlen(text);
    if (n == 0 || n > 8 || std::strspn(text, "0123456789abcdefABCDEF") != n) return std::nullopt;
    return static_cast<std::uint32_t>(std::stoul(text, nullptr, 16));
}

// Windows users ask for help with /? or -?, as of every console program there.
bool asksForHelp(const std::string& arg) { return arg == "-h" || arg == "--help" || arg == "-?" || arg == "/?"; }

bool checksSignatures(Verb verb) { return verb == Verb::verify || verb == Verb::extract; }

// Options that take a file or name, by command.
std::string* valueSlot(Command& c, const std::string& arg) {
    if (checksSignatures(c.verb)) {
        if (arg == "--ca") return &c.signature.caFile;
        if (arg == "--signature") return &c.signature.signatureFile;
        if (arg == "--signer-cert") return &c.signature.signerCertFile;
        if (arg == "--at") return &c.signature.at;
    }
    if (c.verb == Verb::lint && arg == "--package") return &c.lintPackage;
    if (c.verb != Verb::sign) return nullptr;
    if (arg == "--output") return &c.output;
    std::vector<std::string>* repeated = arg == "--key"      ? &c.keys
                                         : arg == "--cert"     ? &c.certs
                                         : arg == "--chain"    ? &c.chains
                                         : arg == "--pass-env" ? &c.passEnvs
                                                               : nullptr;
    if (repeated == nullptr) return nullptr;
    return &repeated->emplace_back();
    return nullptr;
}

// Options that may be given more than once, each time with a value.
std::vector<std::string>* listSlot(Command& c, const std::string& arg) {
    if (!checksSignatures(c.verb)) return nullptr;
    if (arg == "--crl") return &c.signature.crlFiles;
    if (arg == "--signer") return &c.signature.signers;
    return nullptr;
}

bool takeOption(Command& c, const std::string& arg, int& i, int argc, const char* const* argv) {
    std::vector<std::string>* list = listSlot(c, arg);
    if (std::string* slot = valueSlot(c, arg)) {
        if (i + 1 >= argc) c.problem = arg + " needs a value";
        else *slot = argv[++i];
    } else if (list != nullptr) {
        if (i + 1 >= argc) c.problem = arg + " needs a value";
        else list->push_back(argv[++i]);
    } else if (arg == "--partial-chain" && checksSignatures(c.verb)) c.signature.partialChain = true;
    else if (asksForHelp(arg)) c.help = true;
    else if (arg == "--json" && c.verb != Verb::extract && c.verb != Verb::sign) c.json = true;
    else if (arg == "--old" && c.verb != Verb::lint) c.options.layout = LayoutChoice::old;
    else if (arg == "--layout" && c.verb != Verb::lint) {
        const std::string value = i + 1 < argc ? argv[++i] : "";
        if (value == "normal" || value == "old") c.options.layout = value == "old" ? LayoutChoice::old : LayoutChoice::normal;
        else c.problem = "--layout takes normal or old";
    } else if (arg == "--force" && c.verb == Verb::extract) c.force = true;
    else if (arg == "--add" && c.verb == Verb::sign) c.add = true;
    else if (arg == "--part" && c.verb == Verb::extract) {
        if (i + 1 >= argc) c.problem = "--part needs a part label";
        else c.parts.push_back(argv[++i]);
    }
    else if (arg == "--board" && c.verb == Verb::verify) {
        if (i + 1 >= argc) c.problem = "--board needs a board code";
        else if (const auto code = boardCodeOf(argv[++i])) c.options.requiredBoard = code;
        else c.problem = "--board takes one to eight hexadecimal digits, not \"" + escapeText(argv[i]) + "\"";
    } else {
        c.problem = "unknown option " + escapeText(arg);
    }
    return c.problem.empty();
}

// What each command takes besides its options, as its usage names them.
std::vector<const char*> operandNames(Verb verb) {
    if (verb == Verb::extract) return {"PACKAGE", "DIR"};
    if (verb == Verb::diff) return {"OLD", "NEW"};
    if (verb == Verb::lint) return {};
    return {"PACKAGE"};
}

// The first option that means nothing without --ca; empty when none is given.
std::string signatureOptionGiven(const SignaturePolicy& p) {
    if (!p.signatureFile.empty()) return "--signature";
    if (!p.crlFiles.empty()) return "--crl";
    if (!p.signers.empty()) return "--signer";
    if (!p.at.empty()) return "--at";
    if (!p.signerCertFile.empty()) return "--signer-cert";
    if (p.partialChain) return "--partial-chain";
    return "";
}

std::string signerProblem(const Command& c) {
    if (c.keys.empty() || c.certs.empty()) return "sign needs --key and --cert";
    if (c.keys.size() != c.certs.size()) return "sign needs one --cert for each --key, in the same order";
    for (const auto* values : {&c.chains, &c.passEnvs})
        if (values->size() > 1 && values->size() != c.keys.size())
            return std::string(values == &c.chains ? "--chain" : "--pass-env") +
                   " is given once for every signer or once for each --key";
    return "";
}

Command parse(int argc, const char* const* argv) {
    Command c;
    if (argc < 2) {
        c.problem = "no command";
        return c;
    }
    const std::string first = argv[1];
    if (asksForHelp(first)) {
        c.help = true;
        return c;
    }
    const auto verb = verbOf(first);
    if (!verb) {
        c.problem = "unknown command " + escapeText(first);
        return c;
    }
    c.verb = *verb;
    c.verbName = first;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (c.verb == Verb::lint && arg == "--") {
            c.fwpackArgs.assign(argv + i + 1, argv + argc);
            break;
        }
        if ((arg.size() > 1 && arg[0] == '-') || arg == "/?") {
            if (!takeOption(c, arg, i, argc, argv)) return c;
        } else {
            c.operands.push_back(argv[i]);
        }
    }
    if (c.help) return c;
    const std::vector<const char*> wanted = operandNames(c.verb);
    if (c.operands.size() != wanted.size())
        c.problem = c.operands.size() < wanted.size() ? std::string("missing operand ") + wanted[c.operands.size()]
                                                      : "extra operand " + escapeText(c.operands[wanted.size()]);
    else if (c.signature.caFile.empty() && !signatureOptionGiven(c.signature).empty())
        c.problem = signatureOptionGiven(c.signature) + " needs --ca, the certificates to trust";
    else if (!atProblem(c.signature.at).empty())
        c.problem = atProblem(c.signature.at);
    else if (c.verb == Verb::sign)
        c.problem = signerProblem(c);
    return c;
}

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
    auto report = makeReport(style, out);
    GuessNote sink(*report, err);
    InspectionOptions options = c.options;
    SignatureCheck signature;
    Sha256Listing listing;
    std::string why;
    if (!c.signature.caFile.empty()) {
        SignaturePolicy policy = c.signature;
        if (policy.signatureFile.empty()) policy.signatureFile = std::string(c.operands[0]) + ".sig";
        if (!signature.prepare(policy, &why)) {
            print(err, "fwinspect: %s\n", why.c_str());
            return 2;
        }
        signature.attach(options);
    } else if (c.verb == Verb::list) {
        listing.attach(options);
    }
    if (c.json && c.verb == Verb::verify) Sha256Listing::attachParts(options);
    options.inputDigests = c.verb == Verb::list || c.json;
    // A report that can no longer reach its reader is not worth the rest of
    // the package's data: the run ends as soon as a write has failed.
    options.stopRequested = [out] { return std::ferror(out) != 0; };
    InspectionResult result = inspectPackage(c.operands[0], options, sink, &why);
    if (result == InspectionResult::stopped) return 2;
    if (result == InspectionResult::unreadable) {
        printCannotRead(err, c.operands[0], why);
        return 2;
    }
    if (!c.signature.caFile.empty()) {
        const SignatureReport checked = signature.finish();
        if (!checked.valid) {
            report->defect(checked.defect);
            result = InspectionResult::defective;
        }
        report->signature(checked);
    } else if (c.verb == Verb::list) {
        if (!sink.beyondFormat()) report->packageDigest(listing.packageDigest());
    }
    report->finish(result);
    return result == InspectionResult::sound ? 0 : 1;
}

int runCommand(int argc, const char* const* argv, std::FILE* out, std::FILE* err) {
    startCrypto();
    if (argc >= 2 && std::strcmp(argv[1], "--version") == 0) {
        print(out, "fwinspect %s\n", FWPACK_VERSION);
        return 0;
    }
    const Command c = parse(argc, argv);
    if (c.help) {
        printText(out, usageText(c.verbName).c_str());
        return 0;
    }
    if (!c.problem.empty()) {
        const std::string help = c.verbName.empty() ? "fwinspect --help" : "fwinspect " + c.verbName + " --help";
        print(err, "fwinspect: %s; try '%s'\n", c.problem.c_str(), help.c_str());
        return 2;
    }
    if (c.verb == Verb::lint) return lintCommandLine(c.fwpackArgs, c.lintPackage, c.json, out, err);
    if (c.verb == Verb::extract) {
        ExtractOptions options{c.options, c.force, c.parts, c.signature};
        options.inspection.test.afterStructure = {};
        return extractPackage(c.operands[0], c.operands[1], options, out, err);
    }
    if (c.verb == Verb::diff)
        return diffPackages(c.operands[0], c.operands[1], DiffOptions{c.options, c.json}, out, err);
    if (c.verb == Verb::sign) {
        SignRequest request{c.operands[0], signersOf(c), c.output, c.add, c.options};
        return signPackage(request, out, err);
    }
    if (c.json) return inspect(c, ReportStyle::json, out, err);
    return inspect(c, c.verb == Verb::list ? ReportStyle::table : ReportStyle::defectsOnly, out, err);
}

}  // namespace

// The package's reading says itself when memory ran out on any of its
// threads; what runs out elsewhere on this thread ends the run here.
int runInspector(int argc, const char* const* argv, std::FILE* out, std::FILE* err) {
    try {
        return runCommand(argc, argv, out, err);
    } catch (const std::bad_alloc&) {
        print(err, "fwinspect: %s\n", outOfMemory);
        return 2;
    }
}

}  // namespace fw
