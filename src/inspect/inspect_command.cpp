#include "inspect/inspect_command.h"

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "inspect/inspect_diff.h"
#include "inspect/inspect_extract.h"
#include "inspect/inspect_report.h"
#include "inspect/inspect_sign.h"

#ifndef FWPACK_VERSION
#define FWPACK_VERSION "unknown"
#endif

namespace fw {
namespace {

constexpr const char* usage =
    "usage: fwinspect list [--json] [--old] PACKAGE\n"
    "       fwinspect verify [--json] [--old] [--board CODE] PACKAGE\n"
    "       fwinspect verify --ca CAFILE [--signature SIG] [--json] [--old] [--board CODE] PACKAGE\n"
    "       fwinspect extract [--old] [--force] PACKAGE DIR\n"
    "       fwinspect sign --key KEY --cert CERT [--chain FILE] [--pass-env NAME] [--output SIG] [--old] PACKAGE\n"
    "       fwinspect diff [--json] [--old] OLD NEW\n"
    "       fwinspect --help | --version\n"
    "commands:\n"
    "  list       show the header, boards and parts, each part's digest checked, and SHA-256 digests\n"
    "  verify     check everything the format promises; exit 1 on a defect\n"
    "  extract    write every part into DIR and print the fwpack command that rebuilds the package\n"
    "  diff       compare two packages' boards and parts; exit 1 when they differ\n"
    "  sign       verify, then write a detached CMS signature of the package (default PACKAGE.sig)\n"
    "options:\n"
    "  --json        one JSON document instead of text (list, verify, diff)\n"
    "  --old         read the package in the old layout\n"
    "  --board CODE  verify also requires this board code (hexadecimal, up to 8 digits)\n"
    "  --ca CAFILE   verify also checks the signature against these trusted certificates (PEM)\n"
    "  --signature SIG  the signature to check (default PACKAGE.sig)\n"
    "  --force       extract replaces files already in DIR\n"
    "  --key KEY     the signer's private key (PEM)\n"
    "  --cert CERT   the signer's certificate (PEM)\n"
    "  --chain FILE  further certificates to carry in the signature (PEM)\n"
    "  --pass-env NAME  the environment variable holding the key's passphrase\n"
    "  --output SIG  where sign writes the signature\n"
    "  -h, --help    show this text\n"
    "  --version     show the version\n";

enum class Verb { list, verify, extract, diff, sign };

struct Command {
    Verb verb = Verb::list;
    bool json = false, force = false, help = false;
    InspectionOptions options;
    std::vector<const char*> operands;
    std::string problem;  // what was not understood
    std::string ca, signature;
    SignerFiles signer;
    std::string output;
};

std::optional<Verb> verbOf(const std::string& word) {
    if (word == "list") return Verb::list;
    if (word == "verify") return Verb::verify;
    if (word == "extract") return Verb::extract;
    if (word == "sign") return Verb::sign;
    if (word == "diff") return Verb::diff;
    return std::nullopt;
}

// A board code as a board table holds it: one to eight hexadecimal digits.
std::optional<std::uint32_t> boardCodeOf(const char* text) {
    const std::size_t n = std::strlen(text);
    if (n == 0 || n > 8 || std::strspn(text, "0123456789abcdefABCDEF") != n) return std::nullopt;
    return static_cast<std::uint32_t>(std::stoul(text, nullptr, 16));
}

// Options that take a file or name, by command.
std::string* valueSlot(Command& c, const std::string& arg) {
    if (c.verb == Verb::verify && arg == "--ca") return &c.ca;
    if (c.verb == Verb::verify && arg == "--signature") return &c.signature;
    if (c.verb != Verb::sign) return nullptr;
    if (arg == "--key") return &c.signer.keyPath;
    if (arg == "--cert") return &c.signer.certPath;
    if (arg == "--chain") return &c.signer.chainPath;
    if (arg == "--pass-env") return &c.signer.passphraseEnv;
    if (arg == "--output") return &c.output;
    return nullptr;
}

bool takeOption(Command& c, const std::string& arg, int& i, int argc, const char* const* argv) {
    if (std::string* slot = valueSlot(c, arg)) {
        if (i + 1 >= argc) c.problem = arg + " needs a value";
        else *slot = argv[++i];
    } else if (arg == "-h" || arg == "--help") c.help = true;
    else if (arg == "--json" && c.verb != Verb::extract) c.json = true;
    else if (arg == "--old") c.options.forceOld = true;
    else if (arg == "--force" && c.verb == Verb::extract) c.force = true;
    else if (arg == "--board" && c.verb == Verb::verify) {
        if (i + 1 >= argc) c.problem = "--board needs a board code";
        else if (const auto code = boardCodeOf(argv[++i])) c.options.requiredBoard = code;
        else c.problem = "--board takes one to eight hexadecimal digits, not \"" + escapeText(argv[i]) + "\"";
    } else {
        c.problem = "unknown option " + escapeText(arg);
    }
    return c.problem.empty();
}

Command parse(int argc, const char* const* argv) {
    Command c;
    if (argc < 2) {
        c.problem = "no command";
        return c;
    }
    const std::string first = argv[1];
    if (first == "-h" || first == "--help") {
        c.help = true;
        return c;
    }
    const auto verb = verbOf(first);
    if (!verb) {
        c.problem = "unknown command " + escapeText(first);
        return c;
    }
    c.verb = *verb;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.size() > 1 && arg[0] == '-') {
            if (!takeOption(c, arg, i, argc, argv)) return c;
        } else {
            c.operands.push_back(argv[i]);
        }
    }
    const std::size_t wanted = c.verb == Verb::extract || c.verb == Verb::diff ? 2 : 1;
    if (c.help) return c;
    if (c.operands.size() != wanted)
        c.problem = c.operands.size() < wanted ? "missing operand" : "extra operand " + escapeText(c.operands[wanted]);
    else if (!c.signature.empty() && c.ca.empty())
        c.problem = "--signature needs --ca, the certificates to trust";
    else if (c.verb == Verb::sign && (c.signer.keyPath.empty() || c.signer.certPath.empty()))
        c.problem = "sign needs --key and --cert";
    return c;
}

