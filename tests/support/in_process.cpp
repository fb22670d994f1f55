#include "support/in_process.h"

#include "cli/packer.h"
#include "inspect/command/inspect_command.h"
#include "support/test_support.h"

namespace fwtest {
namespace {

std::vector<const char*> argvOf(const char* program, const std::vector<std::string>& args) {
    std::vector<const char*> argv{program};
    for (const auto& a : args) argv.push_back(a.c_str());
    return argv;
}

}  // namespace

InspectOutcome fwpack(const std::vector<std::string>& args) {
    const auto argv = argvOf("fwpack", args);
    CapturedOutput out, err;
    const int status = fw::runPacker(static_cast<int>(argv.size()), argv.data(), out.stream(), err.stream());
    return {status, out.text(), err.text()};
}

RunResult runPackerWith(const std::vector<std::string>& args) {
    const InspectOutcome r = fwpack(args);
    return {r.status, r.out};
}

InspectOutcome fwinspect(const std::vector<std::string>& args) {
    const auto argv = argvOf("fwinspect", args);
    CapturedOutput out, err;
    const int status = fw::runInspector(static_cast<int>(argv.size()), argv.data(), out.stream(), err.stream());
    return {status, out.text(), err.text()};
}

}  // namespace fwtest
