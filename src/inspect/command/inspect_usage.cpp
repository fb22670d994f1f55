#include "inspect/command/inspect_usage.h"

#include <array>

namespace fw {
namespace {

struct CommandHelp {
    const char* name;
    const char* synopsis;  // one or more lines, each "fwinspect ..."
    const char* summary;
    const char* options;
};

constexpr std::array<CommandHelp, 6> commands{{
    {"list", "fwinspect list [--json] [--layout normal|old] PACKAGE\n",
     "show the header, boards and parts, each part's digest checked, and SHA-256 digests",
     "  --json        one JSON document instead of text\n"},
    {"verify",
     "fwinspect verify [--json] [--layout normal|old] [--board CODE] PACKAGE\n"
     "fwinspect verify --ca CAFILE [--signature SIG] [--crl FILE]... [--signer NAME]... [--at signing|now|DATE]\n"
     "                 [--signer-cert FILE] [--partial-chain] [--json] [--layout normal|old] [--board CODE] PACKAGE\n",
     "check everything the format promises; exit 1 on a defect",
     "  --json        one JSON document instead of text\n"
     "  --board CODE  also require this board code (hexadecimal, up to 8 digits)\n"
     "  --ca CAFILE   also check the signature against these trusted certificates (PEM)\n"
     "  --signature SIG  the signature to check, DER or PEM (default PACKAGE.sig)\n"
     "  --crl FILE    also honour the CRLs in this PEM file (CRLs in CAFILE always are); repeatable\n"
     "  --signer NAME accept only a signer of this RFC 2253 subject or common name; repeatable\n"
     "  --at WHEN     check the certificates at the signed signing time, now (the default) or a day YYYY-MM-DD\n"
     "  --signer-cert FILE  the signer's certificate, for signatures that carry none (PEM)\n"
     "  --partial-chain  let a trusted intermediate in CAFILE end the chain\n"},
    {"extract",
     "fwinspect extract [--layout normal|old] [--force] [--part LABEL]... PACKAGE DIR\n"
     "fwinspect extract --ca CAFILE [--signature SIG] [SIGNER OPTIONS] [--layout normal|old] [--force] [--part LABEL]... "
     "PACKAGE DIR\n",
     "verify, then write the parts into DIR and print the fwpack command that rebuilds the package",
     "  --ca CAFILE   keep the parts only if the signature matches the bytes written and chains to CAFILE\n"
     "  --signature SIG  the signature to check, DER or PEM (default PACKAGE.sig)\n"
     "  --crl, --signer, --at, --signer-cert, --partial-chain  as for verify\n"
     "  --force       replace files already in DIR (all of them or none)\n"
     "  --part LABEL  write only this part, by the label list shows (boot, -p3, a part name); repeatable\n"},
    {"diff", "fwinspect diff [--json] [--layout normal|old] OLD NEW\n",
     "compare two packages' boards and parts; exit 1 when they differ, 2 when either is defective",
     "  --json        one JSON document instead of text\n"},
    {"sign",
     "fwinspect sign --key KEY --cert CERT [--key KEY --cert CERT]... [--chain FILE] [--pass-env NAME] [--add] "
     "[--output SIG] [--layout normal|old] PACKAGE\n",
     "verify, then write a detached CMS signature of the package (default PACKAGE.sig)",
     "  --key KEY     a signer's private key (PEM), or its token's URI (pkcs11:...); repeatable\n"
     "  --cert CERT   that signer's certificate (PEM, or pkcs11:...;type=cert); one for each --key, in order\n"
     "  --chain FILE  further certificates to carry in the signature (PEM)\n"
     "  --pass-env NAME  the environment variable holding the key's passphrase or the token's PIN\n"
     "                --chain and --pass-env: once for every signer, or once for each --key in order\n"
     "  --add         add the signers to the signature already at SIG, which must be of this package\n"
     "  --output SIG  where to write the signature; never the package, a key, certificate or chain\n"},
    {"lint", "fwinspect lint [--json] [--package PACKAGE] -- FWPACK-ARGUMENTS...\n",
     "report every argument fwpack would pass over or drop; with --package, check the package is what they pack",
     "  --json        one JSON document instead of text\n"
     "  --package P   also compare P with what the arguments pack today\n"},
}};

constexpr const char* common =
    "  --layout normal|old  read the package in this layout (--old is short for --layout old)\n"
    "  -h, --help    show this text\n";

constexpr const char* statuses =
    "exit status:\n"
    "  0  sound (diff: the same; lint: fwpack packs everything it is given)\n"
    "  1  a defect, a difference, nothing extracted (lint: something is passed over or dropped)\n"
    "  2  a usage error, a file that cannot be read, a folder that cannot be made (diff: a defective side)\n";

std::string synopsisLines(const CommandHelp& c, bool first) {
    std::string out;
    std::string lines = c.synopsis;
    for (std::size_t at = 0; at < lines.size();) {
        const std::size_t end = lines.find('\n', at);
        out += (first ? "usage: " : "       ") + lines.substr(at, end + 1 - at);
        first = false;
        at = end + 1;
    }
    return out;
}

}  // namespace

std::string usageText(const std::string& command) {
    for (const CommandHelp& c : commands)
        if (command == c.name)
            return synopsisLines(c, true) + c.summary + "\noptions:\n" + c.options +
                   (command == "lint" ? "  -h, --help    show this text\n" : common) + statuses;
    std::string text;
    bool first = true;
    for (const CommandHelp& c : commands) {
        text += synopsisLines(c, first);
        first = false;
    }
    text += "       fwinspect --help | --version\ncommands:\n";
    for (const CommandHelp& c : commands) {
        std::string name = c.name;
        text += "  " + name + std::string(10 - name.size(), ' ') + c.summary + "\n";
    }
    return text + "'fwinspect COMMAND --help' shows a command's options.\n" + statuses;
}

}  // namespace fw
