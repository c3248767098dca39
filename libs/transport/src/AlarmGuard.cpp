#include "net/AlarmGuard.h"

#include <unistd.h>

namespace {
volatile sig_atomic_t alarmFired = 0;

void onAlarm(int) {
    alarmFired = 1;
}
}  // namespace

AlarmGuard::AlarmGuard(unsigned seconds) {
    alarmFired = 0;
    struct sigaction action {};
    action.sa_handler = onAlarm;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: the blocked call must fail
    sigaction(SIGALRM, &action, &previous_);
    previousSeconds_ = alarm(seconds);
}

AlarmGuard::~AlarmGuard() {
    alarm(0);
    sigaction(SIGALRM, &previous_, nullptr);
    if (previousSeconds_ > 0) {
        alarm(previousSeconds_);
    }
}

bool AlarmGuard::expired() {
    return alarmFired != 0;
}
