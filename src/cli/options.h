// The argument scan and its validation. Values are kept as the argument
// strings themselves; nothing is copied or converted here.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "format/board_code.h"
#include "format/kinds.h"
#include "job/registration.h"

namespace fw {

// What the scan passed over or let a later value replace, kept so that
// fwinspect lint can name it; the packer itself ignores it.
struct ScanNotes {
    std::vector<int> passedOver;                               // argument positions
    std::vector<std::pair<std::string, const char*>> replaced;  // option and the value that lost
    std::size_t boardsBeyond = 0;                              // -b values after the hundredth
};

struct ParsedOptions {
    const char* outputArg = nullptr;
    std::array<const char*, fixedKindCount> imageArgs{};
    std::vector<const char*> boardArgs;  // at most 100 are kept
    std::vector<MtdArg> mtdArgs;
    std::vector<NamedArg> namedArgs;
    bool oldRequested = false;
    ScanNotes notes;
};

// Scans argv[1..argc-1]; false, with the message of the first error in `why`.
bool scanArguments(int argc, const char* const* argv, ParsedOptions& options, std::string* why);

// False, with the message of the first failed test in `why`.
bool validateOptions(const ParsedOptions& options, std::string* why);

}  // namespace fw
