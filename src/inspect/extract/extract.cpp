#include "inspect/extract/extract.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "inspect/extract/extract_naming.h"
#include "inspect/extract/rebuild.h"
#include "inspect/report/layout_note.h"
#include "inspect/text/plain_text.h"
#include "inspect/text/tool_messages.h"
#include "platform/console_text.h"
#include "platform/file_handle.h"
#include "platform/folders.h"
#include "platform/new_file.h"
#include "platform/interruption.h"

namespace fw {
namespace {

// One part on its way out: a file without a name in the folder (or under a
// temporary one) until the whole package is known to be sound.
struct PartFile : NamedFile {
    bool wanted = false, ok = true, done = false;
};

class Extractor : public InspectionSink, public PartDataSink {
public:
    Extractor(std::string dir, const ExtractOptions& options, std::FILE* out, std::FILE* err)
        : dir_(std::move(dir)), options_(options), out_(out), err_(err) {}

    void summary(const PackageSummary& s) override {
        noteGuessedLayout(s, err_);
        rebuild_.summary(s);
    }
    void board(std::uint32_t code) override { rebuild_.board(code); }
    void defect(const std::string& text) override {
        ++defects_;
        print(out_, "%s\n", escapeText(text).c_str());
    }
    void part(const PartReport& r) override {
        if (r.number < files_.size() && files_[r.number].wanted) rebuild_.part(r, dir_ + "/" + files_[r.number].name);
    }

    bool prepare(const PackageSummary&, const std::vector<PartReport>& parts) override;
    void data(const PartReport& r, std::uint64_t at, const std::uint8_t* bytes, std::size_t count) override;
    void end(const PartReport& r, bool digestOk) override;

    // Names every part, or removes everything this run created; true when
    // every part is in place.
    bool finish(bool sound);
    void abandon() { removeCreated(); }
    const Rebuild& rebuild() const { return rebuild_; }
    bool stoppedEarly() const { return stoppedEarly_; }
    bool folderFailed() const { return folderFailed_; }

private:
    bool chooseParts(const std::vector<PartReport>& parts);
    bool nameParts(const std::vector<PartReport>& parts);
    bool openFolder();
    bool createTemps();
    bool placeFolder();
    void removeCreated();
    void report(const std::vector<Leftover>& left);
    void fail(const std::string& text) { print(err_, "fwinspect: %s\n", text.c_str()); }

