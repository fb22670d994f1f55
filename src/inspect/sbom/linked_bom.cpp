#include "inspect/sbom/linked_bom.h"

#include "inspect/check/sha256_listing.h"
#include "inspect/text/json_check.h"
#include "inspect/text/plain_text.h"
#include "platform/whole_file.h"

namespace fw {
namespace {

// Which document it is, from the members each kind must have: CycloneDX
// names itself in bomFormat, SPDX 2 in spdxVersion, SPDX 3 (JSON-LD) in
// its @context.
std::string formatOf(const JsonCheck& json) {
    // A version as documents write it; anything else stays out of the comment.
    const auto plain = [](const std::string& v) {
        return !v.empty() && v.size() <= 8 && v.find_first_not_of("0123456789.") == std::string::npos;
    };
    if (json.member("bomFormat") == "CycloneDX") {
        const std::string version = json.member("specVersion");
        return plain(version) ? "CycloneDX " + version : "CycloneDX";
    }
    const std::string spdx = json.member("spdxVersion");
    if (spdx.rfind("SPDX-", 0) == 0) return plain(spdx.substr(5)) ? spdx : "SPDX";
    if (json.member("@context").find("spdx.org/rdf/3.") != std::string::npos) return "SPDX 3";
    return "";
}

}  // namespace

bool splitPartSbom(const std::string& argument, LinkedBom& into, std::string* why) {
    const std::size_t equals = argument.find('=');
    if (equals == std::string::npos || equals == 0 || equals + 1 == argument.size()) {
        *why = "--part-sbom takes PART=FILE, not \"" + escapeText(argument) + "\"";
        return false;
    }
    into.label = argument.substr(0, equals);
    into.path = argument.substr(equals + 1);
    return true;
}

bool readLinkedBom(LinkedBom& into, std::string* why) {
    const std::string shown = escapePath(into.path);
    JsonCheck json({"bomFormat", "specVersion", "spdxVersion", "@context"});
    Sha256Stream sha256;
    std::string reason;
    const bool read = readInPieces(into.path, [&](const std::uint8_t* bytes, std::size_t count) {
        json.feed(bytes, count);
        sha256.update(bytes, count);
        return !json.failed();  // a verdict reached needs no more bytes
    }, &reason);
    if (!read) {
        *why = "cannot read " + shown + ": " + reason;
        return false;
    }
    if (!json.finish(&reason)) {
        *why = shown + " is no SPDX or CycloneDX document: " + reason;
        return false;
    }
    into.format = formatOf(json);
    if (into.format.empty()) {
        *why = shown + " is JSON but no SPDX or CycloneDX document: it has no bomFormat \"CycloneDX\", "
               "spdxVersion or SPDX 3 @context";
        return false;
    }
    into.sha256 = sha256.finish();
    return true;
}

}  // namespace fw
