#include "inspect/sbom/sbom_document.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>

#include "format/kinds.h"
#include "format/part_checks.h"
#include "format/part_identity.h"
#include "inspect/check/sha256_listing.h"
#include "inspect/report/report.h"
#include "inspect/text/json_text.h"
#include "platform/shell_words.h"

namespace fw {
namespace {

// JSON as people read it too: two spaces a level, one member a line.
class PrettyJson {
public:
    PrettyJson() : text_("{") {}
    PrettyJson& open(const char* key, char bracket) {
        start(key);
        text_ += bracket;
        first_.push_back(true);
        return *this;
    }
    PrettyJson& close(char bracket) {
        const bool empty = first_.back();
        first_.pop_back();
        if (!empty) newLine();
        text_ += bracket;
        return *this;
    }
    // `value` is JSON already: a number, or a string jsonString made.
    PrettyJson& member(const char* key, const std::string& value) {
        start(key);
        text_ += value;
        return *this;
    }
    PrettyJson& text(const char* key, const std::string& value) { return member(key, jsonString(value)); }
    std::string finish() {
        close('}');
        return text_ + "\n";
    }

private:
    void start(const char* key) {
        if (!first_.back()) text_ += ',';
        first_.back() = false;
        newLine();
        if (key != nullptr) text_.append(1, '"').append(key).append("\": ");
    }
    void newLine() { text_.append("\n").append(2 * first_.size(), ' '); }

    std::string text_;
    std::vector<bool> first_{true};
};

const char* const ourNamespace = "fwpack:";

void hash(PrettyJson& json, const char* algorithm, const std::string& hex) {
    json.open(nullptr, '{').text("alg", algorithm).text("content", hex).close('}');
}

class Properties {
public:
    void add(const std::string& name, const std::string& value) { list_.push_back({ourNamespace + name, value}); }
    // Text read from the package may be any bytes; JSON text cannot hold
    // every byte, so a name that is not UTF-8 gets its exact bytes beside it.
    void addText(const std::string& name, const std::string& bytes) {
        add(name, bytes);
        if (!isValidUtf8(bytes)) add(name + "Hex", hexBytes(bytes));
    }
    void write(PrettyJson& json) const {
        json.open("properties", '[');
        for (const auto& [name, value] : list_) json.open(nullptr, '{').text("name", name).text("value", value).close('}');
        json.close(']');
    }

private:
    std::vector<std::pair<std::string, std::string>> list_;
};

void externalReference(PrettyJson& json, const char* type, const std::string& path,
                       const std::vector<std::uint8_t>& sha256, const std::string& comment) {
    json.open(nullptr, '{').text("type", type).text("url", iriReferenceOf(path)).open("hashes", '[');
    hash(json, "SHA-256", hexBytes(sha256));
    json.close(']').text("comment", comment).close('}');
}

std::string baseNameOf(const std::string& path) {
    std::size_t at = path.size();
    while (at > 0 && !isPathSeparator(path[at - 1])) --at;
    return path.substr(at);
}

void packageComponent(PrettyJson& json, const SbomFacts& facts) {
    json.open("component", '{').text("type", "firmware").text("bom-ref", "package");
    const std::string name = baseNameOf(facts.summary.path);
    json.text("name", name).open("hashes", '[');
    hash(json, "SHA-256", hexBytes(facts.sha256));
    json.close(']');
    Properties properties;
    if (!isValidUtf8(name)) properties.add("package:nameHex", hexBytes(name));
    properties.add("package:size", std::to_string(facts.summary.fileSize));
    properties.add("package:layout", facts.summary.oldLayout ? "old" : "normal");
    for (std::uint32_t code : facts.boards) properties.add("package:board", boardCodeText(code));
    if (facts.signature) {
        const SignatureReport& s = *facts.signature;
        json.open("externalReferences", '[');
        externalReference(json, "digital-signature", s.file, s.fileSha256,
                          "the package's detached CMS signature, verified when this document was made");
        json.close(']');
        for (const SignerVerdict& signer : s.verdict.signers)
            if (signer.accepted) properties.addText("signature:signer", signer.subject);
    }
    properties.write(json);
    json.close('}');
}

// The kinds a board runs or boots from are firmware; the rest are files it keeps.
const char* componentType(PartKind kind) {
    switch (kind) {
        case PartKind::boot: case PartKind::kernel: case PartKind::rfs: case PartKind::flash: case PartKind::mtd:
            return "firmware";
        default: return "file";
    }
}

std::string partRef(const PartReport& part) { return "part-" + std::to_string(part.number); }

void partComponent(PrettyJson& json, const PartReport& part, const std::vector<LinkedBom>& linked) {
    const PartIdentity identity = partIdentityOf(part);
    json.open(nullptr, '{').text("type", componentType(part.kind)).text("bom-ref", partRef(part));
    json.text("name", labelOf(identity)).open("hashes", '[');
    hash(json, "MD5", hexDigest(part.header.digest));
    hash(json, "SHA-256", hexBytes(part.sha256Digest));
    json.close(']');
    bool anyLinked = false;
    for (const LinkedBom& bom : linked) {
        if (std::find(bom.parts.begin(), bom.parts.end(), part.number) == bom.parts.end()) continue;
        if (!anyLinked) json.open("externalReferences", '[');
        anyLinked = true;
        externalReference(json, "bom", bom.path, bom.sha256, "the " + bom.format + " document of this image's build");
    }
    if (anyLinked) json.close(']');
    Properties properties;
    properties.add("part:number", std::to_string(part.number));
    properties.add("part:kind", std::string(kindName(part.kind)));
    properties.add("part:length", std::to_string(part.header.dataLength));
    if (part.kind == PartKind::mtd) properties.add("part:index", std::to_string(part.header.partIndex));
    if (const std::string file = fileNameOf(identity); !file.empty()) properties.addText("part:file", file);
    if (carriesName(part.kind)) properties.addText("part:name", nameText(part));
    if (hasContentField(part)) {
        properties.add("input:length", std::to_string(part.contentLength));
        properties.add("input:md5", hexDigest(part.contentDigest));
        properties.add("input:sha256", hexBytes(part.contentSha256Digest));
    }
    properties.write(json);
    json.close('}');
}

}  // namespace

std::string serialNumberOf(const std::string& unnumbered) {
    Sha256Stream name;
    name.update(reinterpret_cast<const std::uint8_t*>(unnumbered.data()), unnumbered.size());
    std::vector<std::uint8_t> id = name.finish();
    id.resize(16);
    id[6] = static_cast<std::uint8_t>((id[6] & 0x0f) | 0x80);  // version 8
    id[8] = static_cast<std::uint8_t>((id[8] & 0x3f) | 0x80);  // the RFC's variant
    const std::string hex = hexBytes(id);
    return "urn:uuid:" + hex.substr(0, 8) + "-" + hex.substr(8, 4) + "-" + hex.substr(12, 4) + "-" +
           hex.substr(16, 4) + "-" + hex.substr(20);
}

std::string rfc3339Seconds(std::int64_t seconds) {
    using namespace std::chrono;
    const sys_seconds at{std::chrono::seconds{seconds}};
    const sys_days day = floor<days>(at);
    const year_month_day date{day};
    const hh_mm_ss<std::chrono::seconds> time{at - day};
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()));
    return text;
}

