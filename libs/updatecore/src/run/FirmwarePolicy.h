#pragma once

#include "LmPackageInfo.h"
#include "String.h"
#include "download/FetchPolicy.h"
#include "download/ResumeSource.h"

// How a firmware file is fetched: always over plain HTTP with a download
// session id, resumed from what is on disk, progress to the firmware
// script; the first server's answer decides; a refused firmware file is
// removed.
class FirmwarePolicy : public FetchPolicy {
public:
    // version: the firmware version text, for the progress reports.
    explicit FirmwarePolicy(const String& version);

    bool plain(const DownloadOptions& options) const override;
    ResumeSource& resume() override { return resume_; }
    ExchangePolicy exchange() const override;
    void started(int32_t size) override;
    void progressed(int32_t received, int32_t size) override;
    void sessionIdReceived(const String& id) override;
    void answered(int status) override;
    bool nextServerAfter(const WrongAnswer& answer) override;

    void refuse(const LmPackageInfo& package, const String& localFile,
                const String& reason) override;
    void refuseKeepingFiles(const LmPackageInfo& package, const String& reason) override;

private:
    String version_;
    long pid_;
    OnDiskResume resume_;
};
