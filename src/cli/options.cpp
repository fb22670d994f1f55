#include "cli/options.h"

#include <climits>
#include <cstdio>
#include <cstring>

#include "job/package_job.h"
#include "platform/code_page.h"

namespace fw {
namespace {

bool fitsPath(const char* value) { return std::strlen(value) <= maxPathLength; }

bool isMtdOption(const char* arg) {
    return arg[0] == '-' && arg[1] == 'p' && arg[2] >= '0' && arg[2] <= '9';
}

// The digits after "-p"; a value too large for 32 bits stays the largest
// one, so it can never wrap into the accepted range.
std::int32_t mtdIndexOf(const char* arg) {
    std::int64_t value = 0;
    for (const char* p = arg + 2; *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + (*p - '0');
        if (value > INT_MAX) return INT_MAX;
    }
    return static_cast<std::int32_t>(value);
}

bool refuse(std::string* why, std::string text) {
    *why = std::move(text);
    return false;
}

struct Cursor {
    int argc;
    const char* const* argv;
    int at;
    bool has(int values) const { return at + values < argc; }
    const char* value(int n) const { return argv[at + n]; }
};

bool scanMtd(Cursor& c, ParsedOptions& o, std::string* why) {
    const char* option = c.value(0);
    if (!c.has(1)) return refuse(why, "not output for -p");
    const std::int32_t n = mtdIndexOf(option);
    if (n < 1 || n > static_cast<std::int32_t>(mtdSlotCount)) return refuse(why, "check for -p[1,20]");
    if (!fitsPath(c.value(1))) return refuse(why, std::string("path too long for ") + option);
    o.mtdArgs.push_back({n, c.value(1)});
    c.at += 1;
    return true;
}

// The length a name may have is that of its field's bytes.
bool scanNamed(Cursor& c, ParsedOptions& o, std::string* why) {
    if (!c.has(2)) return refuse(why, "not output for -n");
    std::string field;
    if (!nameFieldBytes(c.value(1), &field)) return refuse(why, "name not in the code page for -n");
    if (field.size() > maxPartNameLength) return refuse(why, "name too long for -n");
    if (!fitsPath(c.value(2))) return refuse(why, "path too long for -n");
    o.namedArgs.push_back({c.value(1), c.value(2)});
    c.at += 2;
    return true;
}

// Of the fixed kinds' options only -flash, the latest, reads "not output
// for" when its value is missing, as -o, -p and -n do.
bool saysNotOutput(PartKind kind) { return kind == PartKind::flash; }

// An option with one path value that lands in `slot`.
bool scanPath(Cursor& c, const char*& slot, bool saysNotOutput, ScanNotes& notes, std::string* why) {
    const std::string option = c.value(0);
    if (!c.has(1)) return refuse(why, (saysNotOutput ? "not output for " : "need extraParams for ") + option);
    if (!fitsPath(c.value(1))) return refuse(why, "path too long for " + option);
    if (slot != nullptr) notes.replaced.emplace_back(option, slot);
    slot = c.value(1);
    c.at += 1;
    return true;
}

bool scanOne(Cursor& c, ParsedOptions& o, std::string* why) {
    const char* arg = c.value(0);
    if (isMtdOption(arg)) return scanMtd(c, o, why);
    if (std::strcmp(arg, "-n") == 0) return scanNamed(c, o, why);
    for (const KindInfo& info : kindTable)
        if (isFixed(info.kind) && info.option == arg)
            return scanPath(c, o.imageArgs[index(info.kind)], saysNotOutput(info.kind), o.notes, why);
    if (std::strcmp(arg, "-o") == 0) return scanPath(c, o.outputArg, true, o.notes, why);
    if (std::strcmp(arg, "-b") == 0) {
        if (!c.has(1)) return refuse(why, "need extraParams for -b");
        if (o.boardArgs.size() < maxBoardCodes) o.boardArgs.push_back(c.value(1));
        else ++o.notes.boardsBeyond;
        c.at += 1;
        return true;
    }
    if (std::strcmp(arg, "-old") == 0) o.oldRequested = true;
    else if (std::strcmp(arg, "-clear") != 0) o.notes.passedOver.push_back(c.at);
    return true;  // -clear, and anything unrecognised, is passed over
}

}  // namespace

bool scanArguments(int argc, const char* const* argv, ParsedOptions& options, std::string* why) {
    for (Cursor c{argc, argv, 1}; c.at < argc; ++c.at)
        if (!scanOne(c, options, why)) return false;
    return true;
}

bool validateOptions(const ParsedOptions& o, std::string* why) {
    if (o.outputArg == nullptr) return refuse(why, "no output file");
    if (o.boardArgs.empty()) return refuse(why, "no set board type");
    bool anyImage = false;
    for (const char* arg : o.imageArgs) anyImage = anyImage || arg != nullptr;
    if (!anyImage && o.mtdArgs.empty() && o.namedArgs.empty()) return refuse(why, "no set packet");
    return true;
}

}  // namespace fw
