// The new-file protocol: how the tools make a file in a folder, so that a
// run killed midway leaves nothing behind, and give it its final name only
// when it is whole.
#pragma once

#include <string>

#include "platform/file_handle.h"
#include "platform/os_calls.h"

namespace fw {

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
