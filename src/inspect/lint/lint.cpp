#include "inspect/lint/lint.h"

#include "cli/options.h"
#include "cli/packer.h"
#include "inspect/text/json_text.h"
#include "inspect/text/plain_text.h"
#include "inspect/text/tool_messages.h"
#include "inspect/lint/lint_findings.h"
#include "inspect/lint/lint_package.h"
#include "job/package_job.h"
#include "platform/console_text.h"

namespace fw {
namespace {

struct LintResult {
    std::string refused;  // fwpack's own message when it would pack nothing
    std::vector<ArgumentFinding> findings;
    std::vector<std::string> differences;
};

void printText(const LintResult& r, const std::string& package, std::FILE* out) {
    if (!r.refused.empty()) print(out, "fwpack refuses the line: %s\n", escapeText(r.refused).c_str());
    for (const ArgumentFinding& f : r.findings) print(out, "%s\n", findingLine(f).c_str());
    for (const std::string& d : r.differences) print(out, "%s: %s\n", escapePath(package).c_str(), d.c_str());
    const std::size_t n = r.findings.size() + r.differences.size() + (r.refused.empty() ? 0 : 1);
    if (n == 0)
        print(out, "fwpack packs everything it is given%s\n",
                     package.empty() ? "" : (", and " + escapePath(package) + " is what it packs").c_str());
    else
        print(out, "%s\n", counted(n, "finding").c_str());
}

void printJson(const LintResult& r, const std::string& package, std::FILE* out) {
    std::string s = "{\"refused\":" + (r.refused.empty() ? std::string("null") : jsonString(r.refused)) + ",\"findings\":[";
    for (std::size_t i = 0; i < r.findings.size(); ++i)
        s.append(i ? "," : "").append("{\"argument\":").append(std::to_string(r.findings[i].argument))
            .append(",\"text\":").append(jsonString(r.findings[i].text)).append("}");
    s += "]";
    if (!package.empty()) {
        s.append(",").append(jsonTextMember("package", package)).append(",\"differences\":[");
        for (std::size_t i = 0; i < r.differences.size(); ++i) s.append(i ? "," : "").append(jsonString(r.differences[i]));
        s += "]";
    }
    const bool clean = r.refused.empty() && r.findings.empty() && r.differences.empty();
    print(out, "%s,\"clean\":%s}\n", s.c_str(), clean ? "true" : "false");
}

}  // namespace

int lintCommandLine(const std::vector<const char*>& fwpackArgs, const std::string& package, bool json, std::FILE* out,
                    std::FILE* err) {
    // fwpack's own first argument is its name; the scan starts behind it.
    std::vector<const char*> argv{"fwpack"};
    argv.insert(argv.end(), fwpackArgs.begin(), fwpackArgs.end());
    const int argc = static_cast<int>(argv.size());
    LintResult result;
    ParsedOptions options;
    if (argc <= 1) result.refused = "no arguments: fwpack prints its usage and packs its built-in example into test.update";
    if (result.refused.empty() && scanArguments(argc, argv.data(), options, &result.refused))
        validateOptions(options, &result.refused);
    if (result.refused.empty()) {
        result.findings = lintArguments(argc, argv.data(), options);
        auto job = createJob();
        registerInputs(*job, options);
        std::string why;
        if (!package.empty() && !comparePackageWithJob(package, *job, result.differences, &why)) {
            printCannotRead(err, package, why);
            if (json) printText(out, unreadableJson(package, why, "\"clean\":false").c_str());
            return 2;
        }
    }
    if (json) printJson(result, package, out);
    else printText(result, package, out);
    return result.refused.empty() && result.findings.empty() && result.differences.empty() ? 0 : 1;
}

}  // namespace fw
