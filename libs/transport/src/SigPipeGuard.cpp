#include "net/SigPipeGuard.h"

#include <pthread.h>

#include <ctime>

namespace {
sigset_t pipeSet() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGPIPE);
    return set;
}

bool pipePending() {
    sigset_t pending;
    sigemptyset(&pending);
    sigpending(&pending);
    return sigismember(&pending, SIGPIPE) == 1;
}
}  // namespace

SigPipeGuard::SigPipeGuard() {
    sigset_t set = pipeSet();
    pthread_sigmask(SIG_BLOCK, &set, &previousMask_);
    wasPending_ = pipePending();
}

SigPipeGuard::~SigPipeGuard() {
    if (!wasPending_ && pipePending()) {
        sigset_t set = pipeSet();
        timespec noWait{};
        sigtimedwait(&set, nullptr, &noWait);
    }
    pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr);
}
