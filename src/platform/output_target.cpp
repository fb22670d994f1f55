// How a package reaches its name, the same on every system; each step is
// one of OsCalls.
#include "platform/output_target.h"

#include <string>

#include "platform/folders.h"
#include "platform/new_file.h"
#include "platform/interruption.h"

namespace fw {
namespace {

constexpr const char* temporaryLead = ".fwpack-";

// A new file in the output's folder, by the one protocol every file the
// tools make follows; a temporary name it stands under is known to the
// interruption handler from the moment it exists.
bool openNew(OutputTarget& t) {
    InterruptHold hold;
    std::string why;
    FolderFile f;
    f.os = t.calls;
    if (!createInFolder(t.folder.get(), f, &why, NewFile{temporaryLead, 0600, true})) return false;
    if (!f.tempName.empty()) recordTemporaryName(t.folder.get(), f.tempName.c_str());
    t.file = std::move(f.file);
    t.tempName = f.tempName;
    t.way = t.tempName.empty() ? OutputWay::unnamed : OutputWay::named;
    return true;
}

// As the packer always did where it could not make a file: the output is
// emptied, then written; the package's front comes last, so until the run
// ends whole the file never reads as a package.
bool openInPlace(OutputTarget& t) {
    if (!t.calls->openInPlace(t.finalPath, t.file)) return false;
    t.way = OutputWay::inPlace;
    return true;
}

// A package written in place, or onto a device, is on the disk before the
// run says it is done, as a named one is before it gets its name.
bool closeOutput(OutputTarget& t) {
    std::string why;
    return t.calls->flushFile(t.file.get(), &why) && t.calls->close(t.file, &why);
}

// Rewriting in place gives up the earlier file: if the rewrite does not end
// whole, the file is left empty, never holding a part of a package.
bool closeInPlace(OutputTarget& t) {
    if (closeOutput(t)) return true;
    FileHandle again;
    t.partLeft = !t.calls->openInPlace(t.finalPath, again);
    return false;
}

// The finished file takes the output's name; whatever stood there stays
// until then.
bool nameNew(OutputTarget& t) {
    FolderFile f{std::move(t.file), t.tempName, t.calls};
    std::string why;
    const bool named = nameInFolder(t.folder.get(), f, t.finalName, true, &why, temporaryLead);
    clearTemporaryName();
    t.tempName.clear();
    return named;
}

}  // namespace

OutputTarget::~OutputTarget() { abandonOutputTarget(*this); }

// Where no file can be made in the folder, an existing output we may
// write is rewritten in place; a device is only ever written in place.
bool openOutputTarget(const char* path, std::uint64_t expectedSize, OutputTarget& target) {
    abandonOutputTarget(target);
    target.failed = false;
    target.earlier = EarlierOutput{};
    if (!target.calls->resolveOutput(path, target.finalPath)) return false;
    target.finalName = baseOf(target.finalPath);
    if (target.finalName.empty() || target.finalName == "." || target.finalName == "..") return false;
    if (!target.calls->examineOutput(target.finalPath, target.earlier)) return false;
    if (target.earlier.found == OutputFound::device) {
        target.file = std::move(target.earlier.device);
        return target.file.valid();
    }
    target.folder = target.calls->openOutputFolder(folderOf(target.finalPath));
    if (!target.folder.valid()) return false;
    const bool exists = target.earlier.found == OutputFound::file;
    if (!openNew(target) && !(exists && openInPlace(target))) return false;
    if (expectedSize > 0) target.calls->reserve(target.file.get(), expectedSize);
    return true;
}

// A failed write fails this write alone: a part before it in the package
// may still be written whole, and is reported so. Every few megabytes the
// write-back is started, so the flush before naming waits for the tail.
bool OutputTarget::writeAt(std::uint64_t offset, const void* data, std::size_t count) {
    if (!writeAllAt(file.get(), data, count, offset)) {
        failed = true;
        return false;
    }
    if (unflushed.fetch_add(count) + count >= writeBackStretch && unflushed.exchange(0) >= writeBackStretch)
        calls->startWriteBack(file.get());
    return true;
}

bool commitOutputTarget(OutputTarget& target) {
    if (!target.file.valid()) return false;
    if (target.failed) {
        abandonOutputTarget(target);
        return false;
    }
    InterruptHold hold;
    keepRunningWhateverComes();
    bool ok = true;
    switch (target.way) {
        case OutputWay::unnamed:
        case OutputWay::named:
            // A package without the earlier file's mode would replace it
            // with other rights: the earlier file stays instead.
            if (!target.calls->takeOver(target.file.get(), target.earlier)) {
                abandonOutputTarget(target);
                return false;
            }
            ok = nameNew(target);
            break;
        case OutputWay::inPlace: ok = closeInPlace(target); break;
        case OutputWay::none: ok = closeOutput(target); break;
    }
    target.way = OutputWay::none;
    target.folder.reset();
    return ok;
}

bool abandonOutputTarget(OutputTarget& target) {
    const bool emptied = target.way != OutputWay::inPlace || !target.file.valid() || target.calls->truncate(target.file.get());
    if (!emptied) target.partLeft = true;
    target.file.reset();
    if (target.way == OutputWay::named) {
        InterruptHold hold;
        target.calls->removeIn(target.folder.get(), target.tempName);
        clearTemporaryName();
    }
    target.tempName.clear();
    target.way = OutputWay::none;
    target.folder.reset();
    return emptied;
}

}  // namespace fw
