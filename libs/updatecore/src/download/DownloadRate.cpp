#include "download/DownloadRate.h"

#include <algorithm>
#include <utility>

#include "net/SocketException.h"

DownloadRate::DownloadRate(int timeoutMs, Now now)
    : now_(std::move(now)),
      window_(
          std::max<Clock::duration>(std::chrono::milliseconds(std::max(timeoutMs, 0)), kMinWindow)),
      windowStart_(now_()) {}

void DownloadRate::received(int count) {
    bytesInWindow_ += count;
    Clock::time_point now = now_();
    if (now - windowStart_ - pausedInWindow_ < window_) {
        return;
    }
    int64_t seconds = std::chrono::duration_cast<std::chrono::seconds>(window_).count();
    if (bytesInWindow_ < kMinBytesPerSecond * seconds) {
        throw SocketException("EC_READ_TIMEOUT: download slower than 1 KiB/s", "DownloadRate",
                              __LINE__);
    }
    windowStart_ = now;
    pausedInWindow_ = Clock::duration::zero();
    bytesInWindow_ = 0;
}

void DownloadRate::paused(Clock::duration pause) {
    pausedInWindow_ += pause;
}
