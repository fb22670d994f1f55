#include "inspect/extract_naming.h"

#include "platform/interruption.h"

namespace fw {

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

// Earlier files go back under their names; new files that took a free
// name, and every temporary name, are removed.
void NamingStep::undo(std::vector<NamedFile*>& files) {
    std::string ignored;
    for (auto it = done_.rbegin(); it != done_.rend(); ++it) {
        if (it->temp.empty() || !exchangeNames(dirFd_, it->temp, it->name, &ignored)) removeIn(dirFd_, it->name);
        if (!it->temp.empty()) removeIn(dirFd_, it->temp);
    }
    done_.clear();
    for (NamedFile* f : files) discardInFolder(dirFd_, f->file);
}

bool NamingStep::nameAll(std::vector<NamedFile*>& files, std::string* why) {
    for (NamedFile* f : files)
        if (!stageInFolder(dirFd_, f->file, why)) {
            *why = "cannot write into the folder: " + *why;
            undo(files);
            return false;
        }
    for (NamedFile* f : files) {
        const bool named = !interruptPending() && nameOne(*f, why);
        if (!named || interruptPending()) {
            if (named || why->empty()) *why = "interrupted";
            undo(files);
            return false;
        }
    }
    // Every name is given: the earlier files are no longer needed.
    for (const Done& d : done_)
        if (!d.temp.empty()) removeIn(dirFd_, d.temp);
    done_.clear();
    return true;
}

}  // namespace fw
