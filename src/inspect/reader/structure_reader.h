// The first half of reading a package: its structure, read and checked
// record by record before any data is read.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "format/part_checks.h"
#include "inspect/reader/data_pass.h"
#include "inspect/reader/package_reader.h"
#include "platform/random_access.h"

namespace fw {

inline std::string withLabel(const PartReport& r, const std::string& text) { return partLabel(r) + ": " + text; }

// The structure: header, tables, part headers and name fields, with every
// defect they show. Reads a bounded number of small records.
class StructureReader {
public:
    StructureReader(const RandomAccessFile& file, const InspectionOptions& options, InspectionSink& sink)
        : file_(file), options_(options), sink_(sink) {}

    // False when the file is not a package at all.
    bool read(const char* path);
    PackageSummary& summary() { return summary_; }
    std::vector<PartReport>& parts() { return parts_; }
    std::size_t defects() const { return defects_; }
    bool beyondFormat() const { return summary_.beyondFormat; }
    // Once the file could not be read, nothing more is said of it: what
    // follows would speak of bytes that were never seen.
    void defect(const std::string& text) {
        if (!readFailure_.empty()) return;
        ++defects_;
        sink_.defect(text);
    }
    // The system's reason when bytes the file holds could not be read; the
    // package is then unreadable, not defective.
    const std::string& readFailure() const { return readFailure_; }
    void finalChecks();
    // Every stretch read, when the whole file is digested to confirm them.
    const std::vector<StructureBytes>& bytesRead() const { return read_; }

private:
    bool readAt(std::uint64_t offset, void* into, std::size_t count);
    bool checkHeader();
    bool readOffset(std::uint32_t i, std::uint64_t& offset);
    void chooseLayout();
    bool readBoards();
    void checkBoards();
    void readPart(std::uint32_t i);
    void readNameField(PartReport& r);
    void checkPlacement(PartReport& r);
    void checkPadding(const PartReport& r);
    void checkFields(PartReport& r, const PartHeaderBytes& raw);
    void checkNameField(const PartReport& r);
    void checkOrder(const PartReport& r);
    void report(const PartReport& r, const Defects& found);
    bool extendsCut(std::uint64_t offset, std::uint64_t end, bool exact);
    void breakCut();
    void settleCut();
    bool cutShort() const { return cut_.seen && !cut_.broken; }

    // A download cut short: the first part that runs past the end lies
    // where the layout puts it, and every later one starts past the part
    // before. What follows from the cut alone is held back and said as one
    // defect; anything that does not fit the picture undoes it.
    struct Cut {
        bool seen = false, broken = false;
        bool exact = false;        // the last part's header was read: `needed` is the package's length
        std::uint64_t needed = 0;  // else the least length the offset table gives
        std::vector<std::string> held;
    };

    const RandomAccessFile& file_;
    const InspectionOptions& options_;
    InspectionSink& sink_;
    PackageSummary summary_;
    std::vector<PartReport> parts_;
    std::uint32_t examined_ = 0;
    std::uint64_t expectedOffset_ = 0;  // where the advance rule puts the next part
    std::uint64_t previousEnd_ = 0;
    std::uint64_t lastEnd_ = 0;
    bool placementKnown_ = true;
    std::string readFailure_;
    std::uint32_t kindBits_ = 0;
    WritingOrder order_;
    std::set<std::string> names_;
    std::size_t defects_ = 0;
    std::vector<StructureBytes> read_;
    std::vector<std::uint32_t> boards_;  // the board table, once read
    bool boardsRead_ = false;            // it lies in the file and its count is one a package holds
    Cut cut_;
};

}  // namespace fw
