#include "inspect/command/command_line.h"

#include <algorithm>

#include "format/board_code.h"
#include "inspect/text/plain_text.h"
#include "platform/terminal_text.h"

namespace fw {
namespace {

// What verify and extract check the signature by.
void applySignatureOption(SignaturePolicy& p, Opt option, const std::string& value) {
    if (option == Opt::ca) p.caFile = value;
    if (option == Opt::signature) p.signatureFile = value;
    if (option == Opt::signerCert) p.signerCertFile = value;
    if (option == Opt::at) p.at = value;
    if (option == Opt::crl) p.crlFiles.push_back(value);
    if (option == Opt::signer) p.signers.push_back(value);
    if (option == Opt::partialChain) p.partialChain = true;
}

// Stores one option's value where the command reads it; says why the
// value cannot be taken.
std::string applyOption(Command& c, Opt option, const std::string& value) {
    switch (option) {
        case Opt::json: c.json = true; break;
        case Opt::digests: c.digests = true; break;
        case Opt::layout: c.options.layout = value == "old" ? LayoutChoice::old : LayoutChoice::normal; break;
        case Opt::old: c.options.layout = LayoutChoice::old; break;
        case Opt::board:
            c.options.requiredBoard = plainBoardCode(value.c_str());
            if (!c.options.requiredBoard)
                return "--board takes a code fwpack -b reads whole: an optional 0x, then hexadecimal digits, eight "
                       "characters at most; fwpack reads \"" + escapeText(value) + "\" as " +
                       boardCodeText(parseBoardCode(value.c_str()));
            break;
        case Opt::force: c.force = true; break;
        case Opt::part: c.parts.push_back(value); break;
        case Opt::key: c.keys.push_back(value); break;
        case Opt::cert: c.certs.push_back(value); break;
        case Opt::chain: c.chains.push_back(value); break;
        case Opt::passEnv: c.passEnvs.push_back(value); break;
        case Opt::add: c.add = true; break;
        case Opt::output: c.output = value; break;
        case Opt::package: c.lintPackage = value; break;
        case Opt::partSbom: c.partSboms.push_back(value); break;
        default: applySignatureOption(c.signature, option, value);
    }
    return "";
}

// "normal old" as "normal or old".
std::string alternatives(const std::string& words) {
    const std::size_t space = words.rfind(' ');
    return space == std::string::npos ? words : words.substr(0, space) + " or " + words.substr(space + 1);
}

// Whether `value` is one of the space-separated `words`.
bool oneOf(const std::string& value, const std::string& words) {
    std::size_t at = 0;
    for (std::size_t end; (end = words.find(' ', at)) != std::string::npos; at = end + 1)
        if (words.compare(at, end - at, value) == 0) return true;
    return words.compare(at, std::string::npos, value) == 0;
}

std::string takeOption(Command& c, const VerbSpec& verb, const std::string& arg, int& i, int argc,
                       const char* const* argv) {
    if (asksForHelp(arg)) {
        c.help = true;
        return "";
    }
    const OptionSpec* o = optionOf(verb, arg);
    if (o == nullptr) return "unknown option " + escapeText(arg);
    if (o->shape == Shape::flag) return applyOption(c, o->id, "");
    const bool given = i + 1 < argc;
    const std::string value = given ? argv[++i] : "";
    if (o->closed && !oneOf(value, o->words))
        return arg + " takes " + alternatives(o->words);
    if (!given) return arg + " needs " + o->missing;
    return applyOption(c, o->id, value);
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

// What the whole command line lacks or holds too much of.
std::string lineProblem(const Command& c, const VerbSpec& verb) {
    const std::vector<const char*>& wanted = verb.operands;
    if (c.operands.size() != wanted.size())
        return c.operands.size() < wanted.size() ? std::string("missing operand ") + wanted[c.operands.size()]
                                                 : "extra operand " + escapeText(c.operands[wanted.size()]);
    if (c.signature.caFile.empty() && !signatureOptionGiven(c.signature).empty())
        return signatureOptionGiven(c.signature) + " needs --ca, the certificates to trust";
    if (std::string why; !checkTimeAccepted(c.signature.at, &why)) return why;
    return c.verb == Verb::sign ? signerProblem(c) : "";
}

// lint given fwpack's options without the -- before them: the same line
// with the -- where it belongs, lint's own options before it.
std::string lintHint(const Command& c, int firstUnknown, int argc, const char* const* argv) {
    std::vector<std::string> line{"fwinspect", c.verbName}, fwpackArgs;
    for (int i = 2; i < firstUnknown; ++i) {
        const bool operand = std::find(c.operands.begin(), c.operands.end(), argv[i]) != c.operands.end();
        (operand ? fwpackArgs : line).push_back(argv[i]);
    }
    line.push_back("--");
    line.insert(line.end(), fwpackArgs.begin(), fwpackArgs.end());
    line.insert(line.end(), argv + firstUnknown, argv + argc);
    return "put -- before fwpack's arguments: " + shellLine(line);
}

void readArguments(Command& c, const VerbSpec& verb, int argc, const char* const* argv) {
    for (int i = 2; i < argc && c.problem.empty(); ++i) {
        const std::string arg = argv[i];
        if (verb.takesFwpackArguments && arg == "--") {
            c.fwpackArgs.assign(argv + i + 1, argv + argc);
            return;
        }
        if ((arg.size() > 1 && arg[0] == '-') || arg == "/?") {
            if (verb.takesFwpackArguments && !asksForHelp(arg) && optionOf(verb, arg) == nullptr)
                c.hint = lintHint(c, i, argc, argv);
            c.problem = takeOption(c, verb, arg, i, argc, argv);
        } else
            c.operands.push_back(argv[i]);
    }
}

}  // namespace

Command parseCommandLine(int argc, const char* const* argv) {
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
    const VerbSpec* verb = verbNamed(first);
    if (verb == nullptr) {
        c.problem = "unknown command " + escapeText(first);
        return c;
    }
    c.verb = verb->verb;
    c.verbName = first;
    c.options.action = first;
    readArguments(c, *verb, argc, argv);
    if (c.problem.empty() && !c.help) c.problem = lineProblem(c, *verb);
    return c;
}

}  // namespace fw
