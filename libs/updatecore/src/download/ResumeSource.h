#pragma once

#include <cstdint>

#include "download/DownloadTarget.h"

// Where a download resumes from, and what it keeps of a transfer that broke
// off.
class ResumeSource {
public:
    // No partial answer may be taken.
    static constexpr int32_t kNone = -1;

    virtual ~ResumeSource() = default;

    // The byte count a partial answer continues from (0: from the start),
    // or kNone; whole is set when the file on disk is complete already.
    virtual int32_t resumePoint(const DownloadTarget& target, bool& whole) = 0;
    // Before the first byte is asked for.
    virtual void starting(const DownloadTarget&) {}
    // The transfer broke off or was stopped; what arrived may be kept.
    virtual void brokeOff(const DownloadTarget&) {}
    // The file is whole on disk.
    virtual void completed(const DownloadTarget&) {}
};

// Packages: the record of conf/lm-partial-files decides, written before the
// first byte so that a run killed at any moment resumes, kept up to date
// when the transfer breaks off, dropped once the file is whole.
class RecordedResume : public ResumeSource {
public:
    int32_t resumePoint(const DownloadTarget& target, bool& whole) override;
    void starting(const DownloadTarget& target) override;
    void brokeOff(const DownloadTarget& target) override;
    void completed(const DownloadTarget& target) override;
};

// Firmware: the file on disk decides; any record of the product is
// consumed and none is written.
class OnDiskResume : public ResumeSource {
public:
    int32_t resumePoint(const DownloadTarget& target, bool& whole) override;
};
