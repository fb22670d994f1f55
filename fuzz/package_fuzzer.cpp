// The package reader behind fwinspect list and verify, on arbitrary bytes,
// in either reading and any of the three reports.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "inspect/report/report.h"
#include "inspect/reader/package_reader.h"

namespace {

std::FILE* sink() {
    static std::FILE* devNull = std::fopen("/dev/null", "w");
    return devNull;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const int fd = ::memfd_create("package", MFD_CLOEXEC);
    if (fd < 0) return 0;
    if (::write(fd, data, size) != static_cast<ssize_t>(size)) {
        ::close(fd);
        return 0;
    }
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    // The last byte picks the reading and the report, the first the board.
    const std::uint8_t pick = size > 0 ? data[size - 1] : 0;
    const fw::ReportStyle styles[] = {fw::ReportStyle::table, fw::ReportStyle::json, fw::ReportStyle::defectsOnly};
    fw::InspectionOptions options;
    options.layout = (pick & 0x80) != 0 ? fw::LayoutChoice::old : fw::LayoutChoice::guess;
    options.requiredBoard = size > 0 ? data[0] : 0;
    auto report = fw::makeReport(styles[pick % 3], sink());
    std::string why;
    const auto result = fw::inspectPackage(path.c_str(), options, *report, &why);
    if (result == fw::InspectionResult::unreadable) __builtin_trap();
    report->finish(result);
    ::close(fd);
    return 0;
}
