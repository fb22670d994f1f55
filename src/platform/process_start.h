// What the process was given, as the tools hold all text: UTF-8. On POSIX
// that is the bytes themselves. On Windows the arguments are read again from
// the UTF-16 command line, since the narrow main() receives them in the ANSI
// code page with Windows' "best fit" (a typed α arrives as a), and the
// environment is read through the wide calls for the same reason.
#pragma once

#include <string>
#include <vector>

namespace fw {

// Before anything else, on Windows: DLLs come only from the system folder
// and the program's own, never from the working folder or PATH.
void loadLibrariesOnlyFromSystemAndProgram();

class ProgramArguments {
public:
    ProgramArguments(int argc, char** argv);
    ProgramArguments(const ProgramArguments&) = delete;
    ProgramArguments& operator=(const ProgramArguments&) = delete;
    // False when the arguments could not be read whole (no memory for them).
    bool whole() const { return whole_; }
    int count() const { return static_cast<int>(pointers_.size()) - 1; }
    char** values() { return pointers_.data(); }

private:
    std::vector<std::string> text_;
    std::vector<char*> pointers_;  // argv's shape: the last one null
    bool whole_ = true;
};

// False when the variable is not set.
bool environmentValue(const std::string& name, std::string* value);

}  // namespace fw
