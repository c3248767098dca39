#include "download/PackageDownload.h"

#include <chrono>
#include <ctime>
#include <optional>

#include "Exception.h"
#include "InstallRoot.h"
#include "StateDocument.h"
#include "StateFileNames.h"
#include "StopSignals.h"
#include "Utils.h"
#include "download/PackagePolicy.h"
#include "io/File.h"
#include "io/FileInputStream.h"
#include "net/URL.h"
#include "report/ProgressReporter.h"
#include "report/Report.h"
#include "session/ServerSession.h"
#include "state/FailedPackages.h"

namespace {

// The deferred packages, or an empty list when they cannot be read.
Vector<LmPackageInfo> readDelayedPackages() {
    Vector<LmPackageInfo> delayed;
    try {
        StateDocument state;
        FileInputStream in(installPath(kDelayPackagesFile));
        state.parse(in);
        state.readPackageInfoList(delayed, false);
    } catch (const Exception& e) {
        logError("LmUpdate: get packages info failed before downloading package file: " +
                 e.getMessage());
        delayed.removeAll();
    }
    return delayed;
}

// Read again for every package: an install script may defer one meanwhile.
bool isDelayed(const LmPackageInfo& package) {
    Vector<LmPackageInfo> delayed = readDelayedPackages();
    for (int i = 0; i < delayed.size(); ++i) {
        if (delayed[i].url == package.url && delayed[i].md5 == package.md5) {
            return true;
        }
    }
    return false;
}

String localFileOf(const LmPackageInfo& package) {
    return package.path + "/" + package.file;
}

// The record that keeps package from being fetched now, if any. The
// product's records of another version or digest go.
std::optional<FailedPackages::Entry> failedEarlier(const LmPackageInfo& package) {
    FailedPackages failures;
    const FailedPackages::Entry* entry = failures.skipping(package, std::time(nullptr));
    std::optional<FailedPackages::Entry> found;
    if (entry != nullptr) {
        found = *entry;
    }
    failures.save();
    return found;
}

void recordFailure(const LmPackageInfo& package, const String& reason) {
    FailedPackages failures;
    failures.recordFailure(package, reason, std::time(nullptr));
    failures.save();
}

// Only a 404 or 410 says that the file is not there to fetch; other
// statuses may pass.
bool isGone(const TransferResult& transfer) {
    return transfer.status == 404 || transfer.status == 410;
}

}  // namespace

Vector<ProductResult> PackageDownload::run(Vector<LmPackageInfo>& packages) {
    log("Start to download and install your updates");
    Vector<ProductResult> results;
    for (int i = 0; i < packages.size() && !StopSignals::requested() && !overBudget_; ++i) {
        results.add(download(packages, packages[i]));
    }
    if (StopSignals::requested()) {
        // Nothing of this run is installed; kept files resume next time.
        logWarning("LmUpdate: update stopped by signal " +
                   decimalText(StopSignals::signalNumber()));
        reportError("EC_LMUPDATE_UPDATE_ERROR");
    }
    return results;
}

int PackageDownload::accepted(const Vector<ProductResult>& results) {
    int count = 0;
    for (const ProductResult& result : results) {
        count += result.outcome == ProductOutcome::kDownloaded ? 1 : 0;
    }
    return count;
}

ProductResult PackageDownload::download(Vector<LmPackageInfo>& packages, LmPackageInfo& package) {
    using Seconds = std::chrono::duration<double>;
    auto start = std::chrono::steady_clock::now();
    int64_t before = fetch_.session().bytesFetched();
    ProductResult result = fetchPackage(packages, package);
    result.toVersion = package.version.version;
    result.bytesFetched = fetch_.session().bytesFetched() - before;
    if (result.outcome != ProductOutcome::kSkipped) {
        const TransferStats& stats = fetch_.stats();
        result.attempts = stats.attempts;
        result.server = stats.server;
        result.bytesReused = stats.reusedBytes;
    }
    result.seconds = Seconds(std::chrono::steady_clock::now() - start).count();
    return result;
}

