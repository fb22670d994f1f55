// fwinspect's commands: what each takes, its synopsis and its line of help.
#include "inspect/command/command_table.h"

namespace fw {
namespace {

// The package is read in either layout by every command that reads one.
const OptionUse layout{Opt::layout}, old{Opt::old, ""};

const std::vector<OptionUse> checkOptions{
    {Opt::json}, {Opt::board}, {Opt::ca}, {Opt::signature}, {Opt::crl}, {Opt::signer}, {Opt::at}, {Opt::signerCert},
    {Opt::partialChain}, layout, old};

const std::vector<OptionUse> extractOptions{
    {Opt::ca, "  --ca CAFILE   keep the parts only if the signature matches the bytes written and chains to CAFILE\n"},
    {Opt::signature},
    {Opt::crl, "  --crl, --signer, --at, --signer-cert, --partial-chain  as for verify\n"},
    {Opt::signer, ""}, {Opt::at, ""}, {Opt::signerCert, ""}, {Opt::partialChain, ""},
    {Opt::force}, {Opt::part}, layout, old};

const std::vector<OptionUse> signOptions{
    {Opt::key}, {Opt::cert}, {Opt::chain}, {Opt::passEnv}, {Opt::add}, {Opt::output}, layout, old};

const std::vector<OptionUse> sbomOptions{
    {Opt::partSbom},
    {Opt::output, "  --output FILE write the document to FILE (replaced whole) instead of standard output\n"},
    {Opt::board}, {Opt::ca}, {Opt::signature},
    {Opt::crl, "  --crl, --signer, --at, --signer-cert, --partial-chain  as for verify\n"},
    {Opt::signer, ""}, {Opt::at, ""}, {Opt::signerCert, ""}, {Opt::partialChain, ""},
    layout, old};

}  // namespace

const std::vector<VerbSpec>& verbTable() {
    static const std::vector<VerbSpec> table{
        {Verb::list, "list", {"PACKAGE"}, {{Opt::json}, {Opt::digests}, layout, old}, false,
         "fwinspect list [--json] [--digests] [--layout normal|old] PACKAGE\n",
         "show the header, boards and parts with the MD5 each header holds, reading only the structure"},
        {Verb::verify, "verify", {"PACKAGE"}, checkOptions, false,
         "fwinspect verify [--json] [--layout normal|old] [--board CODE] PACKAGE\n"
         "fwinspect verify --ca CAFILE [--signature SIG] [--crl FILE]... [--signer NAME]... [--at signing|now|DATE]\n"
         "                 [--signer-cert FILE] [--partial-chain] [--json] [--layout normal|old] [--board CODE] PACKAGE\n",
         "check everything the format promises; exit 1 on a defect"},
        {Verb::extract, "extract", {"PACKAGE", "DIR"}, extractOptions, false,
         "fwinspect extract [--layout normal|old] [--force] [--part LABEL]... PACKAGE DIR\n"
         "fwinspect extract --ca CAFILE [--signature SIG] [SIGNER OPTIONS] [--layout normal|old] [--force] "
         "[--part LABEL]... PACKAGE DIR\n",
         "verify, then write the parts into DIR and print the fwpack command that rebuilds the package"},
        {Verb::diff, "diff", {"OLD", "NEW"}, {{Opt::json}, layout, old}, false,
         "fwinspect diff [--json] [--layout normal|old] OLD NEW\n",
         "compare two packages' boards and parts; exit 1 when they differ, 2 when either is defective"},
        {Verb::sign, "sign", {"PACKAGE"}, signOptions, false,
         "fwinspect sign --key KEY --cert CERT [--key KEY --cert CERT]... [--chain FILE] [--pass-env NAME] [--add] "
         "[--output SIG] [--layout normal|old] PACKAGE\n",
         "verify, then write a detached CMS signature of the package (default PACKAGE.sig)"},
        {Verb::lint, "lint", {}, {{Opt::json}, {Opt::package}}, true,
         "fwinspect lint [--json] [--package PACKAGE] -- FWPACK-ARGUMENTS...\n",
         "report every argument fwpack would pass over or drop; with --package, check the package is what they pack"},
        {Verb::sbom, "sbom", {"PACKAGE"}, sbomOptions, false,
         "fwinspect sbom [--part-sbom PART=FILE]... [--output FILE] [--layout normal|old] [--board CODE] PACKAGE\n"
         "fwinspect sbom --ca CAFILE [--signature SIG] [SIGNER OPTIONS] [--part-sbom PART=FILE]... [--output FILE]\n"
         "               [--layout normal|old] [--board CODE] PACKAGE\n",
         "verify, then write the package's bill of materials (CycloneDX 1.6 JSON); exit 1 on a defect"},
    };
    return table;
}

}  // namespace fw
