// What the reader found in one package, gathered for the commands that
// look at it as a whole once it is read (diff, lint --package).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "inspect/reader/package_reader.h"
#include "inspect/text/plain_text.h"

namespace fw {

// At most the 49 parts the reader examines.
struct PackageContents {
    PackageSummary summary;
    std::vector<std::uint32_t> boards;  // in the table's order
    std::vector<PartReport> parts;
    DefectList defects;
    bool boardsLeftOut = false;  // a hostile board count; only the first ones were kept
};

class ContentsCollector : public InspectionSink {
public:
    // `noteTo`, when given, hears that the layout had to be guessed.
    explicit ContentsCollector(PackageContents& into, std::FILE* noteTo = nullptr) : into_(into), noteTo_(noteTo) {}
    void summary(const PackageSummary& s) override;
    void board(std::uint32_t code) override;
    void part(const PartReport& r) override { into_.parts.push_back(r); }
    void defect(const std::string& text) override { into_.defects.add(text); }

private:
    PackageContents& into_;
    std::FILE* noteTo_;
};

}  // namespace fw
