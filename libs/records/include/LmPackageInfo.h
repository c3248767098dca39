#pragma once

#include <cstdint>

#include "LmProductInfo.h"
#include "LmVersionInfo.h"
#include "PlatformInfo.h"
#include "String.h"

// One downloadable or deferred package, as announced by an update server
// and kept in the package-list files.
struct LmPackageInfo {
    // downloadResult: the whole file is on disk and trusted.
    static constexpr int32_t kDownloaded = 1;
    // runResult: its install script installed it, or asked for it to be
    // installed later (deferred).
    static constexpr int32_t kInstalled = 1;
    static constexpr int32_t kDeferred = -1;

    String path;
    String file;
    LmVersionInfo version;
    LmProductInfo product;
    PlatformInfo platform;
    String url;
    String md5;        // hexadecimal digest text
    String sha256;     // DownloadInfo sha256: hexadecimal text as received
    String signature;  // DownloadInfo signature: Base64 text as received
    // DownloadInfo deltaIndex: where the block index of the file is, a URL
    // relative like url or absolute; "" when the server offers none.
    String deltaIndex;
    int32_t size = 0;
    String time;                 // not interpreted
    int32_t downloadResult = 0;  // kDownloaded, else 0
    String format;
    String installScript;
    int32_t runResult = 0;  // kInstalled, kDeferred, else 0
    // Why the package must not be used (an id, size or version number that
    // does not fit); empty for a usable package.
    String refusal;

    bool isUsable() const { return refusal.isEmpty(); }
};
