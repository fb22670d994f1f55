#include "inspect/reader/package_reader.h"

#include <algorithm>

#include "format/part_checks.h"
#include "platform/code_page.h"

namespace fw {

std::uint32_t contentOffset(const PartReport& r) {
    return carriesName(r.kind) ? std::min(r.header.nameLength, r.header.dataLength) : 0;
}

// Bytes that are no text in this machine's code page stay as they are, and
// are escaped wherever they are shown.
std::string nameText(const PartReport& r) {
    std::string text = r.name;
    if (r.kind == PartKind::named) nameFieldText(r.name, &text);
    return text;
}

PartIdentity partIdentityOf(const PartReport& r) { return {r.kind, r.header.partIndex, nameText(r)}; }

std::string partLabel(const PartReport& r) {
    const std::string label = "part " + std::to_string(r.number);
    return r.headerRead ? label + " (" + describe(partIdentityOf(r)) + ")" : label;
}

}  // namespace fw
