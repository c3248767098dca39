#include "download/FileTransfer.h"

#include <algorithm>
#include <chrono>

#include "StopSignals.h"
#include "Utils.h"
#include "download/TransferDeadline.h"
#include "io/InputStream.h"
#include "io/OutputStream.h"
#include "report/ProgressReporter.h"
#include "report/Report.h"

namespace {
constexpr int kChunk = 1024;
}  // namespace

int32_t FileTransfer::run(InputStream& body, OutputStream& out, int32_t received, int32_t size,
                          const String& name, const Progress& progress) {
    start(size, name, progress);
    return copy(body, out, received, size);
}

void FileTransfer::start(int32_t size, const String& name, const Progress& progress) {
    size_ = size;
    name_ = name;
    progress_ = progress;
    steps_ = 0;
    percent_ = 0;
    sincePause_ = 0;
    rate_.emplace(timeoutMs_, clock_);
}

int32_t FileTransfer::copy(InputStream& body, OutputStream& out, int32_t received, int32_t end) {
    char buffer[kChunk];
    // Never past the announced size: a server that keeps sending must not
    // fill the disk.
    while (received < end && !StopSignals::requested()) {
        int n = body.read(buffer, std::min<int32_t>(kChunk, end - received));
        if (n <= 0) {
            break;
        }
        received += n;
        out.write(buffer, n);
        advance(received);
        rate_->received(n);
        pace(n);
        if (received < end && deadline_ != nullptr && deadline_->passed()) {
            throw DeadlineException("FileTransfer", __LINE__);
        }
    }
    return received;
}

void FileTransfer::advance(int32_t received) {
    reportStep(received);
    logPercentage(received);
}

String FileTransfer::downloadLine(const String& name, int32_t received, int32_t size) {
    return "Download " + name + " (" + decimalText(received) + " of " + decimalText(size) + ")";
}

void FileTransfer::reportStep(int32_t received) {
    auto step = static_cast<int32_t>(static_cast<int64_t>(received) * kProgressSteps / size_);
    if (steps_ < step) {
        progress_(received);
        steps_ = step;
    }
}

void FileTransfer::logPercentage(int32_t received) {
    auto percent = static_cast<int32_t>(static_cast<int64_t>(received) * 100 / size_);
    if (percent != percent_) {
        log(downloadLine(name_, received, size_));
        percent_ = percent;
    }
}

void FileTransfer::pace(int chunk) {
    sincePause_ += chunk;
    int64_t allowance = static_cast<int64_t>(throttleKB_) * 1024;
    if (sincePause_ > allowance) {
        sincePause_ -= allowance;
        if (pauseSeconds_ > 0) {
            Clock::TimePoint start = clock_.now();
            clock_.sleep(std::chrono::seconds(pauseSeconds_));
            Clock::Duration pause = clock_.now() - start;
            rate_->paused(pause);
            if (deadline_ != nullptr) {
                deadline_->paused(pause);
            }
        }
    }
}
