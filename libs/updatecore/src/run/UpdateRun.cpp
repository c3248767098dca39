#include "run/UpdateRun.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>

#include "Exception.h"
#include "InstallRoot.h"
#include "LmUpdateCore.h"
#include "StopSignals.h"
#include "SystemLog.h"
#include "Utils.h"
#include "install/InstallArea.h"
#include "install/InstallLocks.h"
#include "install/LmUpdateInstaller.h"
#include "install/PackageWorkspace.h"
#include "install/SeedCache.h"
#include "io/AtomicFileWriter.h"
#include "io/File.h"
#include "io/FileDescriptor.h"
#include "io/FileInputStream.h"
#include "io/PathTrust.h"
#include "report/ProgressReporter.h"
#include "report/Report.h"
#include "run/DelayPackageActions.h"
#include "run/EntryGuard.h"
#include "run/LmUpdateClient.h"
#include "run/ReportedRun.h"
#include "session/ServerSession.h"
#include "state/FailedPackages.h"
#include "state/LmUpdateStore.h"
#include "state/StateFiles.h"
#include "state/WriteLock.h"
#include "trust/SigningKey.h"

using namespace ResultCode;

namespace {

constexpr const char kTempDirectory[] = "/tmp/lmupdate";

// Replaced whole, so that a failed write never leaves a half list.
void writeNewPackages(const Vector<LmPackageInfo>& packages) {
    AtomicFileWriter out(installPath(kNewPackagesFile));
    writePackageList(out, packages);
    out.commit();
}

// The list the install step reads; an earlier run's list must not be
// installed in place of one that could not be written.
void replaceNewPackages(const Vector<LmPackageInfo>& packages) {
    try {
        writeNewPackages(packages);
    } catch (const Exception& e) {
        logError("LmUpdate: cannot write " + e.getMessage());
        File(installPath(kNewPackagesFile)).remove();
    }
}

// Enters installed packages in the inventory and deferred ones in the
// deferred list; false when the inventory refused a product.
bool recordResults(const Vector<LmPackageInfo>& packages) {
    for (const LmPackageInfo& package : packages) {
        if (package.runResult == LmPackageInfo::kInstalled) {
            if (!LmUpdateStore::instance().registerPackage(package.product.id, package)) {
                return false;
            }
        } else if (package.runResult == LmPackageInfo::kDeferred) {
            addDelayPackage(package, 0);
        }
    }
    return true;
}

// A failed install script keeps its package from being fetched again at
// once; an installed package's record goes.
void recordScriptOutcomes(const LmUpdateInstaller& installer) {
    FailedPackages failures;
    for (const LmPackageInfo& package : installer.scriptFailures()) {
        failures.recordFailure(package, "install script failed", std::time(nullptr));
    }
    for (const LmPackageInfo& package : installer.getPackages()) {
        if (package.runResult == LmPackageInfo::kInstalled) {
            failures.forget(package);
        }
    }
    failures.save();
}

// --retry-now: the product's packages are fetched this run whatever failed
// before.
void forgetFailures(int32_t id) {
    FailedPackages failures;
    failures.forgetProduct(id);
    failures.save();
}

// An installer for the packages of conf/lm-newpkgs; the file is closed
// again before any install script starts.
std::unique_ptr<LmUpdateInstaller> readNewPackages() {
    FileInputStream in(installPath(kNewPackagesFile));
    return std::make_unique<LmUpdateInstaller>(in);
}

bool scriptFailed(const LmUpdateInstaller& installer, const LmPackageInfo& package) {
    for (const LmPackageInfo& failed : installer.scriptFailures()) {
        if (failed.product.id == package.product.id) {
            return true;
        }
    }
    return false;
}

ProductOutcome installOutcome(const LmPackageInfo& package) {
    switch (package.runResult) {
        case LmPackageInfo::kInstalled:
            return ProductOutcome::kInstalled;
        case LmPackageInfo::kDeferred:
            return ProductOutcome::kDeferred;
        default:
            return ProductOutcome::kFailed;
    }
}

// A stop signal during installation waits for the running script and the
// locks; then the run ends as a failed installation, unless what it
// installed is already recorded in the inventory.
int endOfInstall(int result) {
    if (!StopSignals::requested()) {
        return result;
    }
    logWarning("LmUpdate: installation stopped by signal " +
               decimalText(StopSignals::signalNumber()));
    bool recorded = result == kUpdateInstalled || result == kUpdateSelfUpdated;
    return recorded ? result : kUpdateInstallFailed;
}

// False when the download directory is the seed cache or lies in it: its
// product directories would be taken for the cache's, and the reverse.
bool apartFromSeeds(const String& downloadDir) {
    std::error_code error;
    std::filesystem::path cache = std::filesystem::weakly_canonical(
        (installPath(SeedCache::kParent) + "/" + SeedCache::kName).str(), error);
    std::filesystem::path downloads = std::filesystem::weakly_canonical(downloadDir.str(), error);
    std::filesystem::path relative = downloads.lexically_relative(cache);
    return relative.empty() || *relative.begin() == "..";
}

}  // namespace

