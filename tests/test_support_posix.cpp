// The helpers only POSIX has: an in-memory stream, and the built tool in a
// child process that a test can signal.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "test_support.h"

namespace fwtest {

CapturedOutput::CapturedOutput() { stream_ = ::open_memstream(&buffer_, &size_); }

CapturedOutput::~CapturedOutput() {
    if (stream_ != nullptr) std::fclose(stream_);
    std::free(buffer_);
}

std::string CapturedOutput::text() {
    std::fflush(stream_);
    return std::string(buffer_, size_);
}

pid_t startPacker(const std::vector<std::string>& args, const std::function<void()>& inChild) {
    return startTool(FWPACK_BINARY, args, inChild);
}

pid_t startTool(const char* binary, const std::vector<std::string>& args, const std::function<void()>& inChild) {
    std::vector<const char*> argv{binary};
    for (const auto& a : args) argv.push_back(a.c_str());
    argv.push_back(nullptr);
    const pid_t child = ::fork();
    if (child != 0) return child;
    inChild();
    ::execv(argv[0], const_cast<char* const*>(argv.data()));
    ::_exit(122);
}

Ending waitForEnd(pid_t child) {
    int status = 0;
    if (::waitpid(child, &status, 0) != child) return {};
    if (WIFSIGNALED(status)) return {-1, WTERMSIG(status)};
    return {WEXITSTATUS(status), 0};
}

}  // namespace fwtest
