#pragma once

#include <csignal>

// Blocks SIGPIPE in the calling thread for the guard's lifetime and discards
// one it raised, so that writing to a peer that went away through a library
// that uses plain write() gives an error instead of ending the process.
class SigPipeGuard {
public:
    SigPipeGuard();
    ~SigPipeGuard();
    SigPipeGuard(const SigPipeGuard&) = delete;
    SigPipeGuard& operator=(const SigPipeGuard&) = delete;

private:
    sigset_t previousMask_{};
    bool wasPending_ = false;
};
