#pragma once

#include <cstdint>
#include <optional>

#include "LmPackageInfo.h"
#include "String.h"
#include "io/DirectoryHandle.h"
#include "session/SessionState.h"

struct DownloadTarget;

// The firmware requests of one command run: asking the first update server
// for a product's firmware, and downloading and verifying a firmware the
// stored answer announces. Results are the ResultCode::kFirmware... and
// transport codes.
class FirmwareSession {
public:
    // The download directory replaced when downloadDir is not empty.
    explicit FirmwareSession(const String& downloadDir = String());

    // Asks the first server for the firmware of productId and writes the
    // answer verbatim to standard output.
    int requestUpdate(int32_t productId);
    // Reads the stored answer (shared_conf/lm-firmware-packages) and
    // downloads and verifies the firmware whose version text is version.
    int handleResponse(const String& version, int throttleKB, int pauseSeconds);

    const SessionState& state() const { return state_; }

private:
    int download(const String& version);
    int prepareDirectory(LmPackageInfo& package, std::optional<DirectoryHandle>& handle);
    int downloadFile(const DownloadTarget& target, const String& version);

    SessionState state_;
};
