#include "download/PackagePolicy.h"

#include <optional>

#include "Utils.h"
#include "download/DownloadTree.h"
#include "report/ProgressReporter.h"
#include "report/Report.h"
#include "session/DownloadOptions.h"
#include "state/LmUpdateStore.h"
#include "trust/PackageRefusal.h"

bool PackagePolicy::plain(const DownloadOptions& options) const {
    return options.plainDownload;
}

// A failure during the transfer is logged with its error name and ends the
// download; what arrived is kept for a resume.
ExchangePolicy PackagePolicy::exchange() const {
    ExchangePolicy exchange;
    exchange.failureLog = ExchangePolicy::FailureLog::kMessage;
    exchange.reportErrorName = true;
    exchange.endAtFailure = true;
    return exchange;
}

String PackagePolicy::requestProblem(const LmPackageInfo& package,
                                     const PackageTrust& trust) const {
    LmProduct installed;
    std::optional<String> version;
    if (LmUpdateStore::instance().findProduct(package.product.id, installed)) {
        version = installed.version.version;
    }
    return trust.requestProblem(package, runProduct_, version);
}

void PackagePolicy::started(int32_t size) {
    ProgressReporter::reportDownloadStart(package_.product.id, size);
}

void PackagePolicy::progressed(int32_t received, int32_t size) {
    ProgressReporter::reportDownloadProgress(package_.product.id, received, size);
}

bool PackagePolicy::nextServerAfter(const WrongAnswer& answer) {
    const String& name = package_.product.desc;
    if (answer.badLength) {
        logError("LmUpdate: invalid file length in response");
    } else {
        logError("Download '" + name + (answer.status == 401 ? "' unauthorized" : "' not found"));
        logError("Download '" + name + "' failed with code " + decimalText(answer.status));
    }
    return true;
}

void PackagePolicy::refuse(const LmPackageInfo& package, const String& localFile,
                           const String& reason) {
    PackageRefusal::report(package, reason);
    discard(package, localFile);
}

void PackagePolicy::refuseKeepingFiles(const LmPackageInfo& package, const String& reason) {
    PackageRefusal::report(package, reason);
}

void PackagePolicy::discard(const LmPackageInfo& package, const String& localFile) const {
    for (const LmPackageInfo& other : packages_) {
        if (other.downloadResult == LmPackageInfo::kDownloaded &&
            other.product.id == package.product.id) {
            DownloadTree::removeFile(localFile);
            return;
        }
    }
    tree_.removeProduct(package.product.id);
}
