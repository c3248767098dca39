#include "download/TransferDeadline.h"

#include <algorithm>

TransferDeadline::TransferDeadline(int64_t size, const Clock& clock)
    : clock_(clock),
      limit_(kBase + std::chrono::duration_cast<Clock::Duration>(std::chrono::duration<double>(
                         static_cast<double>(std::max<int64_t>(size, 0)) / kMinBytesPerSecond))) {}

void TransferDeadline::start() {
    if (!running_) {
        running_ = clock_.now();
    }
}

void TransferDeadline::stop() {
    spent_ = spentNow();
    running_.reset();
}

bool TransferDeadline::passed() const {
    return spentNow() > limit_;
}

Clock::Duration TransferDeadline::spentNow() const {
    return running_ ? spent_ + (clock_.now() - *running_) : spent_;
}
