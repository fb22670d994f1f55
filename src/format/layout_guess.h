// Which layout a package was written in, as far as its bytes tell. Type
// code 2 is a kernel in the normal layout and an rfs in the old one, 4 an
// app or a logo; codes only the normal layout writes settle it, otherwise a
// package for legacy boards alone is read as old, and the reading is a
// guess when a code of both layouts is present.
#pragma once

#include <cstdint>
#include <vector>

namespace fw {

struct LayoutGuess {
    bool oldLayout = false;
    const char* reason = "";
    bool guessed = false;  // a type code reads as another kind in the other layout
};

// `typeCodes`: the parts' codes that could be read; `boards`: the board
// table, or nullptr when it could not be read whole.
LayoutGuess guessLayout(const std::vector<std::uint32_t>& typeCodes, const std::vector<std::uint32_t>* boards);

}  // namespace fw
