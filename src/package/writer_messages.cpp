#include "package/writer_messages.h"

#include "package/part_messages.h"
#include "platform/code_page.h"
#include "platform/console_text.h"

namespace fw {
namespace {

// A name is printed as the text the user typed, not as its field's bytes.
std::string shownName(const PackageJob& job, std::size_t slot) {
    std::string name = job.partNames[slot].data();
    nameFieldText(name, &name);
    return name;
}

void printOpenFailure(const PackageJob& job, const PlannedPart& p, std::FILE* out) {
    const PartMessages& info = messagesOf(p.kind);
    if (info.openLocation != 0) print(out, "[%s.%d]", openLocationText, info.openLocation);
    print(out, "cant open [%s]!%.*s", p.path, static_cast<int>(info.openSuffix.size()), info.openSuffix.data());
    if (p.kind == PartKind::mtd) print(out, " [%d] mask = %x", static_cast<int>(p.slot), job.mtdMask);
    if (p.kind == PartKind::named) print(out, "[%s]", shownName(job, p.slot).c_str());
    printText(out, "\n");
}

void printCountLine(const PackageJob& job, const PlannedPart& p, std::uint64_t bytes, std::FILE* out) {
    const auto count = static_cast<unsigned long long>(bytes);
    const std::string_view label = messagesOf(p.kind).countLabel;
    if (p.kind == PartKind::mtd)
        print(out, "[part %d:%s] len = %llu\n", static_cast<int>(p.slot), p.path, count);
    else if (p.kind == PartKind::named)
        print(out, "[part name <%s,%s>] len = %llu\n", shownName(job, p.slot).c_str(), p.path, count);
    else if (!label.empty())
        print(out, "%.*s len = %llu\n", static_cast<int>(label.size()), label.data(), count);
}

}  // namespace

void printPacks(const PackageJob& job, std::FILE* out) {
    auto has = [&](PartKind k) { return job.hasImage[index(k)]; };
    print(out, "packs :%d,%d,%d-%d,%d,%d-%d flash-%d \n", has(PartKind::boot), has(PartKind::kernel),
                 has(PartKind::rfs), has(PartKind::app), has(PartKind::logo), has(PartKind::chlogo),
                 has(PartKind::tar), has(PartKind::flash));
}

void printOutcome(const PackageJob& job, const PlannedPart& p, const PartResult& r, const char* output,
                  std::FILE* out) {
    switch (r.status) {
        case PartStatus::ok: return printCountLine(job, p, r.inputBytes, out);
        case PartStatus::openFailed: return printOpenFailure(job, p, out);
        case PartStatus::readFailed: print(out, "cant read [%s]!\n", p.path); return;
        case PartStatus::tooLarge: return printTooLarge(out, p.path);
        case PartStatus::writeFailed:
        case PartStatus::cancelled: return printCantWriteOutput(out, output);
    }
}

void printCantOpenOutput(std::FILE* out, const char* output) { print(out, "cant open file[%s]!\n", output); }
void printCantWriteOutput(std::FILE* out, const char* output) { print(out, "cant write file[%s]!\n", output); }
void printTooLarge(std::FILE* out, const char* input) { print(out, "package too large [%s]!\n", input); }

}  // namespace fw
