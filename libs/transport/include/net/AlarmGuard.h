#pragma once

#include <csignal>

// Arms the process alarm for a blocking call and disarms it on scope exit.
// While armed, the alarm signal has a handler that only notes the expiry and
// does not restart interrupted calls: the blocked call fails instead of the
// process ending. The previous handler (and any pending alarm) come back
// afterwards. Zero seconds arms nothing.
class AlarmGuard {
public:
    explicit AlarmGuard(unsigned seconds);
    ~AlarmGuard();
    AlarmGuard(const AlarmGuard&) = delete;
    AlarmGuard& operator=(const AlarmGuard&) = delete;

    // True once the alarm of the innermost guard has gone off.
    static bool expired();

private:
    struct sigaction previous_ {};
    unsigned previousSeconds_ = 0;
};
