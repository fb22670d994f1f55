#include "inspect/reader/package_reader.h"

#include <new>

#include "inspect/reader/data_pass.h"
#include "inspect/reader/structure_reader.h"
#include "inspect/reader/whole_file_pass.h"
#include "platform/parallel_pass.h"
#include "platform/random_access.h"

namespace fw {
namespace {

// The data, read in one of the two ways: stopped when told to stop,
// unreadable when memory ran out, else sound (whatever the data holds). A
// structural byte that read differently the second time is a defect.
InspectionResult readData(const RandomAccessFile& file, const InspectionOptions& options,
                          std::vector<ReadJob>& jobs, StructureReader& structure, const char* path,
                          std::string* why) {
    if (!options.packageBytes) {
        DataPass pass(file, options, std::move(jobs));
        const bool read = pass.run(path, why);
        jobs = std::move(pass.jobs());
        if (!read) return InspectionResult::unreadable;
        return pass.stopped() ? InspectionResult::stopped : InspectionResult::sound;
    }
    WholeFilePass pass(file, options, jobs, structure.bytesRead());
    if (!pass.run(path, why)) return InspectionResult::unreadable;
    if (const auto at = pass.changedAt())
        structure.defect("the package changed while it was read: the byte at offset " + std::to_string(*at) +
                         " read differently the second time");
    return pass.stopped() ? InspectionResult::stopped : InspectionResult::sound;
}

InspectionResult inspectOnce(const char* path, const InspectionOptions& options, InspectionSink& sink,
                             std::string* why) {
    RandomAccessFile file;
    if (!file.open(path, why)) return InspectionResult::unreadable;
    StructureReader structure(file, options, sink);
    const bool structureRead = structure.read(path);
    if (!structure.readFailure().empty()) {
        *why = structure.readFailure();
        return InspectionResult::unreadable;
    }
    if (!structureRead) {
        sink.summary(structure.summary());
        // Whoever asked for the whole file's digest still gets it.
        if (!options.readData) return InspectionResult::defective;
        std::vector<PartReport> none;
        std::vector<ReadJob> jobs = readJobsFor(none, options, file.size());
        const InspectionResult read = readData(file, options, jobs, structure, path, why);
        return read == InspectionResult::unreadable ? read : InspectionResult::defective;
    }
    std::vector<PartReport>& parts = structure.parts();
    if (options.partData != nullptr && !options.partData->prepare(structure.summary(), parts))
        return InspectionResult::stopped;
    if (options.test.afterStructure) options.test.afterStructure();

    // A table claiming more than the format holds makes the file's size a
    // made-up figure (a sparse file of holes): its bytes are not digested whole.
    InspectionOptions dataOptions = options;
    if (structure.beyondFormat()) dataOptions.packageBytes = nullptr;
    std::vector<ReadJob> jobs;
    if (options.readData) jobs = readJobsFor(parts, dataOptions, file.size());
    const InspectionResult read =
        options.readData ? readData(file, dataOptions, jobs, structure, path, why) : InspectionResult::sound;
    if (read != InspectionResult::sound) return read;
    for (const ReadJob& job : jobs) {
        if (!job.failed) continue;
        if (job.part != nullptr) structure.defect(withLabel(*job.part, "data cannot be read"));
        else structure.defect("the package cannot be read whole");
    }
    for (const PartReport& r : parts) {
        if (r.digested && !r.digestOk) structure.defect(withLabel(r, "digest does not match its data"));
        sink.part(r);
    }
    structure.finalChecks();
    if (!file.unchangedAt(path)) structure.defect("the package changed while it was read, or its path now names another file");
    return structure.defects() == 0 ? InspectionResult::sound : InspectionResult::defective;
}

}  // namespace

// Memory that runs out on the calling thread (the structure, a report)
// ends the inspection as memory that runs out in the reader's threads does.
InspectionResult inspectPackage(const char* path, const InspectionOptions& options, InspectionSink& sink,
                                std::string* why) {
    std::string reason;
    try {
        const InspectionResult result = inspectOnce(path, options, sink, &reason);
        *why = reason;
        return result;
    } catch (const std::bad_alloc&) {
        *why = outOfMemory;
        return InspectionResult::unreadable;
    }
}

}  // namespace fw
