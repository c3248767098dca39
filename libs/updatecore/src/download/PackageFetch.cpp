#include "download/PackageFetch.h"

#include <fcntl.h>

#include "Exception.h"
#include "download/DeltaSource.h"
#include "install/DiskSpace.h"
#include "install/SeedCache.h"
#include "io/File.h"
#include "net/URL.h"
#include "report/Report.h"
#include "session/ServerSession.h"
#include "state/LmUpdateStore.h"

namespace {

String localFileOf(const LmPackageInfo& package) {
    return package.path + "/" + package.file;
}

// What a resume would keep of the file.
int64_t storedBytes(const String& localFile) {
    int64_t length = File(localFile).length();
    return length > 0 ? length : 0;
}

// The product's seed, or none (the package is then downloaded whole).
FileDescriptor openSeed(int32_t id) {
    try {
        return SeedCache::open(0).openSeed(id);
    } catch (const IOException& e) {
        logWarning("LmUpdate: no seed: " + e.getMessage());
        return FileDescriptor();
    }
}

}  // namespace

PackageFetch::PackageFetch(ServerSession& session, const Vector<String>& servers)
    : session_(session), servers_(servers), tree_(session.options().downloadDir) {}

FetchResult PackageFetch::run(LmPackageInfo& package, FetchPolicy& policy) {
    restarted_ = false;
    stats_ = TransferStats();
    String problem = trust_.metadataProblem(package);
    if (problem.isEmpty()) {
        problem = policy.requestProblem(package, trust_);
    }
    if (!problem.isEmpty()) {
        return refuse(package, policy, String(), problem);
    }
    FetchResult refused(FetchOutcome::kNoDirectory);
    std::optional<DirectoryHandle> directory = prepareDirectory(package, policy, refused);
    if (!directory) {
        return refused;
    }
    return checkFile(package, policy, *directory,
                     transfer(package, policy, *directory, policy.deltaAllowed()));
}

// The package's directory, opened safely, with path and file set; none
// when the package was refused or its directory could not be made, which
// result then says.
std::optional<DirectoryHandle> PackageFetch::prepareDirectory(LmPackageInfo& package,
                                                              FetchPolicy& policy,
                                                              FetchResult& result) {
    String unsafe;
    std::optional<DirectoryHandle> directory = tree_.packageDirectory(package, unsafe);
    if (!unsafe.isEmpty()) {
        policy.refuseKeepingFiles(package, unsafe);
        result = FetchResult(FetchOutcome::kRefused, TransferResult(), unsafe);
        return std::nullopt;
    }
    if (!directory) {
        logError("LmUpdate: cannot create download path: " + tree_.packagePath(package));
        return std::nullopt;
    }
    package.path = tree_.packagePath(package);
    package.file = PackageTrust::fileName(package.url);
    String problem = DownloadTree::fileProblem(*directory, package.file);
    if (problem.isEmpty()) {
        problem = spaceProblem(package);
    }
    if (!problem.isEmpty()) {
        result = refuse(package, policy, localFileOf(package), problem);
        return std::nullopt;
    }
    return directory;
}

// Why the package does not fit on the disk, "" when it does. Seeds on the
// same file system go first, oldest first and the package's own last,
// before the check fails.
String PackageFetch::spaceProblem(const LmPackageInfo& package) {
    DiskSpace space;
    int64_t stored = storedBytes(localFileOf(package));
    uint64_t missing = space.missing(package.path, package.size, stored);
    if (missing > 0) {
        try {
            SeedCache seeds = SeedCache::open(0);
            if (seeds.sharesFileSystem(package.path)) {
                seeds.release(static_cast<int64_t>(missing), package.product.id);
            }
        } catch (const IOException& e) {
            logError("LmUpdate: " + e.getMessage());
        }
    }
    return space.shortfall(package.path, package.size, stored);
}

TransferResult PackageFetch::transfer(LmPackageInfo& package, FetchPolicy& policy,
                                      const DirectoryHandle& directory, bool delta) {
    digest_.setSha256Wanted(!package.sha256.isEmpty());
    DownloadTarget target{
        package.product.id, package.product.desc, package.url, localFileOf(package),
        &directory,         package.size,         &digest_};
    FileDescriptor seed;
    std::optional<DeltaSource> source;
    if (delta && !package.deltaIndex.isEmpty() && (seed = openSeed(package.product.id)).isOpen()) {
        source = DeltaSource{package.deltaIndex, package.sha256, seed.get()};
        target.delta = &*source;
    }
    TransferResult result = FileDownload(session_, policy, target).run(servers_);
    stats_.add(result.stats);
    return result;
}

// A file that arrived whole (or that a broken-off transfer left whole) is
// checked; a shorter one stays for a resume.
FetchResult PackageFetch::checkFile(LmPackageInfo& package, FetchPolicy& policy,
                                    const DirectoryHandle& directory,
                                    const TransferResult& transfer) {
    switch (transfer.outcome) {
        case TransferOutcome::kStored:
        case TransferOutcome::kBrokeOff:
            break;
        case TransferOutcome::kStopped:
            return FetchResult(FetchOutcome::kStopped, transfer);
        case TransferOutcome::kOverBudget:
            return FetchResult(FetchOutcome::kOverBudget, transfer);
        default:
            return FetchResult(FetchOutcome::kTransferFailed, transfer);
    }
    String localFile = localFileOf(package);
    if (File(localFile).length() != package.size) {
        return FetchResult(FetchOutcome::kIncomplete, transfer);
    }
    String problem = trust_.fileProblem(package, localFile, &digest_);
    if (!problem.isEmpty() && transfer.rebuilt) {
        // The seed or a range answer was not what the index said: the file
        // is fetched whole, once, and judged on that.
        logWarning("LmUpdate: delta " + URL::masked(package.url) + ": rebuilt file refused (" +
                   problem + "): downloading it whole");
        directory.openForWriting(package.file, O_TRUNC);
        return again(package, policy, directory, false);
    }
    if (!problem.isEmpty() && transfer.resumed && policy.restartsResumed() && !restarted_) {
        // The bytes an earlier transfer left were wrong (a file changed
        // after its record was written): once more from the start.
        restarted_ = true;
        logWarning("LmUpdate: resumed file refused (" + problem + "): downloading " +
                   URL::masked(package.url) + " again from the start");
        directory.openForWriting(package.file, O_TRUNC);
        return again(package, policy, directory, policy.deltaAllowed());
    }
    if (!problem.isEmpty()) {
        return refuse(package, policy, localFile, problem).forContent();
    }
    markDownloaded(package);
    return FetchResult(FetchOutcome::kFetched, transfer);
}

FetchResult PackageFetch::again(LmPackageInfo& package, FetchPolicy& policy,
                                const DirectoryHandle& directory, bool delta) {
    return checkFile(package, policy, directory, transfer(package, policy, directory, delta));
}

FetchResult PackageFetch::refuse(const LmPackageInfo& package, FetchPolicy& policy,
                                 const String& localFile, const String& reason) {
    policy.refuse(package, localFile, reason);
    return FetchResult(FetchOutcome::kRefused, TransferResult(), reason);
}

// The install path of the installed product goes along to the installer.
void PackageFetch::markDownloaded(LmPackageInfo& package) {
    LmProduct installed;
    if (LmUpdateStore::instance().findProduct(package.product.id, installed)) {
        package.product.installPath = installed.info.installPath;
    }
    package.downloadResult = LmPackageInfo::kDownloaded;
}
