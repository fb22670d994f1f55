// fwinspect's command line, read by the command table.
#pragma once

#include <string>
#include <vector>

#include "inspect/check/signature_check.h"
#include "inspect/command/command_table.h"
#include "inspect/reader/package_reader.h"

namespace fw {

struct Command {
    Verb verb = Verb::list;
    std::string verbName;  // empty when no command was named
    bool json = false, force = false, help = false;
    bool digests = false;  // list: read the data too
    InspectionOptions options;
    std::vector<const char*> operands;
    std::string problem;        // what was not understood
    std::string hint;           // a line that says how to mend it, or empty
    SignaturePolicy signature;  // verify, extract and sbom
    // sign: --key and --cert pair in order; --chain and --pass-env, given
    // once, serve every signer, given once per --key, one each in order.
    std::vector<std::string> keys, certs, chains, passEnvs;
    bool add = false;
    std::string output;
    std::vector<std::string> parts;  // extract --part
    std::string lintPackage;
    std::vector<std::string> partSboms;  // sbom --part-sbom
    std::vector<const char*> fwpackArgs;  // lint: everything after --
};

// argv[1] names the command, the rest are its options and operands. A
// command line that asks for help is not checked further.
Command parseCommandLine(int argc, const char* const* argv);

}  // namespace fw
