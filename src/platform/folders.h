// Folders a run makes, so that a run that fails can take them back.
#pragma once

#include <string>
#include <vector>

namespace fw {

class CreatedFolders {
public:
    // Creates `path` and every missing parent, like mkdir -p; `why` gets the
    // system's reason on failure (a file in the way, no permission).
    bool create(const std::string& path, std::string& why);
    // Removes the folders this object created, deepest first, as far as
    // they are empty.
    void removeIfEmpty();

private:
    std::vector<std::string> created_;
};

// Gives the file `from` in the folder the name `to`. Without `replace`, an
// existing `to` is never touched and the call fails; with it, `to` is
// replaced as a name: a file or link there is unlinked, never written.
bool renameInto(int dirFd, const std::string& from, const std::string& to, bool replace);

}  // namespace fw
