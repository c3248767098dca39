#include "StopSignals.h"

volatile std::sig_atomic_t StopSignals::received_ = 0;

StopSignals::StopSignals() : previous_{} {
    received_ = 0;
    struct sigaction action = {};
    action.sa_handler = &StopSignals::onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;  // the steps check the flag; calls need not fail
    for (int i = 0; i < kCount; ++i) {
        sigaction(kSignals[i], &action, &previous_[i]);
    }
}

StopSignals::~StopSignals() {
    for (int i = 0; i < kCount; ++i) {
        sigaction(kSignals[i], &previous_[i], nullptr);
    }
}

void StopSignals::onSignal(int number) {
    received_ = number;
}
