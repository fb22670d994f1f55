#include "platform/pending_interrupt.h"

#include <csignal>
#include <initializer_list>

namespace fw {

bool interruptPending() {
    sigset_t pending;
    if (::sigpending(&pending) != 0) return false;
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGXFSZ}) {
        if (sigismember(&pending, s) != 1) continue;
        // A signal the caller's shell ignores (nohup) stays ignored.
        struct sigaction now {};
        if (::sigaction(s, nullptr, &now) == 0 && now.sa_handler != SIG_IGN) return true;
    }
    return false;
}

}  // namespace fw
