// The command line: argument vectors made from the input go through the
// scan, validation and board-code conversion. Nothing is written.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/options.h"
#include "cli/usage.h"
#include "job/package_job.h"

namespace {

std::FILE* sink() {
    static std::FILE* devNull = std::fopen("/dev/null", "w");
    return devNull;
}

// What a successful scan promises the job's fixed fields.
void checkFits(const fw::ParsedOptions& o) {
    if (o.boardArgs.size() > fw::maxBoardCodes) __builtin_trap();
    for (const auto& m : o.mtdArgs)
        if (m.index < 1 || m.index > 20 || std::strlen(m.path) > fw::maxPathLength) __builtin_trap();
    for (const auto& n : o.namedArgs)
        if (std::strlen(n.name) > fw::maxPartNameLength || std::strlen(n.path) > fw::maxPathLength) __builtin_trap();
    for (const char* p : o.imageArgs)
        if (p != nullptr && std::strlen(p) > fw::maxPathLength) __builtin_trap();
    if (o.outputArg != nullptr && std::strlen(o.outputArg) > fw::maxPathLength) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Arguments are the input split at zero bytes.
    std::vector<std::string> args{"fwpack"};
    std::string current;
    for (std::size_t i = 0; i < size && args.size() < 200; ++i) {
        if (data[i] == 0) {
            args.push_back(current);
            current.clear();
        } else {
            current += static_cast<char>(data[i]);
        }
    }
    if (!current.empty()) args.push_back(current);
    std::vector<const char*> argv;
    for (const auto& a : args) argv.push_back(a.c_str());

    fw::ParsedOptions options;
    std::string message;
    if (fw::scanArguments(static_cast<int>(argv.size()), argv.data(), options, &message)) {
        checkFits(options);
        fw::validateOptions(options, &message);
    }
    for (const char* board : options.boardArgs) (void)fw::parseBoardCode(board);
    if (!message.empty()) fw::printUsage(message.c_str(), sink());
    return 0;
}
