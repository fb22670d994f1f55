#include "inspect/report/report_styles.h"

#include "format/kinds.h"
#include "inspect/report/signature_report.h"
#include "platform/console_text.h"

namespace fw {
namespace {

// The index or name column: a slot part's label, the tar part's target path.
std::string partName(const PartReport& r) {
    if (r.kind == PartKind::tar) return escapeText(r.name);
    if (r.kind == PartKind::mtd || r.kind == PartKind::named) return escapeText(shownLabel(partIdentityOf(r)));
    return "";
}

// Wide enough for the largest input a package holds, so the digests of
// every part's input line up.
std::string lengthColumn(std::uint64_t length) {
    char text[16];
    std::snprintf(text, sizeof text, "%10llu", static_cast<unsigned long long>(length));
    return text;
}

class TableReport : public StreamReport {
public:
    using StreamReport::StreamReport;

    void summary(const PackageSummary& s) override {
        oldLayout_ = s.oldLayout;
        print(out_, "package  %s (%llu bytes)%s\n", escapePath(s.path).c_str(),
                     static_cast<unsigned long long>(s.fileSize), s.structureRead ? "" : ": not a package");
        if (!s.structureRead) return;
        print(out_, "layout   %s: %s\n", s.oldLayout ? "old" : "normal", s.layoutReason);
        print(out_, "kinds    0x%x", s.header.kindFlags);
        for (const char* name : kindNames(s.header.kindFlags, s.oldLayout)) print(out_, " %s", name);
        print(out_, "\nboards   %u:", s.header.boardCount);
        partCount_ = s.header.partCount;
    }
    void board(std::uint32_t code) override { print(out_, " %s", boardCodeText(code).c_str()); }
    void part(const PartReport& r) override {
        openTable();
        if (!r.headerRead) {
            print(out_, "%4u %10llu  (header outside the file)\n", r.number, static_cast<unsigned long long>(r.offset));
            return;
        }
        print(out_, "%4u %10llu  %-7s %4u %10u  %-63s %s  %s\n", r.number,
                     static_cast<unsigned long long>(r.offset), kindName(r.kind).data(), r.header.typeCode,
                     r.header.dataLength, partName(r).c_str(), hexDigest(r.header.digest).c_str(),
                     !r.digested ? "unread" : r.digestOk ? "ok" : "MISMATCH");
        char number[16];
        std::snprintf(number, sizeof number, "%-2u", r.number);
        if (!r.sha256Digest.empty()) sha256_ += "sha256   part " + std::string(number) + "  " + hexBytes(r.sha256Digest) + "\n";
        if (hasContentField(r) && r.digested)
            content_ += "input    part " + std::string(number) + "  " + lengthColumn(r.contentLength) + " bytes  md5 " +
                        hexDigest(r.contentDigest) +
                        (r.contentSha256Digest.empty() ? "" : "  sha256 " + hexBytes(r.contentSha256Digest)) + "\n";
    }
    void defect(const std::string& text) override { defects_.add(text); }
    void packageDigest(const std::vector<std::uint8_t>& digest) override {
        sha256_ = "sha256   package " + hexBytes(digest) + "\n" + sha256_;
    }
    void signature(const SignatureReport& s) override {
        if (s.verdict.valid) signedBy_ = "signed  " + signedByText(s).substr(std::string(", signed").size()) + " (" + escapePath(s.file) + ")\n";
        signedBy_ += signerLinesText(s, "signed   ");
    }
    void finish(InspectionResult) override {
        openTable();
        printText(out_, sha256_.c_str());
        printText(out_, content_.c_str());
        printText(out_, signedBy_.c_str());
        for (const auto& d : defects_.kept) print(out_, "defect   %s\n", escapeText(d).c_str());
    }

private:
    void openTable() {
        if (tableOpen_) return;
        tableOpen_ = true;
        if (partCount_ < 0) return;
        print(out_, "\nparts    %lld\n", partCount_);
        print(out_, "%4s %10s  %-7s %4s %10s  %-63s %-32s  %s\n", "#", "offset", "kind", "type", "length",
                     "index/name", "md5", "digest");
    }

    bool oldLayout_ = false;
    bool tableOpen_ = false;
    long long partCount_ = -1;
    DefectList defects_;
    std::string sha256_, content_, signedBy_;
};

}  // namespace

std::unique_ptr<ReportSink> makeTableReport(std::FILE* out) { return std::make_unique<TableReport>(out); }

}  // namespace fw
