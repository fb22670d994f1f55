#include "format/layout_guess.h"

#include <algorithm>

#include "format/kinds.h"

namespace fw {

LayoutGuess guessLayout(const std::vector<std::uint32_t>& typeCodes, const std::vector<std::uint32_t>* boards) {
    LayoutGuess guess;
    for (std::uint32_t code : typeCodes) {
        const PartKind asOld = kindOfTypeCode(code, true), asNormal = kindOfTypeCode(code, false);
        if (asOld == PartKind::unknown && asNormal != PartKind::unknown) {
            return {false, "type codes only the normal layout uses", false};
        }
        guess.guessed = guess.guessed || asOld != asNormal;
    }
    const bool allLegacy =
        boards != nullptr && !boards->empty() && std::all_of(boards->begin(), boards->end(), isLegacyBoard);
    guess.oldLayout = allLegacy;
    guess.reason = allLegacy ? "every board is a legacy board" : "not every board is a legacy board";
    return guess;
}

}  // namespace fw
