#include "inspect/inspect_extract.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "inspect/inspect_report.h"
#include "inspect/inspect_rebuild.h"
#include "platform/file_handle.h"
#include "platform/folders.h"

namespace fw {
namespace {

bool usableFileName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

std::string fileNameOf(const PartReport& r) {
    if (r.kind == PartKind::unknown) return "";
    if (r.kind == PartKind::named) return r.name;
    if (r.kind == PartKind::mtd) return "mtd" + std::to_string(r.header.partIndex - 1) + ".img";
    return std::string(kindInfo(r.kind).fileName);
}

// One part on its way out: a file without a name in the folder (or under a
// temporary one) until the whole package is known to be sound.
struct PartFile {
    std::string name;  // final name in the folder; empty when the part cannot be named
    FolderFile out;
    bool ok = true, done = false;
};

class Extractor : public InspectionSink, public PartDataSink {
public:
    Extractor(std::string dir, bool force, std::FILE* err) : dir_(std::move(dir)), force_(force), err_(err) {}

    void summary(const PackageSummary& s) override {
        noteGuessedLayout(s, err_);
        rebuild_.summary(s);
    }
    void board(std::uint32_t code) override { rebuild_.board(code); }
    void defect(const std::string& text) override {
        ++defects_;
        std::fprintf(err_, "%s\n", escapeText(text).c_str());
    }
    void part(const PartReport& r) override {
        if (r.number < files_.size() && !files_[r.number].name.empty())
            rebuild_.part(r, dir_ + "/" + files_[r.number].name);
    }

    bool prepare(const PackageSummary&, const std::vector<PartReport>& parts) override;
    void data(const PartReport& r, std::uint64_t at, const std::uint8_t* bytes, std::size_t count) override;
    void end(const PartReport& r, bool digestOk) override;

    // Names every part, or removes everything this run created; true when
    // every part is in place.
    bool finish(bool sound);
    const Rebuild& rebuild() const { return rebuild_; }
    bool stoppedEarly() const { return stoppedEarly_; }
    bool folderFailed() const { return folderFailed_; }

private:
    bool nameParts(const std::vector<PartReport>& parts);
    bool openFolder();
    bool createTemps();
    void removeCreated();
    void fail(const std::string& text) {
        std::fprintf(err_, "fwinspect: %s\n", text.c_str());
    }

    std::string dir_;
    bool force_;
    std::FILE* err_;
    Rebuild rebuild_;
    CreatedFolders folders_;
    FileHandle dirFd_;
    std::vector<PartFile> files_;
    std::vector<std::string> named_;  // final names this run has put in place
    std::size_t defects_ = 0;
    bool stoppedEarly_ = false, folderFailed_ = false;
};

// Which file each part becomes; a part whose name cannot be a file name in
// the folder is skipped, and then nothing is extracted.
bool Extractor::nameParts(const std::vector<PartReport>& parts) {
    std::set<std::string> taken;
    bool ok = true;
    for (const PartReport& r : parts) files_.resize(std::max<std::size_t>(files_.size(), r.number + 1));
    for (const PartReport& r : parts) {
        const std::string name = fileNameOf(r);
        if (!usableFileName(name) || !taken.insert(name).second) {
            std::fprintf(err_, "%s: name \"%s\" cannot be a file name here, so nothing is extracted\n", escapeText(partLabel(r)).c_str(),
                         escapeText(name).c_str());
            ok = false;
            continue;
        }
        files_[r.number].name = name;
    }
    return ok;
}

bool Extractor::openFolder() {
    std::string why;
    if (!folders_.create(dir_, why)) {
        fail("cannot create " + escapeText(dir_) + ": " + why);
        folderFailed_ = true;
        return false;
    }
    dirFd_ = fw::openFolder(dir_, why);
    if (!dirFd_.valid()) {
        fail("cannot open " + escapeText(dir_) + ": " + why);
        folderFailed_ = true;
        return false;
    }
    if (force_) return true;
    for (const PartFile& f : files_) {
        if (!f.name.empty() && existsIn(dirFd_.get(), f.name)) {
            fail(escapeText(dir_ + "/" + f.name) + " already exists; nothing extracted (--force replaces it)");
            return false;
        }
    }
    return true;
}

bool Extractor::createTemps() {
    for (PartFile& f : files_) {
        if (f.name.empty()) continue;
        std::string why;
        if (!createInFolder(dirFd_.get(), f.out, why)) {
            fail("cannot create a file in " + escapeText(dir_) + ": " + why);
            return false;
        }
    }
    return true;
}

bool Extractor::prepare(const PackageSummary&, const std::vector<PartReport>& parts) {
    if (defects_ > 0 || !nameParts(parts)) {
        stoppedEarly_ = true;
        return false;
    }
    if (!openFolder() || !createTemps()) {
        stoppedEarly_ = true;
        removeCreated();
        return false;
    }
    return true;
}

// The name or path field is part of the digested data, not of the file.
void Extractor::data(const PartReport& r, std::uint64_t at, const std::uint8_t* bytes, std::size_t count) {
    PartFile& f = files_[r.number];
    if (!f.out.file.valid() || !f.ok) return;
    const std::uint64_t skip = r.header.nameLength;
    if (at + count <= skip) return;
    const std::size_t from = at >= skip ? 0 : static_cast<std::size_t>(skip - at);
    if (!writeAll(f.out.file.get(), bytes + from, count - from)) f.ok = false;
}

void Extractor::end(const PartReport& r, bool digestOk) {
    PartFile& f = files_[r.number];
    f.ok = f.ok && digestOk;
    f.done = true;
}

void Extractor::removeCreated() {
    for (PartFile& f : files_) discardInFolder(dirFd_.get(), f.out);
    for (const std::string& name : named_) removeIn(dirFd_.get(), name);
    named_.clear();
    folders_.removeIfEmpty();
}

bool Extractor::finish(bool sound) {
    const bool written = std::all_of(files_.begin(), files_.end(), [](const PartFile& f) {
        return f.name.empty() || (f.ok && f.done);
    });
    bool ok = sound && written;
    if (sound && !written) fail("cannot write the parts into " + escapeText(dir_) + "; nothing extracted");
    for (PartFile& f : files_) {
        if (!ok || f.name.empty()) continue;
        std::string why;
        if (!nameInFolder(dirFd_.get(), f.out, f.name, force_, why)) {
            fail("cannot name " + escapeText(dir_ + "/" + f.name) + ": " + why + "; nothing extracted");
            ok = false;
            continue;
        }
        named_.push_back(f.name);
    }
    if (!ok) removeCreated();
    return ok;
}

}  // namespace

int extractPackage(const char* packagePath, const char* dir, const ExtractOptions& options, std::FILE* out,
                   std::FILE* err) {
    Extractor extractor(dir, options.force, err);
    InspectionOptions inspection = options.inspection;
    inspection.partData = &extractor;
    std::string why;
    const InspectionResult verdict = inspectPackage(packagePath, inspection, extractor, &why);
    if (verdict == InspectionResult::unreadable) {
        std::fprintf(err, "fwinspect: cannot read %s: %s\n", escapeText(packagePath).c_str(), why.c_str());
        return 2;
    }
    if (extractor.folderFailed()) return 2;
    const bool extracted = extractor.finish(verdict == InspectionResult::sound);
    if (!extracted) {
        if (verdict != InspectionResult::sound || !extractor.stoppedEarly())
            std::fprintf(err, "fwinspect: nothing extracted from %s\n", escapeText(packagePath).c_str());
        return 1;
    }
    extractor.rebuild().print(out, err);
    return 0;
}

}  // namespace fw