    std::string dir_;
    std::string fill_;  // the folder the parts are written into: DIR, or the run's own beside it
    const ExtractOptions& options_;
    std::FILE* out_;
    std::FILE* err_;
    Rebuild rebuild_;
    CreatedFolders folders_;
    FileHandle dirFd_;
    std::vector<PartFile> files_;
    std::unique_ptr<std::atomic<bool>[]> writeFailed_;  // per part, set from the writing threads
    std::size_t defects_ = 0;
    bool stoppedEarly_ = false, folderFailed_ = false;
};

// Every part, or those --part names; a label no part has stops the run.
bool Extractor::chooseParts(const std::vector<PartReport>& parts) {
    for (const PartReport& r : parts) files_.resize(std::max<std::size_t>(files_.size(), r.number + 1));
    std::set<std::string> unmatched(options_.parts.begin(), options_.parts.end());
    std::string labels;
    for (const PartReport& r : parts) {
        if (!r.headerRead) continue;
        const std::string label = labelOf(partIdentityOf(r));
        labels += (labels.empty() ? "" : ", ") + escapeText(label);
        files_[r.number].wanted = options_.parts.empty() || unmatched.erase(label) > 0 ||
                                  std::count(options_.parts.begin(), options_.parts.end(), label) > 0;
    }
    for (const std::string& label : unmatched)
        fail("the package has no part " + escapeText(label) + "; it holds " + labels + "; nothing extracted");
    return unmatched.empty();
}

// Which file each part becomes; a part whose name cannot be a file name in
// the folder is skipped, and then nothing is extracted.
bool Extractor::nameParts(const std::vector<PartReport>& parts) {
    std::set<std::string> taken;
    bool ok = true;
    for (const PartReport& r : parts) {
        if (!files_[r.number].wanted) continue;
        const std::string name = fileNameOf(partIdentityOf(r));
        if (!usableFileName(name) || !taken.insert(sameNameKey(name)).second) {
            print(err_, "%s: name \"%s\" cannot be a file name here, so nothing is extracted\n",
                         escapeText(partLabel(r)).c_str(), escapeText(name).c_str());
            ok = false;
            continue;
        }
        files_[r.number].name = name;
    }
    return ok;
}

bool Extractor::openFolder() {
    std::string why;
    if (!folders_.createFor(dir_, fill_, &why)) {
        fail("cannot create " + escapePath(dir_) + ": " + why);
        folderFailed_ = true;
        return false;
    }
    dirFd_ = fw::openFolder(fill_, &why);
    if (!dirFd_.valid()) {
        fail("cannot open " + escapePath(fill_) + ": " + why);
        folderFailed_ = true;
        return false;
    }
    for (const PartFile& f : files_) {
        const EntryKind there = f.wanted ? entryKindIn(dirFd_.get(), f.name) : EntryKind::none;
        if (there == EntryKind::other || (there == EntryKind::replaceable && !options_.force)) {
            fail(escapePath(dir_ + "/" + f.name) +
                 (there == EntryKind::other ? " is in the way and is not a file; nothing extracted"
                                            : " already exists; nothing extracted (--force replaces it)"));
            return false;
        }
    }
    return true;
}

bool Extractor::createTemps() {
    for (PartFile& f : files_) {
        if (!f.wanted) continue;
        std::string why;
        if (!createInFolder(dirFd_.get(), f.file, &why)) {
            fail("cannot create a file in " + escapePath(dir_) + ": " + why);
            return false;
        }
    }
    return true;
}

bool Extractor::prepare(const PackageSummary&, const std::vector<PartReport>& parts) {
    if (defects_ > 0 || !chooseParts(parts) || !nameParts(parts)) {
        stoppedEarly_ = true;
        return false;
    }
    if (!openFolder() || !createTemps()) {
        stoppedEarly_ = true;
        removeCreated();
        return false;
    }
    writeFailed_ = std::make_unique<std::atomic<bool>[]>(files_.size());
    return true;
}

// The name or path field is part of the digested data, not of the file.
// Pieces of one part may come in any order and from several threads.
void Extractor::data(const PartReport& r, std::uint64_t at, const std::uint8_t* bytes, std::size_t count) {
    const PartFile& f = files_[r.number];
    std::atomic<bool>& failed = writeFailed_[r.number];
    if (!f.file.file.valid() || failed.load()) return;
    const std::uint64_t skip = contentOffset(r);
    if (at + count <= skip) return;
    const std::size_t from = at >= skip ? 0 : static_cast<std::size_t>(skip - at);
    if (!writeAllAt(f.file.file.get(), bytes + from, count - from, at + from - skip)) failed.store(true);
}

void Extractor::end(const PartReport& r, bool digestOk) {
    PartFile& f = files_[r.number];
    f.ok = f.ok && digestOk && !writeFailed_[r.number].load();
    f.done = true;
    // Its bytes start for the disk now, so the flush before naming waits
    // for little.
    if (f.ok) systemCalls().startWriteBack(f.file.file.get());
}

void Extractor::report(const std::vector<Leftover>& left) {
    for (const Leftover& l : left) {
        const std::string at = escapePath(fill_ + "/" + l.at);
        if (l.earlier)
            print(err_, "fwinspect: the earlier %s %s; it is kept as %s\n", escapePath(dir_ + "/" + l.of).c_str(),
                  l.what, at.c_str());
        else
            print(err_, "fwinspect: a new part is left as %s\n", at.c_str());
    }
}

void Extractor::removeCreated() {
    std::vector<Leftover> left;
    for (PartFile& f : files_) discardReported(dirFd_.get(), f, left);
    report(left);
    // Windows removes no folder a handle holds open without delete sharing.
    dirFd_.reset();
    folders_.removeIfEmpty();
    if (!fill_.empty() && fill_ != dir_ && !nothingAt(fill_))
        print(err_, "fwinspect: the run's own folder is left as %s\n", escapePath(fill_).c_str());
}

bool Extractor::finish(bool sound) {
    const bool written = std::all_of(files_.begin(), files_.end(), [](const PartFile& f) {
        return !f.wanted || (f.ok && f.done);
    });
    if (sound && !written) fail("cannot write the parts into " + escapePath(dir_) + "; nothing extracted");
    if (!sound || !written) {
        removeCreated();
        return false;
    }
    std::vector<NamedFile*> wanted;
    for (PartFile& f : files_)
        if (f.wanted) wanted.push_back(&f);
    NamingStep naming(dirFd_.get(), options_.force);
    std::string why;
    if (naming.nameAll(wanted, &why)) {
        report(naming.leftovers());
        // The names inside the folder reach the disk first, then the
        // folder's own name where the run filled a folder of its own.
        const bool kept = keepNames(dirFd_.get(), &why);
        if (!placeFolder()) return false;
        if (kept && folders_.keepPlaced(&why)) return true;
        fail("the parts are in " + escapePath(dir_) + " but its names could not be flushed to the disk: " +
             escapeText(why));
        stoppedEarly_ = folderFailed_ = true;
        return false;
    }
    fail("cannot name the parts in " + escapePath(dir_) + ": " + escapeText(why) + "; nothing extracted");
    report(naming.leftovers());
    removeCreated();
    return false;
}

// A folder of the run's own takes DIR's name last, whole; where something
// took that name meanwhile, the parts named in it are removed again.
bool Extractor::placeFolder() {
    dirFd_.reset();
    std::string why;
    if (folders_.moveIntoPlace(&why)) return true;
    fail("cannot name the folder " + escapePath(dir_) + ": " + why + "; nothing extracted");
    dirFd_ = fw::openFolder(fill_, &why);
    std::vector<Leftover> left;
    for (const PartFile& f : files_) {
        if (!f.wanted || !dirFd_.valid()) continue;
        removeIn(dirFd_.get(), f.name);
        if (entryKindIn(dirFd_.get(), f.name) != EntryKind::none) left.push_back({f.name, f.name, false, ""});
    }
    report(left);
    removeCreated();
    return false;
}

}  // namespace

int extractPackage(const char* packagePath, const char* dir, const ExtractOptions& options, std::FILE* out,
                   std::FILE* err) {
    // Held back from here on, in the reader's threads too; released, a
    // waiting signal acts once the folder is back as it was.
    const InterruptHold hold;
    Extractor extractor(dir, options, out, err);
    InspectionOptions inspection = options.inspection;
    inspection.partData = &extractor;
    inspection.stopRequested = interruptPending;
    std::string why;
    SignatureCheck signature;
    const bool signed_ = !options.signature.caFile.empty();
    if (signed_) {
        SignaturePolicy policy = options.signature;
        if (policy.signatureFile.empty()) policy.signatureFile = std::string(packagePath) + ".sig";
        if (!signature.prepare(policy, &why)) {
            print(err, "fwinspect: %s\n", why.c_str());
            return 2;
        }
        signature.attach(inspection);
    }
    InspectionResult verdict = inspectPackage(packagePath, inspection, extractor, &why);
    if (verdict == InspectionResult::sound && signed_) {
        // The signature was checked over the bytes the parts were written from.
        const SignatureReport checked = signature.finish();
        if (!checked.valid) {
            extractor.defect(checked.defect);
            verdict = InspectionResult::defective;
        }
    }
    if (verdict == InspectionResult::unreadable) {
        // Memory can run out after the folder was made and the parts begun.
        extractor.abandon();
        printCannotRead(err, packagePath, why);
        return 2;
    }
    if (extractor.folderFailed()) return 2;
    if (interruptPending()) {
        extractor.abandon();
        return 1;
    }
    const bool extracted = extractor.finish(verdict == InspectionResult::sound);
    if (!extracted) {
        if (extractor.folderFailed()) return 2;
        if (verdict != InspectionResult::sound || !extractor.stoppedEarly())
            print(err, "fwinspect: nothing extracted from %s\n", escapePath(packagePath).c_str());
        return 1;
    }
    if (options.parts.empty()) extractor.rebuild().print(out, err);
    return 0;
}

}  // namespace fw
