#include "SteadyClock.h"

#include <time.h>

void SteadyClock::sleep(Duration duration) {
    if (duration <= Duration::zero()) {
        return;
    }
    auto seconds = std::chrono::duration_cast<std::chrono::seconds>(duration);
    auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(duration - seconds);
    timespec wait{static_cast<time_t>(seconds.count()), static_cast<long>(nanoseconds.count())};
    // Once, not again after EINTR: a signal ends the wait early.
    ::nanosleep(&wait, nullptr);
}
