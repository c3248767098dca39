#pragma once

#include <csignal>

// While an object lives, SIGTERM, SIGINT and SIGHUP no longer end the
// process: they only mark a stop request, which the download and install
// steps look at where stopping leaves nothing half done. The former
// handlers come back when the object goes.
class StopSignals {
public:
    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // Whether one of the signals arrived while a StopSignals lived.
    static bool requested() { return received_ != 0; }
    // The signal that asked for the stop, 0 when none did.
    static int signalNumber() { return received_; }

private:
    static void onSignal(int number);

    static constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};
    static constexpr int kCount = sizeof(kSignals) / sizeof(kSignals[0]);
    static volatile std::sig_atomic_t received_;

    struct sigaction previous_[kCount];
};
