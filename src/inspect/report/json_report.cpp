#include "inspect/report/report_styles.h"

#include "format/kinds.h"
#include "format/part_checks.h"
#include "inspect/report/signature_report.h"
#include "platform/console_text.h"

namespace fw {
namespace {

class JsonReport : public StreamReport {
public:
    using StreamReport::StreamReport;

    void summary(const PackageSummary& s) override {
        started_ = true;
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
        if (codes_.size() < keptEntries) codes_.push_back(code);
    }
    void part(const PartReport& r) override {
        openParts();
        print(out_, "%s{\"number\":%u,\"offset\":%llu,\"headerRead\":%s", parts_++ ? "," : "", r.number,
                     static_cast<unsigned long long>(r.offset), r.headerRead ? "true" : "false");
        if (r.headerRead) {
            const PartHeader& h = r.header;
            print(out_,
                         ",\"kind\":\"%s\",\"typeCode\":%u,\"dataLength\":%u,\"nameLength\":%u,\"partIndex\":%u,"
                         "%s,\"md5\":\"%s\",\"digestOk\":%s",
                         kindName(r.kind).data(), h.typeCode, h.dataLength, h.nameLength, h.partIndex,
                         carriesName(r.kind) ? jsonTextMember("name", nameText(r)).c_str() : "\"name\":null", hexDigest(h.digest).c_str(),
                         !r.digested ? "null" : r.digestOk ? "true" : "false");
            printText(out_, labelMembers(r).c_str());
            print(out_, ",\"sha256\":%s", jsonHexOrNull(r.sha256Digest).c_str());
            if (hasContentField(r)) printText(out_, contentMember(r).c_str());
        }
        print(out_, "}");
    }
    void defect(const std::string& text) override { defects_.add(text); }
    void packageDigest(const std::vector<std::uint8_t>& digest) override { sha256_ = jsonHexOrNull(digest); }
    void signature(const SignatureReport& s) override {
        signature_ = signatureMember(s);
    }
    // Once the document has begun it is closed with the reason, so the
    // output stays one JSON document.
    void unreadable(const std::string& path, const std::string& why) override {
        if (!started_) {
            printText(out_, unreadableJson(path, why, "\"defects\":[],\"sound\":false").c_str());
            return;
        }
        error_ = jsonString(why);
        finish(InspectionResult::unreadable);
    }
    void finish(InspectionResult result) override {
        if (inBoards_) openParts();
        if (inParts_) print(out_, "]");
        if (!sha256_.empty()) print(out_, ",\"sha256\":%s", sha256_.c_str());
        printText(out_, signature_.c_str());
        if (!error_.empty()) print(out_, ",\"error\":%s", error_.c_str());
        print(out_, ",\"defects\":[");
        for (std::size_t i = 0; i < defects_.kept.size(); ++i)
            print(out_, "%s%s", i ? "," : "", jsonString(defects_.kept[i]).c_str());
        print(out_, "],\"sound\":%s}\n", result == InspectionResult::sound ? "true" : "false");
    }

private:
    // The board codes again as the text fwpack -b takes, then the parts. A
    // hostile board count could be a billion: the second list keeps only
    // the first entries.
    void openParts() {
        if (inParts_) return;
        print(out_, "],\"boardCodes\":[");
        for (std::size_t i = 0; i < codes_.size(); ++i)
            print(out_, "%s\"%s\"", i ? "," : "", boardCodeText(codes_[i]).c_str());
        codes_.clear();
        print(out_, "],\"parts\":[");
        inParts_ = true;
    }

    bool started_ = false;
    bool inBoards_ = false, inParts_ = false;
    unsigned boards_ = 0, parts_ = 0;
    std::vector<std::uint32_t> codes_;
    DefectList defects_;
    std::string sha256_, signature_, error_;
};

}  // namespace

std::unique_ptr<ReportSink> makeJsonReport(std::FILE* out) { return std::make_unique<JsonReport>(out); }

}  // namespace fw
