// Folders a run makes, so that a run that fails can take them back.
#pragma once

#include <string>

#include "platform/file_handle.h"
#include <vector>

namespace fw {

// The folder part of a path ("." for a bare name) and the name in it.
std::string folderOf(const std::string& path);
std::string baseOf(const std::string& path);
// The mode a new file gets: 0666 less the umask.
unsigned newFileMode();

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

// A folder held open, so names are resolved inside it and nothing is
// reached through a link in its place.
FileHandle openFolder(const std::string& path, std::string& why);
// Whether `name` exists in the folder, as itself (a link is not followed).
bool existsIn(int dirFd, const std::string& name);
// A new file in the folder under a short temporary name (given back in
// `name`), with the mode a new file gets: 0666 less the umask.
FileHandle createTemporaryIn(int dirFd, std::string& name, std::string& why);
void removeIn(int dirFd, const std::string& name);

// Gives the file `from` in the folder the name `to`. Without `replace`, an
// existing `to` is never touched and the call fails; with it, `to` is
// replaced as a name: a file or link there is unlinked, never written.
bool renameInto(int dirFd, const std::string& from, const std::string& to, bool replace, std::string& why);

}  // namespace fw
