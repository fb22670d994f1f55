#include "inspect/extract/extract_naming.h"

#include "platform/interruption.h"

namespace fw {

void discardReported(int dirFd, NamedFile& f, std::vector<Leftover>& leftovers) {
    const std::string temp = f.file.tempName;
    discardInFolder(dirFd, f.file);
    if (!temp.empty() && entryKindIn(dirFd, temp) != EntryKind::none) leftovers.push_back({temp, f.name, false, ""});
}

bool NamingStep::nameOne(NamedFile& f, std::string* why) {
    const std::string& temp = f.file.tempName;
    switch (entryKindIn(dirFd_, f.name)) {
    case EntryKind::other:
        *why = f.name + " is in the way and is not a file";
        return false;
    case EntryKind::replaceable:
        if (!replace_) {
            *why = f.name + " already exists (--force replaces it)";
            return false;
        }
        if (!exchangeNames(dirFd_, temp, f.name, why)) return false;
        done_.push_back({f.name, temp});
        break;
    case EntryKind::none:
        if (!renameInto(dirFd_, temp, f.name, false, why)) return false;
        done_.push_back({f.name, ""});
        break;
    }
    f.file.tempName.clear();
    return true;
}

void NamingStep::removeOrReport(const std::string& at, const std::string& of, bool earlier) {
    removeIn(dirFd_, at);
    if (entryKindIn(dirFd_, at) != EntryKind::none) leftovers_.push_back({at, of, earlier, "could not be removed"});
}

// An earlier file goes back under its name by a swap, or else by a rename
// over the new file; where neither works it is never removed: it stays
// under its temporary name, and so does the new file under the name.
void NamingStep::putBack(const Done& d) {
    std::string ignored;
    if (exchangeNames(dirFd_, d.temp, d.name, &ignored)) {
        removeOrReport(d.temp, d.name, false);
    } else if (!renameInto(dirFd_, d.temp, d.name, true, &ignored)) {
        leftovers_.push_back({d.temp, d.name, true, "could not be put back"});
        leftovers_.push_back({d.name, d.name, false, ""});
    }
}

// Earlier files go back under their names; new files that took a free
// name, and every temporary name, are removed.
void NamingStep::undo(std::vector<NamedFile*>& files) {
    for (auto it = done_.rbegin(); it != done_.rend(); ++it) {
        if (it->temp.empty()) removeOrReport(it->name, it->name, false);
        else putBack(*it);
    }
    done_.clear();
    for (NamedFile* f : files) discardReported(dirFd_, *f, leftovers_);
}

bool NamingStep::nameAll(std::vector<NamedFile*>& files, std::string* why) {
    for (NamedFile* f : files)
        if (!stageInFolder(dirFd_, f->file, why)) {
            *why = "cannot write into the folder: " + *why;
            undo(files);
            return false;
        }
    if (interruptPending()) {
        *why = "interrupted";
        undo(files);
        return false;
    }
    keepRunningWhateverComes();
    for (NamedFile* f : files)
        if (!nameOne(*f, why)) {
            undo(files);
            return false;
        }
    // Every name is given: the earlier files are no longer needed.
    for (const Done& d : done_)
        if (!d.temp.empty()) removeOrReport(d.temp, d.name, true);
    done_.clear();
    return true;
}

}  // namespace fw
