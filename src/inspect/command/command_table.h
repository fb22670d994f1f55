// fwinspect's commands and their options, written once: the parser, the
// help texts and the bash completion are all made from these tables, so
// what the tool takes and what it says it takes cannot drift apart.
#pragma once

#include <string>
#include <vector>

namespace fw {

enum class Verb { list, verify, extract, diff, sign, lint, sbom };

enum class Opt {
    json, layout, old, board, ca, signature, crl, signer, at, signerCert, partialChain,
    force, part, key, cert, chain, passEnv, add, output, package, digests, partSbom
};

// flag: takes no value; value: one, a later one replaces it; repeatable:
// one each time, all kept in order.
enum class Shape { flag, value, repeatable };

// What the completion offers for a value: nothing to guess, a file name or
// one of the words.
enum class Completes { nothing, file, words };

struct OptionSpec {
    Opt id;
    const char* name;
    Shape shape;
    const char* missing;   // "NAME needs ..." when the value is missing
    Completes completes;
    const char* words;     // the words offered; the only ones taken when `closed`
    bool closed;
    const char* help;      // its lines in a command's help
    bool shorthand;        // another spelling of an option the synopsis shows
};

// An option as one command takes it. `help` replaces the option's own
// lines; "" leaves them to a line an earlier option of the command gave.
struct OptionUse {
    Opt option;
    const char* help = nullptr;
};

struct VerbSpec {
    Verb verb;
    const char* name;
    std::vector<const char*> operands;  // as the usage names them
    std::vector<OptionUse> options;     // in the order the help lists them
    bool takesFwpackArguments;          // everything after "--"
    const char* synopsis;               // one or more lines, each "fwinspect ..."
    const char* summary;
};

const std::vector<OptionSpec>& optionTable();
const std::vector<VerbSpec>& verbTable();

const OptionSpec& optionSpec(Opt id);
const VerbSpec* verbNamed(const std::string& name);
const VerbSpec& verbSpec(Verb verb);

// The option `name` as `verb` takes it, or null when it does not.
const OptionSpec* optionOf(const VerbSpec& verb, const std::string& name);

// The help lines of one option as one command gives them.
const char* helpOf(const OptionUse& use);

// Windows users ask for help with /? or -?, as of every console program there.
bool asksForHelp(const std::string& arg);

}  // namespace fw
