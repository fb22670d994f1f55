#include "inspect/diff/diff_report.h"

#include <string>

#include "inspect/diff/diff.h"
#include "inspect/report/report.h"
#include "inspect/text/json_text.h"
#include "inspect/text/plain_text.h"
#include "platform/console_text.h"

namespace fw {
namespace {

const char* layoutName(const PackageContents& c) { return c.summary.oldLayout ? "old" : "normal"; }

// The input's own length and digests, for a part with a name or path field.
std::string inputFacts(const PartReport& r) {
    if (!hasContentField(r) || !r.digested) return "";
    return "; input " + std::to_string(r.contentLength) + " bytes, md5 " + hexDigest(r.contentDigest) +
           (r.contentSha256Digest.empty() ? "" : ", sha256 " + hexBytes(r.contentSha256Digest));
}

std::string partFacts(const PartReport& r) {
    return std::to_string(r.header.dataLength) + " bytes, type code " + std::to_string(r.header.typeCode) + ", md5 " +
           hexDigest(dataDigestOf(r)) + inputFacts(r);
}

std::string changeText(const PartChange& c) {
    std::string text;
    auto add = [&](const std::string& what, const std::string& before, const std::string& after) {
        text += (text.empty() ? "" : ", ") + what + " " + before + " -> " + after;
    };
    const PartHeader &a = c.before->header, &b = c.after->header;
    if (c.length) add("length", std::to_string(a.dataLength), std::to_string(b.dataLength));
    if (c.digest) add("md5", hexDigest(dataDigestOf(*c.before)), hexDigest(dataDigestOf(*c.after)));
    if (c.typeCode) add("type code", std::to_string(a.typeCode), std::to_string(b.typeCode));
    const PartReport &x = *c.before, &y = *c.after;
    if (hasContentField(x) && hasContentField(y) && x.digested && y.digested && (c.length || c.digest)) {
        text += "; input";
        if (x.contentLength != y.contentLength)
            text += " length " + std::to_string(x.contentLength) + " -> " + std::to_string(y.contentLength) + ",";
        text += " md5 " + hexDigest(x.contentDigest) + " -> " + hexDigest(y.contentDigest);
        if (!x.contentSha256Digest.empty() && !y.contentSha256Digest.empty())
            text += ", sha256 " + hexBytes(x.contentSha256Digest) + " -> " + hexBytes(y.contentSha256Digest);
    }
    return text;
}

void printDefects(const PackageContents& c, std::FILE* out) {
    for (const std::string& d : c.defects.kept)
        print(out, "defect   %s: %s\n", escapePath(c.summary.path).c_str(), escapeText(d).c_str());
    if (c.boardsLeftOut)
        print(out, "note     %s: too many board codes; only the first ones are compared\n",
                     escapePath(c.summary.path).c_str());
}

std::string codesText(const std::vector<std::uint32_t>& codes) {
    std::string text;
    for (std::uint32_t code : codes) text.append(text.empty() ? "" : " ").append(boardCodeText(code));
    return text;
}

std::size_t differences(const PackageDiff& d) {
    return d.changes.size() + d.boardsAdded.size() + d.boardsRemoved.size() + d.boardOrder() + !d.orderBefore.empty() +
           (d.before.summary.oldLayout != d.after.summary.oldLayout) +
           (d.before.summary.header.kindFlags != d.after.summary.header.kindFlags);
}

}  // namespace

void printDiffText(const PackageDiff& d, std::FILE* out) {
    printDefects(d.before, out);
    printDefects(d.after, out);
    if (d.before.summary.oldLayout != d.after.summary.oldLayout)
        print(out, "layout   %s -> %s\n", layoutName(d.before), layoutName(d.after));
    if (d.before.summary.header.kindFlags != d.after.summary.header.kindFlags)
        print(out, "kinds    0x%x -> 0x%x\n", d.before.summary.header.kindFlags, d.after.summary.header.kindFlags);
    for (std::uint32_t code : d.boardsRemoved) print(out, "board    removed %s\n", boardCodeText(code).c_str());
    for (std::uint32_t code : d.boardsAdded) print(out, "board    added %s\n", boardCodeText(code).c_str());
    if (d.boardOrder())
        print(out, "board    order %s -> %s\n", codesText(d.before.boards).c_str(), codesText(d.after.boards).c_str());
    if (!d.orderBefore.empty())
        print(out, "parts    order %s -> %s\n", escapedList(d.orderBefore).c_str(), escapedList(d.orderAfter).c_str());
    for (const PartChange& c : d.changes) {
        const std::string name = escapeText(c.identity);
        if (c.what == PartChange::What::removed)
            print(out, "removed  %s: %s\n", name.c_str(), partFacts(*c.before).c_str());
        else if (c.what == PartChange::What::added)
            print(out, "added    %s: %s\n", name.c_str(), partFacts(*c.after).c_str());
        else
            print(out, "changed  %s: %s\n", name.c_str(), changeText(c).c_str());
    }
    const std::string paths = escapePath(d.before.summary.path) + " -> " + escapePath(d.after.summary.path);
    const std::size_t n = differences(d);
    if (n == 0)
        print(out, "%s: same, %s\n", paths.c_str(), counted(d.unchanged, "part").c_str());
    else
        print(out, "%s: %s, %s unchanged\n", paths.c_str(), counted(n, "difference").c_str(),
              counted(d.unchanged, "part").c_str());
}

namespace {

std::string jsonCodes(const std::vector<std::uint32_t>& codes, bool asText) {
    std::string s = "[";
    for (std::size_t i = 0; i < codes.size(); ++i)
        s.append(i ? "," : "").append(asText ? std::string(1, '"').append(boardCodeText(codes[i])).append(1, '"')
                                             : std::to_string(codes[i]));
    return s + "]";
}

std::string jsonNames(const std::vector<std::string>& names) {
    std::string s = "[";
    for (std::size_t i = 0; i < names.size(); ++i) s.append(i ? "," : "").append(jsonString(names[i]));
    return s + "]";
}

std::string jsonSide(const PackageContents& c) {
    std::string s = std::string("{").append(jsonTextMember("package", c.summary.path)) + ",\"size\":" + std::to_string(c.summary.fileSize) +
                    ",\"layout\":\"" + layoutName(c) + "\",\"layoutGuessed\":" +
                    (c.summary.layoutGuessed ? "true" : "false") +
                    ",\"kindFlags\":" + std::to_string(c.summary.header.kindFlags) + ",\"defects\":[";
    for (std::size_t i = 0; i < c.defects.kept.size(); ++i) s.append(i ? "," : "").append(jsonString(c.defects.kept[i]));
    return s + "],\"sound\":" + (c.defects.kept.empty() ? "true" : "false") + "}";
}

std::string jsonPart(const PartReport& r) {
    return "{\"number\":" + std::to_string(r.number) + ",\"typeCode\":" + std::to_string(r.header.typeCode) +
           ",\"dataLength\":" + std::to_string(r.header.dataLength) + ",\"md5\":\"" + hexDigest(dataDigestOf(r)) +
           "\"" + (hasContentField(r) && r.digested ? contentMember(r) : "") + "}";
}

std::string jsonChange(const PartChange& c) {
    static const char* whats[] = {"added", "removed", "changed"};
    const PartReport& r = c.after != nullptr ? *c.after : *c.before;
    std::string s = "{\"change\":\"" + std::string(whats[static_cast<int>(c.what)]) + "\"," +
                    jsonTextMember("part", c.identity) + ",\"kind\":\"" + std::string(kindName(r.kind)) +
                    "\",\"partIndex\":" + std::to_string(r.header.partIndex) + "," +
                    (r.kind == PartKind::named ? jsonTextMember("name", nameText(r)) : "\"name\":null") +
                    labelMembers(r);
    if (c.before != nullptr) s += ",\"old\":" + jsonPart(*c.before);
    if (c.after != nullptr) s += ",\"new\":" + jsonPart(*c.after);
    if (c.what == PartChange::What::changed) {
        std::string fields;
        if (c.typeCode) fields += ",\"typeCode\"";
        if (c.length) fields += ",\"dataLength\"";
        if (c.digest) fields += ",\"md5\"";
        s += ",\"differs\":[" + fields.substr(1) + "]";
    }
    return s + "}";
}

}  // namespace

void printDiffJson(const PackageDiff& d, std::FILE* out) {
    std::string s = "{\"old\":" + jsonSide(d.before) + ",\"new\":" + jsonSide(d.after);
    if (d.before.summary.oldLayout != d.after.summary.oldLayout)
        s += ",\"layout\":{\"old\":\"" + std::string(layoutName(d.before)) + "\",\"new\":\"" + layoutName(d.after) + "\"}";
    if (d.before.summary.header.kindFlags != d.after.summary.header.kindFlags)
        s += ",\"kindFlags\":{\"old\":" + std::to_string(d.before.summary.header.kindFlags) +
             ",\"new\":" + std::to_string(d.after.summary.header.kindFlags) + "}";
    s += ",\"boards\":{\"added\":" + jsonCodes(d.boardsAdded, false) + ",\"removed\":" + jsonCodes(d.boardsRemoved, false) +
         "},\"boardCodes\":{\"added\":" + jsonCodes(d.boardsAdded, true) +
         ",\"removed\":" + jsonCodes(d.boardsRemoved, true) + "},\"boardOrder\":" +
         (d.boardOrder() ? "{\"old\":" + jsonCodes(d.before.boards, true) + ",\"new\":" + jsonCodes(d.after.boards, true) + "}"
                         : "null") +
         ",\"partOrder\":" +
         (d.orderBefore.empty() ? std::string("null")
                                : "{\"old\":" + jsonNames(d.orderBefore) + ",\"new\":" + jsonNames(d.orderAfter) + "}") +
         ",\"parts\":[";
    for (std::size_t i = 0; i < d.changes.size(); ++i) s.append(i ? "," : "").append(jsonChange(d.changes[i]));
    s += "],\"unchanged\":" + std::to_string(d.unchanged) + ",\"same\":" + (d.same() ? "true" : "false") + "}\n";
    printText(out, s.c_str());
}

}  // namespace fw
