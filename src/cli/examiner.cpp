#include "cli/examiner.h"

#include <cstring>
#include <string>
#include <vector>

#include "cli/extract.h"
#include "cli/examine_report.h"
#include "cli/options.h"

namespace fw {
namespace {

constexpr const char* usage =
    "usage: fwinspect list [--json] [--old] PACKAGE\n"
    "       fwinspect verify [--json] [--old] [--board CODE] PACKAGE\n"
    "       fwinspect extract [--old] PACKAGE DIR\n";

struct Command {
    std::string name;
    bool json = false;
    InspectionOptions options;
    std::vector<const char*> operands;
};

// Which flags each command takes; false on anything else.
bool parse(int argc, const char* const* argv, Command& c) {
    if (argc < 2) return false;
    c.name = argv[1];
    const bool list = c.name == "list", verify = c.name == "verify", extract = c.name == "extract";
    if (!list && !verify && !extract) return false;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--json" && !extract) {
            c.json = true;
        } else if (arg == "--old") {
            c.options.forceOld = true;
        } else if (arg == "--board" && verify && i + 1 < argc) {
            c.options.requiredBoard = parseBoardCode(argv[++i]);
        } else if (arg.size() > 1 && arg[0] == '-') {
            return false;
        } else {
            c.operands.push_back(argv[i]);
        }
    }
    return c.operands.size() == (extract ? 2u : 1u);
}

int inspect(const Command& c, ReportStyle style, std::FILE* out, std::FILE* err) {
    auto report = makeReport(style, out);
    const InspectionResult result = inspectPackage(c.operands[0], c.options, *report);
    if (result == InspectionResult::unreadable) {
        std::fprintf(err, "fwinspect: cannot open %s\n", escapeText(c.operands[0]).c_str());
        return 2;
    }
    report->finish(result);
    return result == InspectionResult::sound ? 0 : 1;
}

}  // namespace

int runInspector(int argc, const char* const* argv, std::FILE* out, std::FILE* err) {
    Command c;
    if (!parse(argc, argv, c)) {
        std::fputs(usage, err);
        return 2;
    }
    if (c.name == "extract") return extractPackage(c.operands[0], c.operands[1], c.options, out, err);
    if (c.json) return inspect(c, ReportStyle::json, out, err);
    return inspect(c, c.name == "list" ? ReportStyle::table : ReportStyle::defectsOnly, out, err);
}

}  // namespace fw
