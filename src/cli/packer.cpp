#include "cli/packer.h"

#include <string>

#include "cli/options.h"
#include "cli/usage.h"
#include "job/package_job.h"
#include "job/registration.h"
#include "package/writer.h"

namespace fw {
namespace {

constexpr const char* demoArguments[] = {"caldrewin_cmd.exe", "-b", "0c35", "-t", "libquorvid.tar.gz",
                                         "-o", "test.update"};

}  // namespace

void registerInputs(PackageJob& job, const ParsedOptions& o) {
    for (const char* board : o.boardArgs) addBoardCode(job, parseBoardCode(board));
    for (FixedKind kind : registrationOrder)
        if (const char* path = o.imageArgs[index(kind)]) registerImage(job, kind, path);
    registerMtdParts(job, o.mtdArgs);
    registerNamedParts(job, o.namedArgs);
    if (o.oldRequested) job.oldLayout = 1;
}

int runPacker(int argc, const char* const* argv, std::FILE* out) {
    if (argc <= 1) {
        printUsage("no Params", out);
        argc = static_cast<int>(std::size(demoArguments));
        argv = demoArguments;
    }
    ParsedOptions options;
    std::string message = scanArguments(argc, argv, options);
    if (message.empty()) message = validateOptions(options);
    if (!message.empty()) {
        printUsage(message.c_str(), out);
        return -1;
    }
    auto job = createJob();
    if (!job) return -1;
    registerInputs(*job, options);
    return writePackage(*job, options.outputArg, out);
}

}  // namespace fw
