#include "trust/PackageRefusal.h"

#include "LmUpdateCore.h"
#include "Utils.h"
#include "io/File.h"
#include "report/Report.h"
#include "state/PartialFiles.h"

namespace {

void removeFile(const String& path) {
    File file(path);
    if (!path.isEmpty() && file.isFile()) {
        file.remove();
    }
}

}  // namespace

void PackageRefusal::refuse(const SessionState& state, const LmPackageInfo& package,
                            const String& localFile, const String& reason) {
    refuseKeepingFiles(package, reason);
    discard(state, package, localFile);
}

void PackageRefusal::refuseKeepingFiles(const LmPackageInfo& package, const String& reason) {
    log("LmUpdate: package refused: " + package.url + ": " + reason);
    reportError("EC_LMUPDATE_PACKAGE_ERROR");
    PartialFiles::consume(package.product.id, 1);
}

void PackageRefusal::discard(const SessionState& state, const LmPackageInfo& package,
                             const String& localFile) {
    for (int i = 0; i < state.packages.size(); ++i) {
        const LmPackageInfo& other = state.packages[i];
        if (other.downloadResult == 1 && other.product.id == package.product.id) {
            removeFile(localFile);
            return;
        }
    }
    File(state.downloadDir + "/" + decimalText(package.product.id)).deleteRecursively();
}

int PackageRefusal::refuseFirmware(const LmPackageInfo& package, const String& localFile,
                                   const String& reason) {
    log("LmUpdate: firmware package refused: " + package.url + ": " + reason);
    removeFile(localFile);
    return ResultCode::kFirmwareDigest;
}
