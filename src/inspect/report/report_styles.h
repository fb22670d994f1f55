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

std::unique_ptr<ReportSink> makeTableReport(std::FILE* out);
std::unique_ptr<ReportSink> makeJsonReport(std::FILE* out);
std::unique_ptr<ReportSink> makeDefectReport(std::FILE* out);

}  // namespace fw
