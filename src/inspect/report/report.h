// How fwinspect shows what an inspection finds: a table for people, one
// JSON document for programs, or only the defects.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "inspect/check/signature_check.h"
#include "inspect/reader/package_reader.h"
#include "inspect/text/json_text.h"
#include "inspect/text/plain_text.h"

namespace fw {

// Tar and named parts carry a path or name in front of the input's bytes,
// so their own digests are not the input's.
bool hasContentField(const PartReport& part);
// `,"input":{"length":...,"md5":...,"sha256":...}`: the input's bytes alone,
// as md5sum, sha256sum and stat of it give them; the digests are null when
// the part's data was not read.
std::string contentMember(const PartReport& part);
// A digest as a JSON string of hex digits; null when it was not computed.
std::string jsonHexOrNull(const std::vector<std::uint8_t>& digest);

// `,"label":"-p3","file":"mtd2.img"`: what extract --part takes and the
// file extract writes; null where there is none (a kind the layout never
// writes, an empty name).
std::string labelMembers(const PartReport& part);

// The parts `label` names as extract --part takes it: those it is the
// label of, or an mtd part whose partition it is where no part has that label.
std::vector<std::uint32_t> partsNamed(const std::string& label, const std::vector<PartReport>& parts);
// "the package has no part LABEL; it holds boot, -p3 (mtd2), splash"
std::string noPartNamed(const std::string& label, const std::vector<PartReport>& parts);

enum class ReportStyle { table, json, defectsOnly };

class ReportSink : public InspectionSink {
public:
    // The SHA-256 of the whole package file, when it was asked for.
    virtual void packageDigest(const std::vector<std::uint8_t>&) {}
    virtual void signature(const SignatureReport&) {}
    // The package could not be read (`why`); the report ends here.
    virtual void unreadable(const std::string& /*path*/, const std::string& /*why*/) {}
    // Closes the report once the inspection is over.
    virtual void finish(InspectionResult result) = 0;
};

// `boardChecked`: the inspection required a board code, which the defects
// report, without a signature, says no digest vouches for.
std::unique_ptr<ReportSink> makeReport(ReportStyle style, std::FILE* out, bool boardChecked = false);

}  // namespace fw
