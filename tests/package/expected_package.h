// Builds the bytes a package must have straight from the layout rules, so
// the writer is checked against an independent picture of the format.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "test_support.h"

namespace fwtest {

struct ExpectedPart {
    std::uint32_t typeCode;
    Bytes data;  // name or path field included
    std::uint32_t nameLength = 0;
    std::uint32_t partIndex = 0;
};

inline Bytes nameField(const std::string& name, std::size_t fieldLength) {
    Bytes b(fieldLength, 0);
    std::copy(name.begin(), name.end(), b.begin());
    return b;
}

inline Bytes concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline Bytes expectedPackage(std::uint32_t kindFlags, const std::vector<std::uint32_t>& boards,
                             const std::vector<ExpectedPart>& parts) {
    const std::size_t first = 36 + 4 * (boards.size() + parts.size());
    std::vector<std::uint32_t> offsets;
    std::size_t at = first;
    for (const auto& p : parts) {
        offsets.push_back(static_cast<std::uint32_t>(at));
        at = (at + 56 + p.data.size() + 3) / 4 * 4;
    }
    Bytes out;
    for (std::uint32_t w : {0x41555046u, kindFlags, 0u, 0u, 0u, static_cast<std::uint32_t>(boards.size()), 36u,
                            static_cast<std::uint32_t>(parts.size()), static_cast<std::uint32_t>(36 + 4 * boards.size())})
        appendWord(out, w);
    for (auto b : boards) appendWord(out, b);
    for (auto o : offsets) appendWord(out, o);
    for (std::size_t i = 0; i < parts.size(); ++i) {
        out.resize(offsets[i], 0);
        const auto& p = parts[i];
        for (std::uint32_t w : {0x5350502Au, p.typeCode, 0u, 0u, static_cast<std::uint32_t>(p.data.size()), 0u, 0u})
            appendWord(out, w);
        const auto digest = md5Of(p.data);
        out.insert(out.end(), digest.begin(), digest.end());
        for (std::uint32_t w : {p.nameLength, p.partIndex, 0u}) appendWord(out, w);
        out.insert(out.end(), p.data.begin(), p.data.end());
    }
    return out;
}

inline const std::string tarPath = "/usr/etc/sata/sda0/tarfileupdate.tar.gz";

}  // namespace fwtest
