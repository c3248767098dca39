#pragma once

#include <cstdint>
#include <utility>

#include "LmPackageInfo.h"
#include "String.h"
#include "Vector.h"
#include "session/DownloadOptions.h"
#include "session/ServerSession.h"

struct TransferResult;

// The firmware requests of one command run: asking the first update server
// for a product's firmware, and downloading and verifying a firmware the
// stored answer announces. Results are the ResultCode::kFirmware... and
// transport codes.
class FirmwareSession {
public:
    explicit FirmwareSession(DownloadOptions options = DownloadOptions())
        : session_(std::move(options)) {}

    // Asks the first server for the firmware of productId and writes the
    // answer verbatim to standard output.
    int requestUpdate(int32_t productId);
    // Reads the stored answer (shared_conf/lm-firmware-packages) and
    // downloads and verifies the firmware whose version text is version.
    int handleResponse(const String& version);

private:
    int download(Vector<LmPackageInfo>& packages, const String& version);
    static int transferCode(const TransferResult& transfer);

    ServerSession session_;
};
