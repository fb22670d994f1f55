// The three styles of report, each over the reader's sink; makeReport
// chooses one.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "inspect/report/report.h"

namespace fw {

// The names of the kinds whose bits are set in a header's kind flags.
std::vector<const char*> kindNames(std::uint32_t flags, bool oldLayout);

// Each style writes its report on one stream.
class StreamReport : public ReportSink {
public:
    explicit StreamReport(std::FILE* out) : out_(out) {}

protected:
    std::FILE* out_;
};

std::unique_ptr<ReportSink> makeTableReport(std::FILE* out);
std::unique_ptr<ReportSink> makeJsonReport(std::FILE* out);
std::unique_ptr<ReportSink> makeDefectReport(std::FILE* out, bool boardChecked);

}  // namespace fw
