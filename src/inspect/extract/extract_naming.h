// Puts a set of finished files in place under their final names, all or
// none: each waits whole under a temporary name in the folder first; a
// name that stood before is swapped with its new file, so until the last
// name is given every earlier file can be put back as it was.
#pragma once

#include <string>
#include <vector>

#include "platform/folders.h"
#include "platform/new_file.h"
#include "platform/new_file.h"

namespace fw {

struct NamedFile {
    std::string name;  // final name in the folder
    FolderFile file;
};

// A file that stays in the folder under another name than the one it
// belongs to, because a step that would have put it back or removed it
// failed: the run names it in a message, as nothing it holds is lost.
struct Leftover {
    std::string at;          // the name it is left under
    std::string of;          // the final name it belongs to
    bool earlier = false;    // what stood at `of` before the run; else a new part
    const char* what = "";   // for an earlier file: what could not be done with it
};

class NamingStep {
public:
    NamingStep(int dirFd, bool replace) : dirFd_(dirFd), replace_(replace) {}
    // Names every file, or puts the folder back as it was and says why in
    // `why`. An interrupting signal that waits when naming would begin
    // gives the files up; once naming has begun the run's outcome is
    // decided, and signals wait until it ends.
    bool nameAll(std::vector<NamedFile*>& files, std::string* why);
    // What could not be put back or removed, whether naming succeeded or not.
    const std::vector<Leftover>& leftovers() const { return leftovers_; }

private:
    struct Done {
        std::string name, temp;  // temp: where the earlier file waits, if one stood there
    };
    bool nameOne(NamedFile& f, std::string* why);
    void putBack(const Done& d);
    void undo(std::vector<NamedFile*>& files);
    void removeOrReport(const std::string& at, const std::string& of, bool earlier);

    int dirFd_;
    bool replace_;
    std::vector<Done> done_;
    std::vector<Leftover> leftovers_;
};

// Closes a file given up and removes its temporary name; a name that
// stays is reported in `leftovers`.
void discardReported(int dirFd, NamedFile& f, std::vector<Leftover>& leftovers);

}  // namespace fw
