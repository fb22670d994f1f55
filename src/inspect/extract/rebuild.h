// The fwpack command line that rebuilds an extracted package, offered only
// when running it gives the same package byte for byte.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "inspect/reader/package_reader.h"

namespace fw {

class Rebuild {
public:
    void summary(const PackageSummary& s);
    void board(std::uint32_t code);
    // The part as extracted to `file`.
    void part(const PartReport& r, const std::string& file);

    // The command on `out`, or on `err` why there is none.
    void print(std::FILE* out, std::FILE* err) const;

private:
    bool possible() const { return reason_.empty(); }
    // One more argument, quoted for this system's shell.
    void add(const std::string& argument);
    // `reason` as printed: any path or name in it already escaped.
    void whyNot(const std::string& reason) {
        if (reason_.empty()) reason_ = reason;
    }

    std::string package_, command_, options_, reason_;
    unsigned named_ = 0;
};

}  // namespace fw