std::string iriReferenceOf(const std::string& path) {
    std::string s = path;
    // A Windows path may come with the prefix that lifts its length limit.
    if (s.rfind("\\\\?\\", 0) == 0 && isPathSeparator('\\')) s.erase(0, 4);
    for (char& c : s)
        if (isPathSeparator(c)) c = '/';
    std::string out;
    if (!s.empty() && s[0] == '/') {
        out = "file://";
    } else if (s.size() > 2 && std::isalpha(static_cast<unsigned char>(s[0])) && s[1] == ':' && s[2] == '/') {
        out = "file:///" + s.substr(0, 2);
        s.erase(0, 2);
    }
    // Every byte outside ASCII is escaped too: IRIs leave out some
    // characters (C1 controls, private use, noncharacters), URIs all.
    static const std::string kept = "-._~!$&'()*+,;=@/";
    for (char c : s) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80 && (std::isalnum(byte) || kept.find(c) != std::string::npos)) {
            out += c;
            continue;
        }
        char escaped[4];
        std::snprintf(escaped, sizeof escaped, "%%%02X", byte);
        out += escaped;
    }
    return out;
}

namespace {

std::string documentNumbered(const SbomFacts& facts, const std::string& serial) {
    PrettyJson json;
    json.text("$schema", "http://cyclonedx.org/schema/bom-1.6.schema.json").text("bomFormat", "CycloneDX");
    json.text("specVersion", "1.6").text("serialNumber", serial).member("version", "1");
    json.open("metadata", '{').text("timestamp", rfc3339Seconds(facts.timestamp));
    json.open("tools", '{').open("components", '[').open(nullptr, '{').text("type", "application");
    json.text("name", "fwinspect").text("version", facts.toolVersion).close('}').close(']').close('}');
    packageComponent(json, facts);
    json.close('}').open("components", '[');
    for (const PartReport& part : facts.parts) partComponent(json, part, facts.linked);
    json.close(']').open("dependencies", '[').open(nullptr, '{').text("ref", "package").open("dependsOn", '[');
    for (const PartReport& part : facts.parts) json.member(nullptr, jsonString(partRef(part)));
    json.close(']').close('}').close(']');
    return json.finish();
}

}  // namespace

// The serial number is made from everything else the document says, so the
// same document always has it and any other document another.
std::string sbomDocument(const SbomFacts& facts) {
    return documentNumbered(facts, serialNumberOf(documentNumbered(facts, "")));
}

}  // namespace fw
