#include "package_bytes.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "inspect/command/inspect_command.h"
#include "format/kinds.h"

namespace fwtest {
namespace {

void putAt(Bytes& b, std::size_t at, const std::uint8_t* bytes, std::size_t count) {
    if (b.size() < at + count) b.resize(at + count);
    std::copy(bytes, bytes + count, b.begin() + static_cast<std::ptrdiff_t>(at));
}

// The format's codes and bits written out again, so packages built here do
// not take them from the table the tools read.
struct Codes {
    std::uint32_t type, oldType, bit, oldBit;
};
Codes codesOf(fw::PartKind kind) {
    switch (kind) {
        case fw::PartKind::boot: return {1, 1, 0x1, 0x1};
        case fw::PartKind::kernel: return {2, 0, 0x2, 0};
        case fw::PartKind::rfs: return {3, 2, 0x4, 0x2};
        case fw::PartKind::app: return {4, 0, 0x8, 0};
        case fw::PartKind::config: return {5, 0, 0x10, 0};
        case fw::PartKind::logo: return {6, 4, 0x20, 0x8};
        case fw::PartKind::chlogo: return {7, 7, 0x40, 0x40};
        case fw::PartKind::tar: return {9, 9, 0x100, 0x100};
        case fw::PartKind::flash: return {22, 22, 0x200000, 0x200000};
        case fw::PartKind::mtd: return {21, 21, 0x100000, 0x100000};
        case fw::PartKind::named: return {20, 20, 0x80000, 0x80000};
        case fw::PartKind::unknown: break;
    }
    return {};
}

std::uint32_t kindBitOfCode(std::uint32_t typeCode, bool oldLayout) {
    for (int k = 0; k <= static_cast<int>(fw::PartKind::named); ++k) {
        const Codes c = codesOf(static_cast<fw::PartKind>(k));
        if (typeCode != 0 && (oldLayout ? c.oldType : c.type) == typeCode) return oldLayout ? c.oldBit : c.bit;
    }
    return 0;
}

}  // namespace

RawPart fixedPart(fw::PartKind kind, const Bytes& content, bool oldLayout) {
    const Codes codes = codesOf(kind);
    RawPart p{oldLayout ? codes.oldType : codes.type, content};
    if (kind == fw::PartKind::tar) {
        const std::string target = "/usr/etc/sata/sda0/tarfileupdate.tar.gz";
        Bytes field(target.begin(), target.end());
        field.push_back(0);
        p.nameLength = static_cast<std::uint32_t>(field.size());
        p.data.insert(p.data.begin(), field.begin(), field.end());
    }
    return p;
}

RawPart mtdPart(std::uint32_t index, const Bytes& content) { return {21, content, 0, index}; }

RawPart namedPart(const std::string& name, const Bytes& content) {
    Bytes field(name.begin(), name.end());
    field.resize((name.size() + 3) / 4 * 4, 0);
    RawPart p{20, field, static_cast<std::uint32_t>(field.size())};
    p.data.insert(p.data.end(), content.begin(), content.end());
    return p;
}

Bytes buildPackage(const std::vector<std::uint32_t>& boards, const std::vector<RawPart>& parts, bool oldLayout) {
    fw::PackageHeader h;
    h.boardCount = static_cast<std::uint32_t>(boards.size());
    h.partCount = static_cast<std::uint32_t>(parts.size());
    h.partTableOffset = fw::boardTableOffset + 4 * h.boardCount;
    for (const RawPart& p : parts) h.kindFlags |= kindBitOfCode(p.typeCode, oldLayout);
    Bytes b;
    const auto header = fw::encodePackageHeader(h);
    putAt(b, 0, header.data(), header.size());
    for (std::uint32_t code : boards) appendWord(b, code);
    std::uint64_t at = h.partTableOffset + 4ull * h.partCount;
    for (const RawPart& p : parts) {
        appendWord(b, static_cast<std::uint32_t>(at));
        at = fw::advanceOffset(at, p.data.size());
    }
    for (const RawPart& p : parts) {
        b.resize((b.size() + 3) & ~std::size_t{3}, 0);
        fw::PartHeader ph;
        ph.typeCode = p.typeCode;
        ph.dataLength = static_cast<std::uint32_t>(p.data.size());
        ph.digest = md5Of(p.data);
        ph.nameLength = p.nameLength;
        ph.partIndex = p.partIndex;
        const auto encoded = fw::encodePartHeader(ph);
        const std::size_t start = b.size();
        putAt(b, start, encoded.data(), encoded.size());
        putAt(b, start + encoded.size(), p.data.data(), p.data.size());
    }
    return b;
}

Bytes oneTargetManyEntries(std::uint32_t entries, std::uint32_t dataLength) {
    Bytes b = buildPackage({0x0c35}, {fixedPart(fw::PartKind::boot, patternBytes(dataLength))});
    const std::uint32_t partOffset = wordAt(b, 40);
    const Bytes part(b.begin() + partOffset, b.end());
    fw::PackageHeaderBytes raw{};
    std::copy_n(b.begin(), raw.size(), raw.begin());
    fw::PackageHeader h = fw::decodePackageHeader(raw);
    h.partCount = entries;
    const std::uint32_t newOffset = (40 + 4 * entries + 3) & ~3u;
    const auto header = fw::encodePackageHeader(h);
    Bytes out(header.begin(), header.end());
    appendWord(out, 0x0c35);
    for (std::uint32_t i = 0; i < entries; ++i) appendWord(out, newOffset);
    out.resize(newOffset, 0);
    out.insert(out.end(), part.begin(), part.end());
    return out;
}

InspectOutcome fwinspect(const std::vector<std::string>& args) {
    std::vector<const char*> argv{"fwinspect"};
    for (const auto& a : args) argv.push_back(a.c_str());
    CapturedOutput out, err;
    const int status = fw::runInspector(static_cast<int>(argv.size()), argv.data(), out.stream(), err.stream());
    return {status, out.text(), err.text()};
}

bool runScriptIn(const ScratchDir& dir, const std::string& script) {
    const std::string file = dir.write("make.sh", script);
    return std::system(("cd " + dir.path() + " && sh " + file + " >/dev/null 2>&1").c_str()) == 0;
}

bool opensslIn(const ScratchDir& dir, const std::string& arguments) {
    return std::system(("cd " + dir.path() + " && openssl " + arguments + " >/dev/null 2>&1").c_str()) == 0;
}

bool pythonAvailable() {
    static const bool available = std::system("python3 -c pass > /dev/null 2>&1") == 0;
    return available;
}

std::string pythonJson(const std::string& json, const std::string& expression) {
    if (!pythonAvailable()) return "no python3";
    ScratchDir dir;
    dir.write("doc.json", json);
    dir.write("check.py", "import json, sys\nd = json.load(open(sys.argv[1], encoding='utf-8'))\nprint(" + expression +
                              ", end='')\n");
    const std::string command = "python3 " + dir.file("check.py") + " " + dir.file("doc.json") + " > " +
                                dir.file("out") + " 2>&1";
    const int status = std::system(command.c_str());
    const Bytes out = readFile(dir.file("out"));
    return (status == 0 ? "" : "python3 failed: ") + std::string(out.begin(), out.end());
}

}  // namespace fwtest
