#include "inspect/report/report.h"

#include <cstring>
#include <vector>

#include "format/kinds.h"
#include "inspect/report/signature_report.h"
#include "platform/console_text.h"
#include "platform/shell_words.h"
#include "platform/utf16.h"

namespace fw {


namespace {

std::vector<const char*> kindNames(std::uint32_t flags, bool oldLayout) {
    std::vector<const char*> names;
    for (const KindInfo& info : kindTable) {
        const std::uint32_t bit = kindBitOf(info.kind, oldLayout);
        if (bit != 0 && (flags & bit)) names.push_back(info.name.data());
    }
    return names;
}

// The index or name column: a slot part's label, the tar part's target path.
std::string partName(const PartReport& r) {
    if (r.kind == PartKind::tar) return escapeText(r.name);
    if (r.kind == PartKind::mtd || r.kind == PartKind::named) return escapeText(labelOf(partIdentityOf(r)));
    return "";
}

// Wide enough for the largest input a package holds, so the digests of
// every part's input line up.
std::string lengthColumn(std::uint64_t length) {
    char text[16];
    std::snprintf(text, sizeof text, "%10llu", static_cast<unsigned long long>(length));
    return text;
}

}  // namespace

bool hasContentField(const PartReport& r) { return contentOffset(r) > 0 && r.dataInside; }

std::string contentMember(const PartReport& r) {
    std::string s = ",\"input\":{\"length\":" + std::to_string(r.contentLength) + ",\"md5\":\"" +
                    hexDigest(r.contentDigest) + "\"";
    if (!r.contentSha256Digest.empty()) s += ",\"sha256\":\"" + hexBytes(r.contentSha256Digest) + "\"";
    return s + "}";
}

namespace {

class TableReport : public ReportSink {
public:
    explicit TableReport(std::FILE* out) : out_(out) {}

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
        if (s.valid) signedBy_ = "signed  " + signedByText(s).substr(std::string(", signed").size()) + " (" + escapePath(s.file) + ")\n";
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

    std::FILE* out_;
    bool oldLayout_ = false;
    bool tableOpen_ = false;
    long long partCount_ = -1;
    DefectList defects_;
    std::string sha256_, content_, signedBy_;
};

class JsonReport : public ReportSink {
public:
    explicit JsonReport(std::FILE* out) : out_(out) {}

