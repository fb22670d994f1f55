#include "job/package_job.h"

#include <cstring>
#include <new>

namespace fw {

std::unique_ptr<PackageJob> createJob() {
    return std::unique_ptr<PackageJob>(new (std::nothrow) PackageJob{});
}

void addBoardCode(PackageJob& job, std::uint32_t code) {
    if (job.boardCount < maxBoardCodes) job.boardTypes[job.boardCount++] = code;
}

template <std::size_t N>
bool setText(std::array<char, N>& field, const char* text) {
    field.fill('\0');
    const std::size_t length = std::strlen(text);
    if (length >= N) return false;
    std::memcpy(field.data(), text, length);
    return true;
}

template bool setText(PathText&, const char*);
template bool setText(NameText&, const char*);

}  // namespace fw
