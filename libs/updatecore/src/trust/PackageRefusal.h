#pragma once

#include "LmPackageInfo.h"
#include "String.h"
#include "session/SessionState.h"

// The one rule for a package the run will not install, whatever the
// reason (signature, digest, version or file name, disk space, content):
// it is logged and named on standard output, and what it left on disk goes
// so that nothing of it is installed or resumed later.
class PackageRefusal {
public:
    // Logs "LmUpdate: package refused: URL: REASON", writes
    // EC_LMUPDATE_PACKAGE_ERROR as a line, drops any record of a broken-off
    // download of the product and discards the download.
    static void refuse(const SessionState& state, const LmPackageInfo& package,
                       const String& localFile, const String& reason);
    // The same without touching the download tree, which cannot be trusted.
    static void refuseKeepingFiles(const LmPackageInfo& package, const String& reason);
    // The product's download directory goes; a package of the same
    // product accepted earlier in this run keeps its file for the
    // installer, so then only localFile goes.
    static void discard(const SessionState& state, const LmPackageInfo& package,
                        const String& localFile);
    // A refused firmware file: logged, removed, nothing printed; the
    // firmware digest result.
    static int refuseFirmware(const LmPackageInfo& package, const String& localFile,
                              const String& reason);
};
