// Folders a run makes, so that a run that fails can take them back.
#pragma once

#include <string>

#include <vector>

#include "platform/file_handle.h"
#include "platform/os_calls.h"

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
// Whether `name` exists in the folder, as itself (a link is not followed).
bool existsIn(int dirFd, const std::string& name);
void removeIn(int dirFd, const std::string& name);

// The one way the tools make a file: a new file in a folder, without a
// name (O_TMPFILE) where the file system allows, so a run killed before
// naming it leaves nothing behind; elsewhere under a short temporary name.
// It gets its final name only when whole. The steps are taken by `os`,
// the system's calls unless a test hands in its own.
struct FolderFile {
    FileHandle file;
    std::string tempName;  // empty while the file has no name
    const OsCalls* os = &systemCalls();
};
struct NewFile {
    const char* lead = ".fwinspect-";  // how a temporary name starts
    unsigned mode = 0;                 // 0: the mode a new file gets
    bool unnamed = true;               // false: go straight to a temporary name
};
bool createInFolder(int dirFd, FolderFile& f, std::string* why, const NewFile& how = {});
// Gives the file `name` and closes it. Without `replace` an existing name is
// never touched and the call fails; with it, the name is taken over (a file
// without a name is linked in directly where nothing stood, else by a
// rename from a temporary name, since a link cannot replace one). The
// file's bytes are flushed to the disk before it is named and the folder
// after; a flush or close that fails before naming names nothing.
bool nameInFolder(int dirFd, FolderFile& f, const std::string& name, bool replace, std::string* why,
                  const char* lead = ".fwinspect-");
// Gives the file a short temporary name in the folder, if it has none, and
// closes it: it then waits there, whole and flushed to the disk, to take
// its final name.
bool stageInFolder(int dirFd, FolderFile& f, std::string* why);
// Once staged files have their final names: the folder flushed, so the
// names survive a power cut.
bool keepNames(int dirFd, std::string* why, const OsCalls& os = systemCalls());
// Swaps what two names in the folder stand for, in one step.
bool exchangeNames(int dirFd, const std::string& a, const std::string& b, std::string* why);
// What stands at a name: nothing, a file or link that a name can replace,
// or something else (a folder) that must not be swapped away.
enum class EntryKind { none, replaceable, other };
EntryKind entryKindIn(int dirFd, const std::string& name);
// Closes the file and removes any name it has.
void discardInFolder(int dirFd, FolderFile& f);

// `lead` and ten random letters: a temporary name as short as the folder
// allows whatever the final name, so a final name of 255 bytes still has
// room beside it.
std::string shortTemporaryName(const char* lead);

// Gives the file `from` in the folder the name `to`. Without `replace`, an
// existing `to` is never touched and the call fails; with it, `to` is
// replaced as a name: a file or link there is unlinked, never written.
bool renameInto(int dirFd, const std::string& from, const std::string& to, bool replace, std::string* why);

}  // namespace fw
