// Helpers shared by the tests: a scratch folder, files in it, and captured output.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include <sys/types.h>

#include "format/records.h"

namespace fwtest {

using Bytes = std::vector<std::uint8_t>;

// A fresh folder under the system's temporary folder, removed with everything in it.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    std::string write(const std::string& name, const Bytes& bytes) const;
    std::string write(const std::string& name, const std::string& text) const;
    std::vector<std::string> entries() const;

private:
    std::string path_;
};

// The names in a folder, sorted, hidden ones too.
std::vector<std::string> entriesOf(const std::string& path);
Bytes readFile(const std::string& path);
// A file's bytes as text; empty when there is no file (yet).
std::string textOf(const std::string& path);
bool exists(const std::string& path);
// Deterministic, non-repeating bytes.
Bytes patternBytes(std::size_t count, std::uint32_t salt = 1);
std::string hex(const fw::Digest& digest);
fw::Digest md5Of(const Bytes& bytes);

// A FILE* whose contents can be read back as text.
class CapturedOutput {
public:
    CapturedOutput();
    ~CapturedOutput();
    CapturedOutput(const CapturedOutput&) = delete;
    CapturedOutput& operator=(const CapturedOutput&) = delete;
    std::FILE* stream() { return stream_; }
    std::string text();

private:
    std::FILE* stream_ = nullptr;
    char* buffer_ = nullptr;
    std::size_t size_ = 0;
};

// The built fwpack in a child process. `inChild` runs there just before
// the tool starts, to close or redirect its standard descriptors.
pid_t startPacker(const std::vector<std::string>& args, const std::function<void()>& inChild);
pid_t startTool(const char* binary, const std::vector<std::string>& args, const std::function<void()>& inChild);
struct Ending {
    int exitCode = -1;  // -1 when ended by a signal
    int signal = 0;
};
Ending waitForEnd(pid_t child);

// Windows: a built tool (fwpack.exe, fwinspect.exe, beside the test
// program) run with the narrow arguments as given, in the ANSI code page;
// its standard output and error go to `outputFile`. `whileRunning`, when
// given, is called about every millisecond with the process handle until
// it returns false or the tool ends. The exit code, or -1 when it could not
// be started.
// `how` gives it no standard output at all, or a pipe whose reader has
// gone (standard error still goes to `outputFile`), its creation flags, and
// a working folder other than the test program's. `exe` may also be a full
// path, for a copy of a tool elsewhere.
struct ToolStart {
    enum class Output { file, none, pipeNobodyReads };
    Output output = Output::file;
    unsigned long creationFlags = 0;
    std::string workingFolder;  // UTF-8; empty: the test program's own
};
int runWindowsTool(const std::string& exe, const std::vector<std::string>& args, const std::string& outputFile,
                   const std::function<bool(void*)>& whileRunning = {}, const ToolStart& how = {});

// What a test may change for the whole process, put back when this ends:
// the working folder, the environment, the interruption holder's run state
// and, on POSIX, the file mode mask, the signals' dispositions and the
// calling thread's signal mask. The test program keeps one around each
// test suite and each test, so no test sees what another left behind.
// The signals the tests send end a process by default, as under ctest,
// also where the test program was started with them ignored (nohup).
void takeDefaultSignals();

class ProcessState {
public:
    ProcessState();
    ~ProcessState();
    ProcessState(const ProcessState&) = delete;
    ProcessState& operator=(const ProcessState&) = delete;

private:
    struct Saved;
    std::unique_ptr<Saved> saved_;
};

// Little-endian helpers to build expected packages from the layout rules.
void appendWord(Bytes& bytes, std::uint32_t value);
std::uint32_t wordAt(const Bytes& bytes, std::size_t offset);

}  // namespace fwtest
