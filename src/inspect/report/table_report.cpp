#include "inspect/report/report_styles.h"

#include "format/kinds.h"
#include "inspect/report/signature_report.h"
#include "platform/console_text.h"

namespace fw {
namespace {

// The index or name column: a slot part's label; the type code of a kind
// the layout does not know. (The tar part's path is fixed: a defect names
// one that differs.)
std::string partName(const PartReport& r) {
    if (r.kind == PartKind::unknown) return std::string("type ").append(std::to_string(r.header.typeCode));
    if (r.kind == PartKind::mtd || r.kind == PartKind::named) return escapeText(shownLabel(partIdentityOf(r)));
    return "";
}

// One row of the parts table, 80 columns wide for every label up to 12
// characters; no blank at its end.
std::string partRow(const PartReport& r) {
    char text[96];
    std::snprintf(text, sizeof text, "%2u %10llu %-7s %10u  %s", r.number, static_cast<unsigned long long>(r.offset),
                  kindName(r.kind).data(), r.header.dataLength, hexDigest(r.header.digest).c_str());
    const std::string name = partName(r);
    std::string row = text;
    if (!name.empty()) row.append("  ").append(name);
    return row + "\n";
}

const char* checkText(const PartReport& r) { return !r.digested ? "unread" : r.digestOk ? "ok" : "MISMATCH"; }

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
        dataRead_ = s.dataRead;
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
            print(out_, "%2u %10llu (header outside the file)\n", r.number, static_cast<unsigned long long>(r.offset));
            return;
        }
        printText(out_, partRow(r).c_str());
        if (!dataRead_) return;
        char number[16];
        std::snprintf(number, sizeof number, r.sha256Digest.empty() ? "%2u  %s" : "%2u  %-8s  ", r.number, checkText(r));
        checks_.append(number).append(hexBytes(r.sha256Digest)).append("\n");
        std::snprintf(number, sizeof number, "%-2u", r.number);
        if (hasContentField(r) && r.digested)
            content_ += "input    part " + std::string(number) + " " + lengthColumn(r.contentLength) + " bytes  md5 " +
                        hexDigest(r.contentDigest) + "\n" +
                        (r.contentSha256Digest.empty() ? "" : "         sha256 " + hexBytes(r.contentSha256Digest) + "\n");
    }
    void defect(const std::string& text) override { defects_.add(text); }
    void packageDigest(const std::vector<std::uint8_t>& digest) override {
        if (!digest.empty()) sha256_ = "package       " + hexBytes(digest) + "\n";
    }
    void signature(const SignatureReport& s) override {
        if (s.verdict.valid) signedBy_ = "signed  " + signedByText(s).substr(std::string(", signed").size()) + " (" + escapePath(s.file) + ")\n";
        signedBy_ += signerLinesText(s, "signed   ");
    }
    void finish(InspectionResult) override {
        openTable();
        // The data's digests: each part's MD5 checked and its SHA-256,
        // then the package's, as sha256sum gives them.
        if (!checks_.empty() || !sha256_.empty()) print(out_, "\n #  md5       sha256\n");
        printText(out_, checks_.c_str());
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
        print(out_, "%2s %10s %-7s %10s  %-32s  %s\n", "#", "offset", "kind", "length", "md5 as the header holds it",
              "index/name");
    }

    bool oldLayout_ = false, dataRead_ = true;
    bool tableOpen_ = false;
    long long partCount_ = -1;
    DefectList defects_;
    std::string checks_, sha256_, content_, signedBy_;
};

}  // namespace

std::unique_ptr<ReportSink> makeTableReport(std::FILE* out) { return std::make_unique<TableReport>(out); }

}  // namespace fw
