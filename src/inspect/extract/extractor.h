// The sink that writes an extraction's parts: it chooses and names them,
// makes the folder and a nameless file per part, writes each part's data
// as it is read, and names them all or removes what it made.
#pragma once

#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "inspect/extract/extract.h"
#include "inspect/extract/extract_naming.h"
#include "inspect/extract/rebuild.h"
#include "inspect/text/plain_text.h"
#include "platform/console_text.h"
#include "platform/file_handle.h"
#include "platform/folders.h"
#include "platform/new_file.h"

namespace fw {

// One part on its way out: a file without a name in the folder (or under a
// temporary one) until the whole package is known to be sound.
struct PartFile : NamedFile {
    bool wanted = false, ok = true, done = false;
};

class Extractor : public InspectionSink, public PartDataSink {
public:
    Extractor(std::string dir, const ExtractOptions& options, std::FILE* out, std::FILE* err)
        : dir_(std::move(dir)), options_(options), out_(out), err_(err) {}

    void summary(const PackageSummary& s) override;
    void board(std::uint32_t code) override { rebuild_.board(code); }
    void defect(const std::string& text) override {
        ++defects_;
        print(out_, "%s\n", escapeText(text).c_str());
    }
    void part(const PartReport& r) override {
        if (r.number < files_.size() && files_[r.number].wanted) rebuild_.part(r, dir_ + "/" + files_[r.number].name);
    }

    bool prepare(const PackageSummary&, const std::vector<PartReport>& parts) override;
    void data(const PartReport& r, std::uint64_t at, const std::uint8_t* bytes, std::size_t count) override;
    void end(const PartReport& r, bool digestOk) override;

    // Names every part, or removes everything this run created; true when
    // every part is in place.
    bool finish(bool sound);
    void abandon() { removeCreated(); }
    const Rebuild& rebuild() const { return rebuild_; }
    // A message has already said that nothing is extracted.
    bool saidNothingExtracted() const { return saidNothing_; }
    bool folderFailed() const { return folderFailed_; }

private:
    bool chooseParts(const std::vector<PartReport>& parts);
    bool nameParts(const std::vector<PartReport>& parts);
    bool openFolder();
    bool createTemps();
    bool placeFolder();
    void removeCreated();
    void report(const std::vector<Leftover>& left);
    void fail(const std::string& text);
    void failWithNothing(const std::string& text);

    std::string dir_;
    std::string fill_;  // the folder the parts are written into: DIR, or the run's own beside it
    const ExtractOptions& options_;
    std::FILE* out_;
    std::FILE* err_;
    Rebuild rebuild_;
    CreatedFolders folders_;
    FileHandle dirFd_;
    std::vector<PartFile> files_;
    std::unique_ptr<std::atomic<bool>[]> writeFailed_;  // per part, set from the writing threads
    std::size_t defects_ = 0;
    bool saidNothing_ = false, folderFailed_ = false;
};

}  // namespace fw
