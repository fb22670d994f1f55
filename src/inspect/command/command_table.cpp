#include "inspect/command/command_table.h"

namespace fw {
namespace {

constexpr const char* value = "a value";

}  // namespace

const std::vector<OptionSpec>& optionTable() {
    static const std::vector<OptionSpec> table{
        {Opt::json, "--json", Shape::flag, "", Completes::nothing, "", false,
         "  --json        one JSON document instead of text\n", false},
        {Opt::digests, "--digests", Shape::flag, "", Completes::nothing, "", false,
         "  --digests     also read the data: check each part's MD5, give the SHA-256 of the package, each part\n"
         "                and the input of each named and tar part\n",
         false},
        {Opt::layout, "--layout", Shape::value, "", Completes::words, "normal old", true,
         "  --layout normal|old  read the package in this layout (--old is short for --layout old)\n", false},
        {Opt::old, "--old", Shape::flag, "", Completes::nothing, "", false, "", true},
        {Opt::board, "--board", Shape::value, "a board code", Completes::nothing, "", false,
         "  --board CODE  also require this board code (as fwpack -b reads it: 0a20, 0x0a20)\n", false},
        {Opt::ca, "--ca", Shape::value, value, Completes::file, "", false,
         "  --ca CAFILE   also check the signature against these trusted certificates (PEM)\n", false},
        {Opt::signature, "--signature", Shape::value, value, Completes::file, "", false,
         "  --signature SIG  the signature to check, DER or PEM (default PACKAGE.sig)\n", false},
        {Opt::crl, "--crl", Shape::repeatable, value, Completes::file, "", false,
         "  --crl FILE    also honour the CRLs in this PEM file (CRLs in CAFILE always are); repeatable\n", false},
        {Opt::signer, "--signer", Shape::repeatable, value, Completes::nothing, "", false,
         "  --signer NAME accept only a signer of this RFC 2253 subject or common name; repeatable\n", false},
        {Opt::at, "--at", Shape::value, value, Completes::words, "signing now", false,
         "  --at WHEN     check the certificates at the signed signing time, now (the default) or a day YYYY-MM-DD\n",
         false},
        {Opt::signerCert, "--signer-cert", Shape::value, value, Completes::file, "", false,
         "  --signer-cert FILE  the signer's certificate, for signatures that carry none (PEM)\n", false},
        {Opt::partialChain, "--partial-chain", Shape::flag, "", Completes::nothing, "", false,
         "  --partial-chain  let a trusted intermediate in CAFILE end the chain\n", false},
        {Opt::force, "--force", Shape::flag, "", Completes::nothing, "", false,
         "  --force       replace files already in DIR (all of them or none)\n", false},
        {Opt::part, "--part", Shape::repeatable, "a part label", Completes::nothing, "", false,
         "  --part LABEL  write only this part, by the label list shows (boot, -p3 or mtd2, a part name); repeatable\n", false},
        {Opt::key, "--key", Shape::repeatable, value, Completes::file, "", false,
         "  --key KEY     a signer's private key (PEM), or its token's URI (pkcs11:...); repeatable\n", false},
        {Opt::cert, "--cert", Shape::repeatable, value, Completes::file, "", false,
         "  --cert CERT   that signer's certificate (PEM, or pkcs11:...;type=cert); one for each --key, in order\n",
         false},
        {Opt::chain, "--chain", Shape::repeatable, value, Completes::file, "", false,
         "  --chain FILE  further certificates to carry in the signature (PEM)\n", false},
        {Opt::passEnv, "--pass-env", Shape::repeatable, value, Completes::nothing, "", false,
         "  --pass-env NAME  the environment variable holding the key's passphrase or the token's PIN\n"
         "                --chain and --pass-env: once for every signer, or once for each --key in order\n",
         false},
        {Opt::add, "--add", Shape::flag, "", Completes::nothing, "", false,
         "  --add         add the signers to the signature already at SIG, which must be of this package\n", false},
        {Opt::output, "--output", Shape::value, value, Completes::file, "", false,
         "  --output SIG  where to write the signature; never the package, a key, certificate or chain\n", false},
        {Opt::partSbom, "--part-sbom", Shape::repeatable, "PART=FILE", Completes::file, "", false,
         "  --part-sbom PART=FILE  link the part (by the label list shows) to FILE, the SPDX or CycloneDX JSON\n"
         "                document its image's build wrote; repeatable\n",
         false},
        {Opt::package, "--package", Shape::value, value, Completes::file, "", false,
         "  --package P   also compare P with what the arguments pack today\n", false},
    };
    return table;
}

const OptionSpec& optionSpec(Opt id) {
    for (const OptionSpec& o : optionTable())
        if (o.id == id) return o;
    return optionTable().front();  // every Opt has its row; unreachable
}

const char* helpOf(const OptionUse& use) { return use.help != nullptr ? use.help : optionSpec(use.option).help; }

const OptionSpec* optionOf(const VerbSpec& verb, const std::string& name) {
    for (const OptionUse& use : verb.options)
        if (name == optionSpec(use.option).name) return &optionSpec(use.option);
    return nullptr;
}

const VerbSpec* verbNamed(const std::string& name) {
    for (const VerbSpec& v : verbTable())
        if (name == v.name) return &v;
    return nullptr;
}

const VerbSpec& verbSpec(Verb verb) {
    for (const VerbSpec& v : verbTable())
        if (v.verb == verb) return v;
    return verbTable().front();  // every Verb has its row; unreachable
}

bool asksForHelp(const std::string& arg) { return arg == "-h" || arg == "--help" || arg == "-?" || arg == "/?"; }

}  // namespace fw
