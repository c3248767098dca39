#pragma once

#include "LmPackageInfo.h"
#include "String.h"

// The one rule for a package the run will not install, whatever the
// reason (signature, digest, version or file name, download path, disk
// space, content): it is logged and named on standard output, and no
// record of a broken-off download of it is kept. What it left on disk is
// for the caller to remove (or, where another user could swap it, to keep).
class PackageRefusal {
public:
    // Logs "LmUpdate: package refused: URL: REASON", writes
    // EC_LMUPDATE_PACKAGE_ERROR as a line and drops any record of a
    // broken-off download of the product.
    static void report(const LmPackageInfo& package, const String& reason);
    // Logs "LmUpdate: firmware package refused: URL: REASON"; nothing is
    // printed for firmware.
    static void reportFirmware(const LmPackageInfo& package, const String& reason);
};
