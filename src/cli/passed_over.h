// What fwpack passes over or leaves out of its command line, each with the
// argument it comes from: the one list that fwpack notes on standard error
// and that fwinspect lint reports among its findings.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "cli/options.h"

namespace fw {

struct ArgumentFinding {
    int argument = 0;  // position in fwpack's argument list (1 = first after the program); 0: the line as a whole
    std::string text;
};

// Arguments that are no option, inputs that do not exist, values a later
// one replaces and names past the twentieth, in the order of the
// arguments. `argv[0]` stands for the program; `options` is its scan.
std::vector<ArgumentFinding> passedOver(int argc, const char* const* argv, const ParsedOptions& options);

// The position of the argument `value` points into (values are the
// argument strings themselves), 0 when it is none of them.
int argumentPosition(int argc, const char* const* argv, const char* value);
// A value as the findings show it: escaped, between single quotes.
std::string quotedArgument(const char* text);

// "argument 5: TEXT", or TEXT alone for a finding about the whole line.
std::string findingLine(const ArgumentFinding& finding);

// Sorts findings by their argument, the line's own ones first, keeping
// the order of findings about one argument.
void inArgumentOrder(std::vector<ArgumentFinding>& findings);

// fwpack's note on `err`: one line per finding, then the fwinspect lint
// command that checks the whole line. Nothing when nothing was passed over.
void notePassedOver(int argc, const char* const* argv, const ParsedOptions& options, std::FILE* err);

}  // namespace fw
