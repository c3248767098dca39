#include "trust/PackageRefusal.h"

#include "net/URL.h"
#include "report/Report.h"
#include "state/PartialFiles.h"

void PackageRefusal::report(const LmPackageInfo& package, const String& reason) {
    logError("LmUpdate: package refused: " + URL::masked(package.url) + ": " + reason);
    reportError("EC_LMUPDATE_PACKAGE_ERROR");
    PartialFiles::consume(package.product.id, 1);
}

void PackageRefusal::reportFirmware(const LmPackageInfo& package, const String& reason) {
    logError("LmUpdate: firmware package refused: " + URL::masked(package.url) + ": " + reason);
}
