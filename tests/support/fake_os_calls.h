// The system's calls, but for the steps a test strikes: new files that
// cannot be made in the folder (none at all, or none without a name), a
// final close that reports an error, an output that cannot be emptied, a hook at the first naming step.
#pragma once

#include <functional>
#include <string>

#include "platform/os_calls.h"

namespace fwtest {

class FakeOsCalls : public fw::OsCalls {
public:
    enum class NewFiles { any, namedOnly, none };
    NewFiles newFiles = NewFiles::any;
    bool closeFails = false;
    bool truncateFails = false;
    mutable std::function<void()> whileNaming;  // runs once

    Creation createFile(int dirFd, const std::string& name, unsigned mode, bool vanishing, fw::FileHandle& into,
                        std::string* why) const override {
        if (newFiles == NewFiles::none) return refuse(Creation::failed, why);
        if (vanishing && newFiles == NewFiles::namedOnly) return refuse(Creation::unavailable, why);
        return OsCalls::createFile(dirFd, name, mode, vanishing, into, why);
    }
    bool linkUnnamed(int fd, int dirFd, const std::string& name) const override {
        naming();
        return OsCalls::linkUnnamed(fd, dirFd, name);
    }
    bool renameInto(int dirFd, const std::string& from, const std::string& to, bool replace,
                    std::string* why) const override {
        naming();
        return OsCalls::renameInto(dirFd, from, to, replace, why);
    }
    bool truncate(int fd) const override { return !truncateFails && OsCalls::truncate(fd); }
    bool close(fw::FileHandle& file, std::string* why) const override {
        const bool closed = OsCalls::close(file, why);
        if (!closeFails) return closed;
        *why = "the close failed";
        return false;
    }

private:
    static Creation refuse(Creation how, std::string* why) {
        *why = "refused by the test";
        return how;
    }
    void naming() const {
        if (!whileNaming) return;
        const auto hook = std::move(whileNaming);
        whileNaming = nullptr;
        hook();
    }
};

}  // namespace fwtest
