// The tools' own code run in the test program, as their mains run it, with
// what they print captured: quicker than a child process, and what a
// sanitizer or debugger sees.
#pragma once

#include <string>
#include <vector>

namespace fwtest {

struct RunResult {
    int status;
    std::string output;
};
// fwpack on the given arguments (the program name is added).
RunResult runPackerWith(const std::vector<std::string>& args);

struct InspectOutcome {
    int status;
    std::string out, err;
};
// fwpack the same way, with its standard error apart.
InspectOutcome fwpack(const std::vector<std::string>& args);
// fwinspect on the given arguments.
InspectOutcome fwinspect(const std::vector<std::string>& args);

}  // namespace fwtest
