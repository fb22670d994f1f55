// The helpers only POSIX has: an in-memory stream, and the built tool in a
// child process that a test can signal.
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "platform/interruption.h"
#include "support/test_support.h"

extern char** environ;

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

struct ProcessState::Saved {
    std::string folder;
    std::vector<std::string> environment;
    mode_t mask = 0;
    struct sigaction actions[NSIG] = {};
    sigset_t blocked;
};

namespace {

std::vector<std::string> environmentNow() {
    std::vector<std::string> variables;
    for (char** v = environ; *v != nullptr; ++v) variables.emplace_back(*v);
    return variables;
}

bool settable(int signal) { return signal != SIGKILL && signal != SIGSTOP; }

}  // namespace

void takeDefaultSignals() {
    sigset_t sent;
    ::sigemptyset(&sent);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) {
        std::signal(s, SIG_DFL);
        ::sigaddset(&sent, s);
    }
    ::pthread_sigmask(SIG_UNBLOCK, &sent, nullptr);
}

ProcessState::ProcessState() : saved_(std::make_unique<Saved>()) {
    char folder[4096];
    if (::getcwd(folder, sizeof folder) != nullptr) saved_->folder = folder;
    saved_->environment = environmentNow();
    saved_->mask = ::umask(0);
    ::umask(saved_->mask);
    for (int s = 1; s < NSIG; ++s)
        if (settable(s)) ::sigaction(s, nullptr, &saved_->actions[s]);
    ::pthread_sigmask(SIG_SETMASK, nullptr, &saved_->blocked);
}

ProcessState::~ProcessState() {
    fw::forgetRunState();
    // Later tests would run in the folder this one moved to.
    if (!saved_->folder.empty() && ::chdir(saved_->folder.c_str()) != 0) ADD_FAILURE() << "cannot return to " << saved_->folder;
    if (environmentNow() != saved_->environment) {
        ::clearenv();
        for (const std::string& v : saved_->environment) {
            const std::size_t equals = v.find('=');
            ::setenv(v.substr(0, equals).c_str(), equals == std::string::npos ? "" : v.c_str() + equals + 1, 1);
        }
    }
    ::umask(saved_->mask);
    for (int s = 1; s < NSIG; ++s)
        if (settable(s)) ::sigaction(s, &saved_->actions[s], nullptr);
    ::pthread_sigmask(SIG_SETMASK, &saved_->blocked, nullptr);
}

}  // namespace fwtest