// Passes everything on to the report and notes a guessed layout on the
// error stream.
class GuessNote : public InspectionSink {
public:
    GuessNote(InspectionSink& report, std::FILE* err) : report_(report), err_(err) {}
    void summary(const PackageSummary& s) override {
        noteGuessedLayout(s, err_);
        report_.summary(s);
    }
    void board(std::uint32_t code) override { report_.board(code); }
    void part(const PartReport& r) override { report_.part(r); }
    void defect(const std::string& text) override { report_.defect(text); }

private:
    InspectionSink& report_;
    std::FILE* err_;
};

int inspect(const Command& c, ReportStyle style, std::FILE* out, std::FILE* err) {
    auto report = makeReport(style, out);
    GuessNote sink(*report, err);
    InspectionOptions options = c.options;
    SignatureCheck signature;
    Sha256Listing listing;
    std::string why;
    if (!c.ca.empty()) {
        const std::string sig = c.signature.empty() ? std::string(c.operands[0]) + ".sig" : c.signature;
        if (!signature.prepare(c.ca, sig, why)) {
            std::fprintf(err, "fwinspect: %s\n", why.c_str());
            return 2;
        }
        signature.attach(options);
    } else if (c.verb == Verb::list) {
        listing.attach(options);
    }
    InspectionResult result = inspectPackage(c.operands[0], options, sink, &why);
    if (result == InspectionResult::unreadable) {
        std::fprintf(err, "fwinspect: cannot read %s: %s\n", escapeText(c.operands[0]).c_str(), why.c_str());
        return 2;
    }
    if (!c.ca.empty()) {
        const SignatureReport checked = signature.finish();
        if (!checked.valid) {
            report->defect(checked.defect);
            result = InspectionResult::defective;
        }
        report->signature(checked);
    } else if (c.verb == Verb::list) {
        report->packageDigest(listing.packageDigest());
    }
    report->finish(result);
    return result == InspectionResult::sound ? 0 : 1;
}

}  // namespace

int runInspector(int argc, const char* const* argv, std::FILE* out, std::FILE* err) {
    if (argc >= 2 && std::strcmp(argv[1], "--version") == 0) {
        std::fprintf(out, "fwinspect %s\n", FWPACK_VERSION);
        return 0;
    }
    const Command c = parse(argc, argv);
    if (c.help) {
        std::fputs(usage, out);
        return 0;
    }
    if (!c.problem.empty()) {
        std::fprintf(err, "fwinspect: %s\n%s", c.problem.c_str(), usage);
        return 2;
    }
    if (c.verb == Verb::extract) {
        ExtractOptions options{c.options, c.force};
        options.inspection.afterStructure = {};
        return extractPackage(c.operands[0], c.operands[1], options, out, err);
    }
    if (c.verb == Verb::diff)
        return diffPackages(c.operands[0], c.operands[1], DiffOptions{c.options, c.json}, out, err);
    if (c.verb == Verb::sign) {
        SignRequest request{c.operands[0], c.signer, c.output, c.options};
        return signPackage(request, out, err);
    }
    if (c.json) return inspect(c, ReportStyle::json, out, err);
    return inspect(c, c.verb == Verb::list ? ReportStyle::table : ReportStyle::defectsOnly, out, err);
}

}  // namespace fw
