#include "inspect/extract/extractor.h"

#include <algorithm>
#include <set>

#include "inspect/report/layout_note.h"
#include "inspect/report/report.h"
#include "inspect/text/tool_messages.h"

namespace fw {

void Extractor::fail(const std::string& text) { error(err_, "%s", text.c_str()); }

// The run's closing line would say it again: one message is enough.
void Extractor::failWithNothing(const std::string& text) {
    fail(text);
    saidNothing_ = true;
}

void Extractor::summary(const PackageSummary& s) {
    noteGuessedLayout(s, err_);
    rebuild_.summary(s);
}

// Every part, or those --part names; a label no part has stops the run.
bool Extractor::chooseParts(const std::vector<PartReport>& parts) {
    for (const PartReport& r : parts) files_.resize(std::max<std::size_t>(files_.size(), r.number + 1));
    for (const PartReport& r : parts) files_[r.number].wanted = r.headerRead && options_.parts.empty();
    bool all = true;
    for (const std::string& label : std::set<std::string>(options_.parts.begin(), options_.parts.end())) {
        const std::vector<std::uint32_t> named = partsNamed(label, parts);
        for (std::uint32_t number : named) files_[number].wanted = true;
        if (named.empty()) failWithNothing(noPartNamed(label, parts) + "; nothing extracted");
        all = all && !named.empty();
    }
    return all;
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
            saidNothing_ = true;
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
            failWithNothing(escapePath(dir_ + "/" + f.name) +
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
    if (defects_ > 0 || !chooseParts(parts) || !nameParts(parts)) return false;
    if (!openFolder() || !createTemps()) {
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
            error(err_, "the earlier %s %s; it is kept as %s", escapePath(dir_ + "/" + l.of).c_str(),
                  l.what, at.c_str());
        else
            error(err_, "a new part is left as %s", at.c_str());
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
        error(err_, "the run's own folder is left as %s", escapePath(fill_).c_str());
}

bool Extractor::finish(bool sound) {
    const bool written = std::all_of(files_.begin(), files_.end(), [](const PartFile& f) {
        return !f.wanted || (f.ok && f.done);
    });
    if (sound && !written) failWithNothing("cannot write the parts into " + escapePath(dir_) + "; nothing extracted");
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
        folderFailed_ = true;
        return false;
    }
    failWithNothing("cannot name the parts in " + escapePath(dir_) + ": " + escapeText(why) + "; nothing extracted");
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
    failWithNothing("cannot name the folder " + escapePath(dir_) + ": " + why + "; nothing extracted");
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

}  // namespace fw