    void summary(const PackageSummary& s) override {
        print(out_, "{%s,\"size\":%llu", jsonTextMember("package", s.path).c_str(),
                     static_cast<unsigned long long>(s.fileSize));
        if (!s.structureRead) return;
        const PackageHeader& h = s.header;
        print(out_, ",\"layout\":\"%s\",\"layoutGuessed\":%s,\"header\":{\"kindFlags\":%u,\"kinds\":[",
                     s.oldLayout ? "old" : "normal", s.layoutGuessed ? "true" : "false", h.kindFlags);
        const char* sep = "";
        for (const char* name : kindNames(h.kindFlags, s.oldLayout)) {
            print(out_, "%s\"%s\"", sep, name);
            sep = ",";
        }
        print(out_, "],\"boardCount\":%u,\"boardTableOffset\":%u,\"partCount\":%u,\"partTableOffset\":%u},\"boards\":[",
                     h.boardCount, h.boardTableOffset, h.partCount, h.partTableOffset);
        inBoards_ = true;
    }
    void board(std::uint32_t code) override {
        print(out_, "%s%u", boards_++ ? "," : "", code);
        if (codes_.size() < keptBoardCodes) codes_.push_back(code);
    }
    void part(const PartReport& r) override {
        openParts();
        print(out_, "%s{\"number\":%u,\"offset\":%llu,\"headerRead\":%s", parts_++ ? "," : "", r.number,
                     static_cast<unsigned long long>(r.offset), r.headerRead ? "true" : "false");
        if (r.headerRead) {
            const PartHeader& h = r.header;
            const bool hasName = r.kind == PartKind::named || r.kind == PartKind::tar;
            print(out_,
                         ",\"kind\":\"%s\",\"typeCode\":%u,\"dataLength\":%u,\"nameLength\":%u,\"partIndex\":%u,"
                         "%s,\"md5\":\"%s\",\"digestOk\":%s",
                         kindName(r.kind).data(), h.typeCode, h.dataLength, h.nameLength, h.partIndex,
                         hasName ? jsonTextMember("name", nameText(r)).c_str() : "\"name\":null", hexDigest(h.digest).c_str(),
                         r.digestOk ? "true" : "false");
            if (!r.sha256Digest.empty()) print(out_, ",\"sha256\":\"%s\"", hexBytes(r.sha256Digest).c_str());
            if (hasContentField(r) && r.digested) printText(out_, contentMember(r).c_str());
        }
        print(out_, "}");
    }
    void defect(const std::string& text) override { defects_.add(text); }
    void packageDigest(const std::vector<std::uint8_t>& digest) override { sha256_ = hexBytes(digest); }
    void signature(const SignatureReport& s) override {
        signature_ = signatureMember(s);
    }
    void finish(InspectionResult result) override {
        if (inBoards_) openParts();
        if (inParts_) print(out_, "]");
        if (!sha256_.empty()) print(out_, ",\"sha256\":\"%s\"", sha256_.c_str());
        printText(out_, signature_.c_str());
        print(out_, ",\"defects\":[");
        for (std::size_t i = 0; i < defects_.kept.size(); ++i)
            print(out_, "%s%s", i ? "," : "", jsonString(defects_.kept[i]).c_str());
        print(out_, "],\"sound\":%s}\n", result == InspectionResult::sound ? "true" : "false");
    }

private:
    // The board codes again as the text fwpack -b takes, then the parts. A
    // hostile board count could be a billion, so only the first thousand
    // are kept for the second list; a package holds at most 100.
    static constexpr std::size_t keptBoardCodes = 1000;
    void openParts() {
        if (inParts_) return;
        print(out_, "],\"boardCodes\":[");
        for (std::size_t i = 0; i < codes_.size(); ++i)
            print(out_, "%s\"%s\"", i ? "," : "", boardCodeText(codes_[i]).c_str());
        codes_.clear();
        print(out_, "],\"parts\":[");
        inParts_ = true;
    }

    std::FILE* out_;
    bool inBoards_ = false, inParts_ = false;
    unsigned boards_ = 0, parts_ = 0;
    std::vector<std::uint32_t> codes_;
    DefectList defects_;
    std::string sha256_, signature_;
};

class DefectReport : public ReportSink {
public:
    explicit DefectReport(std::FILE* out) : out_(out) {}

    void summary(const PackageSummary& s) override {
        path_ = escapePath(s.path);
        package_ = s.structureRead;
    }
    void part(const PartReport&) override { ++parts_; }
    void defect(const std::string& text) override {
        ++defects_;
        print(out_, "%s\n", escapeText(text).c_str());
    }
    void signature(const SignatureReport& s) override {
        signatureChecked_ = true;
        signedBy_ = signedByText(s);
        printText(out_, signerLinesText(s, path_ + ": ").c_str());
    }
    // The part digests cover only the parts: without a signature nothing
    // vouches for the header and the board table, so a sound verdict says so.
    void finish(InspectionResult result) override {
        if (result == InspectionResult::sound && !signatureChecked_)
            print(out_, "%s: the header and board table are covered by no digest; only a signature "
                               "(verify --ca) vouches for them\n", path_.c_str());
        if (result == InspectionResult::sound)
            print(out_, "%s: sound, %s%s\n", path_.c_str(), counted(parts_, "part").c_str(), signedBy_.c_str());
        else
            print(out_, "%s: %s%s\n", path_.c_str(), package_ ? "" : "not a package, ",
                         counted(defects_, "defect").c_str());
    }

private:
    std::FILE* out_;
    std::string path_, signedBy_;
    unsigned parts_ = 0, defects_ = 0;
    bool package_ = false, signatureChecked_ = false;
};

}  // namespace

std::unique_ptr<ReportSink> makeReport(ReportStyle style, std::FILE* out) {
    if (style == ReportStyle::json) return std::make_unique<JsonReport>(out);
    if (style == ReportStyle::table) return std::make_unique<TableReport>(out);
    return std::make_unique<DefectReport>(out);
}

}  // namespace fw
