#include <cstdlib>

#include "platform/process_start.h"

namespace fw {

void loadLibrariesOnlyFromSystemAndProgram() {}

ProgramArguments::ProgramArguments(int argc, char** argv) : text_(argv, argv + argc) {
    for (std::string& t : text_) pointers_.push_back(t.data());
    pointers_.push_back(nullptr);
}

bool environmentValue(const std::string& name, std::string* value) {
    const char* found = std::getenv(name.c_str());
    if (found == nullptr) return false;
    *value = found;
    return true;
}

}  // namespace fw
