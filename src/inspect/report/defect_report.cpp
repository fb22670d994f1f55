#include "inspect/report/report_styles.h"

#include "inspect/report/signature_report.h"
#include "platform/console_text.h"

namespace fw {
namespace {

class DefectReport : public StreamReport {
public:
    DefectReport(std::FILE* out, bool boardChecked) : StreamReport(out), boardChecked_(boardChecked) {}

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
    // The part digests cover only the parts. The header is checked against
    // them, but the board codes are checked against nothing: a sound verdict
    // that rests on a board code says that only a signature vouches for it.
    // Said on every verify it would be noise, and soon not read.
    void finish(InspectionResult result) override {
        if (result == InspectionResult::sound && boardChecked_ && !signatureChecked_)
            print(out_, "%s: the header and board table are covered by no digest; only a signature "
                               "(verify --ca) vouches for them\n", path_.c_str());
        if (result == InspectionResult::sound)
            print(out_, "%s: sound, %s%s\n", path_.c_str(), counted(parts_, "part").c_str(), signedBy_.c_str());
        else
            print(out_, "%s: %s%s\n", path_.c_str(), package_ ? "" : "not a package, ",
                         counted(defects_, "defect").c_str());
    }

private:
    std::string path_, signedBy_;
    unsigned parts_ = 0, defects_ = 0;
    bool package_ = false, signatureChecked_ = false, boardChecked_;
};

}  // namespace

std::unique_ptr<ReportSink> makeDefectReport(std::FILE* out, bool boardChecked) {
    return std::make_unique<DefectReport>(out, boardChecked);
}

}  // namespace fw
