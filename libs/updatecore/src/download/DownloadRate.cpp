#include "download/DownloadRate.h"

#include <algorithm>

#include "net/SocketException.h"

DownloadRate::DownloadRate(int timeoutMs, const Clock& clock)
    : clock_(clock),
      window_(
          std::max<Clock::Duration>(std::chrono::milliseconds(std::max(timeoutMs, 0)), kMinWindow)),
      windowStart_(clock_.now()) {}

void DownloadRate::received(int count) {
    bytesInWindow_ += count;
    Clock::TimePoint now = clock_.now();
    if (now - windowStart_ - pausedInWindow_ < window_) {
        return;
    }
    int64_t seconds = std::chrono::duration_cast<std::chrono::seconds>(window_).count();
    if (bytesInWindow_ < kMinBytesPerSecond * seconds) {
        throw SocketException("EC_READ_TIMEOUT: download slower than 1 KiB/s", "DownloadRate",
                              __LINE__);
    }
    windowStart_ = now;
    pausedInWindow_ = Clock::Duration::zero();
    bytesInWindow_ = 0;
}

void DownloadRate::paused(Clock::Duration pause) {
    pausedInWindow_ += pause;
}