int UpdateRun::run(int32_t id) {
    if (SigningKey::refusedPath()) {
        return refuseUnsafePath();
    }
    StopSignals stopSignals;
    if (!openTrustedPlaces()) {
        return refuseUnsafePath();
    }
    trimSeeds();
    removeStaleTemporaryFiles(std::time(nullptr));
    if (options_.retryNow) {
        forgetFailures(id);
    }
    Vector<LmPackageInfo> packages;
    std::optional<int> ended = requestAndDownload(id, packages);
    if (ended) {
        return *ended;
    }
    replaceNewPackages(packages);
    ProgressReporter::reportInstall(id);
    int result = endOfInstall(installUnderLocks(id, packages.size()));
    if (StopSignals::requested()) {
        record_.setCause({"stopped", String(), "installation stopped by a signal"});
    }
    bool installed = result == kUpdateInstalled || result == kUpdateSelfUpdated;
    return overBudget_ && installed ? kUpdateBudgetReached : result;
}

int UpdateRun::refuseUnsafePath() {
    record_.setCause({"config", String(), "a path another user could change"});
    return kUpdateUnsafePath;
}

// Whoever can rename a directory on the way to the downloads, or change
// ROOT/bin (the write lock and progress scripts), decides what runs as
// root: the run refuses before anything is fetched. The download directory
// (made when missing) and the install area are opened here and reached
// through their handles from now on.
bool UpdateRun::openTrustedPlaces() {
    try {
        for (const String& path : {options_.downloadDir, installPath("bin")}) {
            String problem = PathTrust::problem(path);
            if (!problem.isEmpty()) {
                throw UnsafePathException(problem, "UpdateRun", __LINE__);
            }
        }
        File(options_.downloadDir).mkdirs();
        downloads_.emplace(DirectoryHandle::open(options_.downloadDir));
        area_.emplace(InstallArea::open());
        return true;
    } catch (const IOException& e) {
        showUnsafePath(e.getMessage());
        return false;
    }
}

// The seed cache is held to this run's cap before anything is fetched (0
// empties it); a cache that cannot be used keeps no seeds this run.
void UpdateRun::trimSeeds() {
    if (!apartFromSeeds(options_.downloadDir)) {
        logWarning("LmUpdate: no seed kept: the download directory lies in the seed cache");
        return;
    }
    int64_t cap = int64_t{options_.seedCacheMiB} * SeedCache::kMiB;
    try {
        SeedCache::open(cap).evict(cap);
        seedCap_ = cap;
    } catch (const IOException& e) {
        logWarning("LmUpdate: no seed kept: " + e.getMessage());
    }
}

std::optional<int> UpdateRun::requestAndDownload(int32_t id, Vector<LmPackageInfo>& packages) {
    ServerSession session(options_);
    UpdateResult result;
    try {
        result = LmUpdateClient(session).update(id);
    } catch (const Exception& e) {
        logError(e.getMessage());
        record_.setBytesFetched(session.bytesFetched());
        record_.setCause(session.cause().known()
                             ? session.cause()
                             : FailureCause{"network", String(), e.getMessage()});
        return kUpdateServerFailed;
    }
    record_.setBytesFetched(session.bytesFetched());
    record_.setCause(session.cause());
    for (const ProductResult& product : result.products) {
        record_.note(product);
    }
    if (result.overBudget) {
        overBudget_ = true;
        session.reportBudgetReached();
    }
    switch (result.outcome) {
        case UpdateResult::Outcome::kUpToDate:
            record_.note({id, ProductOutcome::kUpToDate});
            return kUpdateNothing;
        case UpdateResult::Outcome::kFailed:
            if (result.products.isEmpty()) {
                record_.note({id, ProductOutcome::kFailed});
            }
            if (overBudget_) {
                return kUpdateBudgetReached;
            }
            return session.lastStatus() == 401 ? kUpdateUnauthorized : kUpdateServerFailed;
        case UpdateResult::Outcome::kDownloaded:
            break;
    }
    packages = std::move(result.packages);
    return std::nullopt;
}

