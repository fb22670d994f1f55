#include "format/part_identity.h"

namespace fw {

std::string describe(const PartIdentity& p) {
    std::string text(kindName(p.kind));
    if (p.kind == PartKind::mtd) text += " -p" + std::to_string(p.mtdIndex);
    if (p.kind == PartKind::named) text += " " + p.name;
    return text;
}

std::string labelOf(const PartIdentity& p) {
    if (p.kind == PartKind::mtd) return "-p" + std::to_string(p.mtdIndex);
    if (p.kind == PartKind::named) return p.name;
    return std::string(kindName(p.kind));
}

std::string fileNameOf(const PartIdentity& p) {
    if (p.kind == PartKind::unknown) return "";
    if (p.kind == PartKind::named) return p.name;
    if (p.kind == PartKind::mtd) return "mtd" + std::to_string(p.mtdIndex - 1) + ".img";
    return std::string(kindInfo(p.kind).fileName);
}

std::vector<std::string> packerArguments(const PartIdentity& p) {
    if (p.kind == PartKind::unknown) return {};
    if (p.kind == PartKind::mtd) return {"-p" + std::to_string(p.mtdIndex)};
    if (p.kind == PartKind::named) return {"-n", p.name};
    return {std::string(kindInfo(p.kind).option)};
}

}  // namespace fw
