#pragma once

#include "RotationFileLog.h"

// The rotating log behind Log::getInstance when debug logging is on, with
// its own size limit (1024 KiB) and rotated file count (100).
class DebugLog : public RotationFileLog {
public:
    DebugLog() = default;
    explicit DebugLog(const String& path) : RotationFileLog(path) {}

    void setSizeLimit(int sizeKiB) { sizeLimit_ = sizeKiB; }
    void setFileCount(int count) {
        if (count > 0) {
            fileCount_ = count;
        }
    }

protected:
    int sizeLimit() const override { return sizeLimit_ > 0 ? sizeLimit_ : 0; }
    int rotatedFileCount() const override { return fileCount_; }

private:
    int sizeLimit_ = 1024;
    int fileCount_ = 100;
};
