#include "inspect/report/package_contents.h"

#include "inspect/report/layout_note.h"

namespace fw {

void ContentsCollector::summary(const PackageSummary& s) {
    if (noteTo_ != nullptr) noteGuessedLayout(s, noteTo_);
    into_.summary = s;
}

void ContentsCollector::board(std::uint32_t code) {
    if (into_.boards.size() < keptEntries) into_.boards.push_back(code);
    else into_.boardsLeftOut = true;
}

}  // namespace fw
