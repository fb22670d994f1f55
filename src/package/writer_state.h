// What the writer's steps share while one package is written.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "digest/md5.h"
#include "job/package_job.h"
#include "platform/output_target.h"

namespace fw {

enum class Outcome { ok, openFailed, readFailed, writeFailed };

struct WriterState {
    PackageJob& job;
    std::FILE* out;
    OutputTarget target;
    std::vector<std::uint32_t> offsets;  // every part's offset, in file order
    std::uint64_t nextOffset = 0;
    std::uint64_t byteCounter = 0;
};

struct NameField {
    const void* bytes = nullptr;
    std::size_t length = 0;
};

// Places one part at `partOffset`: header, optional name field, then the
// input's bytes through the job's copy buffer. The input must deliver
// exactly `expectedLength` bytes; `digest`, when given, absorbs them.
Outcome copyPart(WriterState& w, std::uint64_t partOffset, const PartHeader& header, NameField name,
                 InputFile& input, std::int64_t expectedLength, Md5Context* digest = nullptr);

// Records the next part's offset in the offset list and returns it.
std::uint64_t startPart(WriterState& w, std::uint32_t kindBit);
void advance(WriterState& w, std::uint64_t partOffset, std::uint32_t dataLength);

// Reports a failed part; the open message is the caller's, printed by `printOpen`.
template <typename PrintOpen>
Outcome reportFailure(WriterState& w, Outcome outcome, const char* inputPath, PrintOpen printOpen) {
    if (outcome == Outcome::openFailed) printOpen();
    if (outcome == Outcome::readFailed) std::fprintf(w.out, "cant read [%s]!\n", inputPath);
    if (outcome == Outcome::writeFailed) std::fprintf(w.out, "cant write file[%s]!\n", w.job.outputPath.data());
    return outcome;
}

Outcome writeTarPart(WriterState& w);
Outcome writeMtdParts(WriterState& w);
Outcome writeNamedParts(WriterState& w);

}  // namespace fw