ProductResult PackageDownload::fetchPackage(Vector<LmPackageInfo>& packages,
                                            LmPackageInfo& package) {
    int32_t id = package.product.id;
    if (isDelayed(package)) {
        logWarning("EC_LMUPDATE_DELAY_PACKAGE");
        return {id, ProductOutcome::kSkipped, "deferred"};
    }
    if (std::optional<FailedPackages::Entry> earlier = failedEarlier(package)) {
        return skipped(package, *earlier);
    }
    PackagePolicy policy(fetch_.tree(), packages, package, runProduct_);
    FetchResult fetched = fetch_.run(package, policy);
    switch (fetched.outcome) {
        case FetchOutcome::kFetched:
            return {id, ProductOutcome::kDownloaded};
        case FetchOutcome::kRefused:
            if (fetched.contentRefused) {
                recordFailure(package, fetched.reason);
            }
            return {id, ProductOutcome::kRefused, fetched.reason,
                    FailureCause::ofRefusal(fetched.reason)};
        case FetchOutcome::kNoDirectory:
            return {id,
                    ProductOutcome::kFailed,
                    "cannot create download path",
                    {"disk", String(), "cannot create download path"}};
        case FetchOutcome::kIncomplete:
            if (File(localFileOf(package)).length() < 0) {
                policy.discard(package, localFileOf(package));  // nothing left to resume
            }
            return {id, ProductOutcome::kFailed, fetched.transfer.detail,
                    FailureCause::ofTransport(fetched.transfer.detail, false)};
        case FetchOutcome::kStopped:
            ProgressReporter::reportDownloadStopped(id, File(localFileOf(package)).length(),
                                                    package.size);
            return {id, ProductOutcome::kStopped, String(), {"stopped"}};
        case FetchOutcome::kOverBudget:
            // What arrived stays for a resume on a later day.
            overBudget_ = true;
            return {id,
                    ProductOutcome::kHeldBack,
                    "daily byte budget reached",
                    {"budget", String(), "daily byte budget reached"}};
        case FetchOutcome::kTransferFailed:
            break;
    }
    return failed(fetched, package, policy);
}

// A refused answer (a coded body, a refused redirect) refuses the package;
// otherwise no server delivered it.
ProductResult PackageDownload::failed(const FetchResult& fetched, const LmPackageInfo& package,
                                      PackagePolicy& policy) {
    int32_t id = package.product.id;
    const TransferResult& transfer = fetched.transfer;
    if (transfer.outcome == TransferOutcome::kRefused) {
        policy.refuse(package, localFileOf(package), transfer.detail);
        return {id, ProductOutcome::kRefused, transfer.detail,
                FailureCause::ofRefusal(transfer.detail)};
    }
    logError("LmUpdate: downloading file failed: " + URL::masked(package.url));
    reportError("EC_LMUPDATE_UPDATE_ERROR");
    policy.discard(package, localFileOf(package));
    if (isGone(transfer)) {
        recordFailure(package, "HTTP " + decimalText(transfer.status));
    }
    FailureCause cause = transfer.status >= 400 ? FailureCause::ofStatus(transfer.status)
                                                : FailureCause::ofTransport(transfer.detail, false);
    return {id, ProductOutcome::kFailed, "no server delivered it", cause};
}

// Reported like the failure it repeats, so the run ends as that one did.
ProductResult PackageDownload::skipped(const LmPackageInfo& package,
                                       const FailedPackages::Entry& earlier) {
    logWarning("LmUpdate: package skipped until " + utcTimestamp(earlier.until) + ": " +
               URL::masked(package.url) + ": " + earlier.reason);
    reportError("EC_LMUPDATE_UPDATE_ERROR");
    return {package.product.id, ProductOutcome::kSkipped, "failed earlier: " + earlier.reason,
            FailureCause::ofEarlierFailure(earlier.reason)};
}
