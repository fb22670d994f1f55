// Puts a set of finished files in place under their final names, all or
// none: each waits whole under a temporary name in the folder first; a
// name that stood before is swapped with its new file, so until the last
// name is given every earlier file can be put back as it was.
#pragma once

#include <string>
#include <vector>

#include "platform/folders.h"

namespace fw {

struct NamedFile {
    std::string name;  // final name in the folder
    FolderFile file;
};

class NamingStep {
public:
    NamingStep(int dirFd, bool replace) : dirFd_(dirFd), replace_(replace) {}
    // Names every file, or leaves the folder as it was and says why in `why`.
    // Stops and undoes when an interrupting signal waits.
    bool nameAll(std::vector<NamedFile*>& files, std::string* why);

private:
    struct Done {
        std::string name, temp;  // temp: where the earlier file waits, if one stood there
    };
    bool nameOne(NamedFile& f, std::string* why);
    void undo(std::vector<NamedFile*>& files);

    int dirFd_;
    bool replace_;
    std::vector<Done> done_;
};

}  // namespace fw
