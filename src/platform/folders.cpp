// How the tools make, name and give up a file in a folder, the same on
// every system; each step is one of OsCalls.
#include <cerrno>
#include <cstring>

#include "platform/folders.h"
#include "platform/new_file.h"

namespace fw {
namespace {

using Creation = OsCalls::Creation;

// Tries short temporary names until one is free.
Creation createUnderSomeName(int dirFd, FolderFile& f, const char* lead, unsigned mode, bool vanishing,
                             std::string* why) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = shortTemporaryName(lead);
        const Creation made = f.os->createFile(dirFd, name, mode, vanishing, f.file, why);
        if (made == Creation::made && !vanishing) f.tempName = name;
        if (made != Creation::nameTaken) return made;
    }
    return Creation::nameTaken;
}

// A file's bytes reach the disk before it gets any name, so a power cut
// never leaves a name over a file that is empty or holds zeros.
bool flushWhole(FolderFile& f, std::string* why) { return !f.file.valid() || f.os->flushFile(f.file.get(), why); }

bool closeWhole(FolderFile& f, std::string* why) { return f.os->close(f.file, why); }

// A vanishing file gets a lasting temporary name, so a rename can give it
// any, also one that is taken.
bool linkUnderTemporaryName(int dirFd, FolderFile& f, const char* lead) {
    for (int attempt = 0; attempt < 100 && f.tempName.empty(); ++attempt) {
        const std::string temp = shortTemporaryName(lead);
        if (f.os->linkUnnamed(f.file.get(), dirFd, temp)) f.tempName = temp;
        else if (errno != EEXIST) break;
    }
    return !f.tempName.empty();
}

// A path's last name, past separators at its end ("out/" is "out");
// `path` loses those separators.
std::string lastNameOf(std::string& path) {
    while (baseOf(path).empty() && !folderOf(path).empty() && folderOf(path) != path) path = folderOf(path);
    return baseOf(path);
}

}  // namespace

// A file that vanishes with the process where the file system has one;
// where it has none, or ran out of names for one, a lasting temporary name.
bool createInFolder(int dirFd, FolderFile& f, std::string* why, const NewFile& how) {
    const unsigned mode = how.mode != 0 ? how.mode : newFileMode();
    f.tempName.clear();
    if (how.unnamed) {
        const Creation made = createUnderSomeName(dirFd, f, how.lead, mode, true, why);
        if (made == Creation::made) return true;
        if (made == Creation::failed) return false;
    }
    return createUnderSomeName(dirFd, f, how.lead, mode, false, why) == Creation::made;
}

bool nameInFolder(int dirFd, FolderFile& f, const std::string& name, bool replace, std::string* why,
                  const char* lead) {
    if (!flushWhole(f, why)) {
        discardInFolder(dirFd, f);
        return false;
    }
    if (f.file.valid() && f.tempName.empty()) {
        if (f.os->linkUnnamed(f.file.get(), dirFd, name)) {
            if (closeWhole(f, why)) return f.os->flushFolder(dirFd, why);
            f.os->removeIn(dirFd, name);
            return false;
        }
        if (!replace || errno != EEXIST || !linkUnderTemporaryName(dirFd, f, lead)) {
            *why = std::strerror(errno);
            f.file.reset();
            return false;
        }
    }
    const bool renamed = closeWhole(f, why) && f.os->renameInto(dirFd, f.tempName, name, replace, why);
    if (!renamed) f.os->removeIn(dirFd, f.tempName);
    f.tempName.clear();
    return renamed && f.os->flushFolder(dirFd, why);
}

bool stageInFolder(int dirFd, FolderFile& f, std::string* why) {
    if (!flushWhole(f, why)) {
        discardInFolder(dirFd, f);
        return false;
    }
    if (f.file.valid() && f.tempName.empty() && !linkUnderTemporaryName(dirFd, f, ".fwinspect-")) {
        *why = std::strerror(errno);
        f.file.reset();
        return false;
    }
    return closeWhole(f, why);
}

void discardInFolder(int dirFd, FolderFile& f) {
    f.file.reset();
    if (!f.tempName.empty()) f.os->removeIn(dirFd, f.tempName);
    f.tempName.clear();
}

// A name "." or ".." cannot be given by a rename: such a folder is filled
// where it is made.
bool CreatedFolders::createFor(const std::string& path, std::string& fill, std::string* why) {
    std::string trimmed = path;
    const std::string name = lastNameOf(trimmed);
    fill = path;
    if (!nothingAt(path) || name.empty() || name == "." || name == "..") return create(path, why);
    const std::string beside = trimmed.substr(0, trimmed.size() - name.size());
    // Another run that gives up may take a missing parent away between its
    // making and ours: a few attempts make it again.
    for (int attempt = 0; attempt < 8; ++attempt) {
        fill = beside + shortTemporaryName(".fwinspect-");
        // A folder found under that name is another's.
        if (create(fill, why) && !created_.empty() && created_.back() == fill) {
            own_ = fill;
            finalName_ = name;
            return true;
        }
    }
    return false;
}

bool CreatedFolders::moveIntoPlace(std::string* why) {
    if (own_.empty()) return true;
    const FileHandle parent = openFolder(folderOf(own_), why);
    if (!parent.valid() || !renameInto(parent.get(), baseOf(own_), finalName_, false, why)) return false;
    created_.pop_back();  // the run's own folder, made last, has left its temporary name
    placedIn_ = folderOf(own_);
    own_.clear();
    return true;
}

bool CreatedFolders::keepPlaced(std::string* why) {
    if (placedIn_.empty()) return true;
    const FileHandle parent = openFolder(placedIn_, why);
    return parent.valid() && keepNames(parent.get(), why);
}

bool keepNames(int dirFd, std::string* why, const OsCalls& os) { return os.flushFolder(dirFd, why); }

}  // namespace fw
