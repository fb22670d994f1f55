// How fwinspect shows what an inspection finds: a table for people, one
// JSON document for programs, or only the defects.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "package/package_reader.h"

namespace fw {

// Printable ASCII stays; a backslash and every other byte become \\ and \xNN.
std::string escapeText(const std::string& bytes);
// A JSON string literal; bytes outside printable ASCII become \u00NN.
std::string jsonString(const std::string& bytes);
std::string hexDigest(const Digest& digest);

enum class ReportStyle { table, json, defectsOnly };

class ReportSink : public InspectionSink {
public:
    // Closes the report once the inspection is over.
    virtual void finish(InspectionResult result) = 0;
};

std::unique_ptr<ReportSink> makeReport(ReportStyle style, std::FILE* out);

// One line on `err` when the package's layout could only be guessed.
void noteGuessedLayout(const PackageSummary& summary, std::FILE* err);

}  // namespace fw
