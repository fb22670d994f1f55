// Folders and the names in them: the folders a run makes, so that a run
// that fails can take them back, and which names a folder can hold. How a
// file is made in a folder is new_file.h.
#pragma once

#include <string>
#include <vector>

#include "platform/file_handle.h"

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
    bool create(const std::string& path, std::string* why);
    // The folder a run fills for `path`, in `fill`: `path` itself when
    // something stands there (create() then checks it is a folder); where
    // nothing does, a new folder of the run's own beside it under a
    // temporary name, made with any missing parents, which moveIntoPlace()
    // names `path` once it is filled. Two runs that find `path` missing so
    // never fill, or take back, one folder.
    bool createFor(const std::string& path, std::string& fill, std::string* why);
    // Gives the run's own folder, if it made one, the name `path`; fails,
    // leaving it where it is, when something took that name meanwhile.
    // Its handles must be closed (Windows renames no folder held open).
    bool moveIntoPlace(std::string* why);
    // Flushes the name moveIntoPlace() gave, so DIR itself survives a power cut.
    bool keepPlaced(std::string* why);
    // Removes the folders this object created, deepest first, as far as
    // they are empty.
    void removeIfEmpty();

private:
    std::vector<std::string> created_;  // only those this object made, never one it found
    std::string own_, finalName_;       // the run's own folder and the name it is to take
    std::string placedIn_;              // the folder that holds it once placed
};

// Whether nothing at all stands at `path`, not even a dangling link.
bool nothingAt(const std::string& path);

// Whether `name` can be a file's name in a folder here, as itself: not
// empty, "." or "..", no separator; on Windows also none of its reserved
// device names (CON, PRN, AUX, NUL, COM1 to COM9, LPT1 to LPT9, with any
// extension), no trailing dot or space, and none of < > : " | ? * or a
// control character.
bool usableFileName(const std::string& name);
// What two names have in common when they name the same file in one
// folder: the name itself on POSIX, its upper case on Windows.
std::string sameNameKey(const std::string& name);

// A folder held open, so names are resolved inside it and nothing is
// reached through a link in its place.
FileHandle openFolder(const std::string& path, std::string* why);
void removeIn(int dirFd, const std::string& name);

}  // namespace fw