int UpdateRun::installUnderLocks(int32_t id, int announced) {
    InstallLocks installLocks(area_->path(), installLockPath());
    if (!installLocks.held()) {
        record_.setCause({"lock", String(), "the install lock is held or refused"});
        return kUpdateInstallLock;
    }
    WriteLock writeLock;
    if (!writeLock.held()) {
        record_.setCause({"lock", String(), "the write lock is held"});
        return kUpdateWriteLock;
    }
    removeWorkspaceLeftovers();
    return installAndRecord(id, announced);
}

// Under the install lock no other run has a workspace: what is there was
// left by one cut off.
void UpdateRun::removeWorkspaceLeftovers() {
    try {
        if (int removed = PackageWorkspace::removeLeftovers(*area_); removed > 0) {
            log("LmUpdate: removed " + decimalText(removed) +
                " workspace(s) left by an earlier run");
        }
    } catch (const IOException& e) {
        logError("LmUpdate: " + e.getMessage());
    }
}

// Installs the packages of conf/lm-newpkgs (under both locks) and records
// the outcome.
int UpdateRun::installAndRecord(int32_t id, int announced) {
    std::unique_ptr<LmUpdateInstaller> installer;
    try {
        installer = readNewPackages();
        installer->usePlaces(std::move(*downloads_), std::move(*area_));
        if (seedCap_ > 0) {
            installer->keepSeeds(seedCap_);
        }
        int installed = installer->installAll();
        noteInstalled(*installer);
        recordScriptOutcomes(*installer);
        if (installed <= 0) {
            return kUpdateInstallFailed;
        }
    } catch (const Exception& e) {
        logError(e.getMessage());
        record_.setCause({"unpack", String(), e.getMessage()});
        return kUpdateInstallFailed;
    }
    try {
        writeNewPackages(installer->getPackages());
    } catch (const Exception&) {
        // The run's outcome does not depend on this record.
    }
    try {
        if (!recordResults(installer->getPackages())) {
            record_.setCause({"disk", String(), "the inventory refused a product"});
            return kUpdateInventory;
        }
    } catch (const Exception& e) {
        logError(e.getMessage());
        record_.setCause({"disk", String(), e.getMessage()});
        return kUpdateInventory;
    }
    log("Torvane LmUpdater sucessfully downloaded and installed " + decimalText(announced) +
        " update(s)");
    return id == kSelfProductId ? kUpdateSelfUpdated : kUpdateInstalled;
}

void UpdateRun::noteInstalled(const LmUpdateInstaller& installer) {
    for (const LmPackageInfo& package : installer.getPackages()) {
        if (package.downloadResult == LmPackageInfo::kDownloaded) {
            ProductOutcome outcome = installOutcome(package);
            FailureCause cause;
            if (outcome == ProductOutcome::kFailed) {
                cause = scriptFailed(installer, package)
                            ? FailureCause{"script", String(), "install script failed"}
                            : FailureCause{"unpack", String(), "package not installed"};
            }
            record_.setOutcome(package.product.id, outcome, cause);
        }
    }
}

DownloadOptions downloadOptions(int plainDownload, int throttleKB, int pauseSeconds,
                                const String& downloadDir) {
    DownloadOptions options;
    options.plainDownload = plainDownload == 1;
    options.throttleKB = throttleKB;
    options.pauseSeconds = pauseSeconds;
    if (!downloadDir.isEmpty() && File(downloadDir).exists()) {
        options.downloadDir = downloadDir;
    }
    return options;
}

String installLockPath() {
    return String("/tmp/") + installRoot() + "/" + "logs/install.lock";
}

int runUpdate(int32_t id, int plainDownload, int throttleKB, int pauseSeconds,
              const String& downloadDir, int seedCacheMiB, bool retryNow) {
    ReportedRun reported("update");
    DownloadOptions options = downloadOptions(plainDownload, throttleKB, pauseSeconds, downloadDir);
    options.seedCacheMiB = seedCacheMiB;
    options.retryNow = retryNow;
    UpdateRun run(std::move(options));
    int code = guarded(kUpdateInstallFailed, "", [&] { return run.run(id); });
    reported.report().take(run.record());
    return reported.end(code);
}

bool clearTempFiles() {
    File directory(kTempDirectory);
    return !directory.exists() || directory.deleteRecursively();
}

void onNetworkTimeout() {
    logError("socket connect or read or write timeout!!!");
    ReportedRun::endActive(kNetworkTimeout);
    if (!clearTempFiles()) {
        logError("failed to clear tmp files");
    }
    std::exit(kNetworkTimeout);
}
