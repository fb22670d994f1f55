#include "cli/packer.h"

#include <new>
#include <string>

#include "cli/options.h"
#include "cli/passed_over.h"
#include "cli/usage.h"
#include "job/package_job.h"
#include "job/registration.h"
#include "package/writer.h"
#include "platform/console_text.h"
#include "platform/parallel_pass.h"

namespace fw {
namespace {

constexpr const char* demoArguments[] = {"caldrewin_cmd.exe", "-b", "0c35", "-t", "libquorvid.tar.gz",
                                         "-o", "test.update"};

}  // namespace

void registerInputs(PackageJob& job, const ParsedOptions& o) {
    for (const char* board : o.boardArgs) addBoardCode(job, parseBoardCode(board));
    for (PartKind kind : registrationOrder)
        if (const char* path = o.imageArgs[index(kind)]) registerImage(job, kind, path);
    registerMtdParts(job, o.mtdArgs);
    registerNamedParts(job, o.namedArgs);
    if (o.oldRequested) job.oldLayout = 1;
}

namespace {

int packOnce(int argc, const char* const* argv, std::FILE* out, std::FILE* err, std::string* why) {
    if (argc <= 1) {
        printUsage("no Params", out);
        argc = static_cast<int>(std::size(demoArguments));
        argv = demoArguments;
    }
    ParsedOptions options;
    std::string message;
    if (!scanArguments(argc, argv, options, &message) || !validateOptions(options, &message)) {
        printUsage(message.c_str(), out);
        return -1;
    }
    // The note is a help beside the run: without the memory for it, the
    // package is still written as the arguments say.
    try {
        notePassedOver(argc, argv, options, err);
    } catch (const std::bad_alloc&) {
    }
    auto job = createJob();
    if (!job) {
        *why = outOfMemory;
        return -1;
    }
    registerInputs(*job, options);
    return writePackage(*job, options.outputArg, out, nullptr, why);
}

}  // namespace

int runPacker(int argc, const char* const* argv, std::FILE* out, std::FILE* err) {
    std::string why;
    int status = -1;
    try {
        status = packOnce(argc, argv, out, err, &why);
    } catch (const std::bad_alloc&) {
        why = outOfMemory;
    }
    if (!why.empty()) print(err, "fwpack: %s\n", why.c_str());
    return status;
}

}  // namespace fw
