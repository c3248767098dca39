#include "download/PackageDownload.h"

#include "FileNameRule.h"
#include "InstallRoot.h"
#include "LmUpdateParser.h"
#include "MD5.h"
#include "StopSignals.h"
#include "Utils.h"
#include "install/DiskSpace.h"
#include "io/File.h"
#include "io/FileInputStream.h"
#include "report/ProgressReporter.h"
#include "report/Report.h"
#include "state/LmUpdateStore.h"
#include "state/PartialFiles.h"
#include "trust/PackageRefusal.h"
#include "trust/StreamingDigest.h"

namespace {

String productDirectory(const String& downloadDir, long id) {
    return downloadDir + "/" + decimalText(id);
}

// The deferred packages, or an empty list when they cannot be read.
Vector<LmPackageInfo> readDelayedPackages() {
    Vector<LmPackageInfo> delayed;
    try {
        LmUpdateParser parser;
        FileInputStream in(installPath(kDelayPackagesFile));
        parser.parse(in);
        parser.readPackageInfoList(delayed, false);
    } catch (const Exception& e) {
        log("LmUpdate: get packages info failed before downloading package file: " +
            e.getMessage());
        delayed.removeAll();
    }
    return delayed;
}

// What a resume would keep of the file.
int64_t storedBytes(const String& localFile) {
    int64_t length = File(localFile).length();
    return length > 0 ? length : 0;
}

bool isDelayed(const LmPackageInfo& package) {
    Vector<LmPackageInfo> delayed = readDelayedPackages();
    for (int i = 0; i < delayed.size(); ++i) {
        if (delayed[i].url == package.url && delayed[i].md5 == package.md5) {
            return true;
        }
    }
    return false;
}

// A package download: pacing and resume records of the session, progress
// by product id; a refused answer sends it to the next server.
DownloadPolicy packagePolicy(long id) {
    ExchangePolicy exchange;
    exchange.failureLog = ExchangePolicy::FailureLog::kMessage;
    exchange.reportErrorName = true;
    exchange.afterFailure = ExchangePolicy::AfterFailure::kResult;
    exchange.failureResult = FileDownload::kBrokeOff;
    exchange.exhausted = ResultCode::kFailed;
    return DownloadPolicy{
        exchange,
        false,
        true,
        false,
        ResultCode::kFailed,
        [id](int32_t size) { ProgressReporter::reportDownloadStart(id, size); },
        [id](int32_t received, int32_t size) {
            ProgressReporter::reportDownloadProgress(id, received, size);
        },
    };
}

String readDigest(const String& path) {
    String digest;
    if (MD5::fileDigest(path, digest)) {
        return digest.toLowerCase();
    }
    return String();
}

}  // namespace

String PackageDownload::packageDirectory(const String& downloadDir, const LmPackageInfo& package) {
    return productDirectory(downloadDir, package.product.id) + "/" +
           replaceAll(package.version.version, '.', '_');
}

String PackageDownload::packageFileName(const String& url) {
    int slash = url.lastIndexOf('/');
    return slash < 0 ? url : url.substring(slash + 1);
}

String PackageDownload::refusalOf(const LmPackageInfo& package) {
    if (!package.isUsable()) {
        return package.refusal;
    }
    String reason = unsafeFileNameReason(package.version.version);
    if (!reason.isEmpty()) {
        return "version: " + reason;
    }
    reason = unsafeFileNameReason(packageFileName(package.url));
    return reason.isEmpty() ? reason : "file name: " + reason;
}

// The digest made while the file arrived when it covers the file, else the
// file read again (a file already whole before this run, or a firmware file).
String PackageDownload::loggedDigest(const String& path, StreamingDigest* streamed) {
    log("LmUpdate: checking md5");
    int64_t length = File(path).length();
    String digest = streamed != nullptr && length >= 0
                        ? streamed->finish(static_cast<int32_t>(length))
                        : String();
    if (digest.isEmpty()) {
        digest = readDigest(path);
    }
    log("LmUpdate: md5: " + digest);
    return digest;
}

void PackageDownload::markDownloaded(LmPackageInfo& package) {
    LmProduct installed;
    if (LmUpdateStore::instance().findProduct(package.product.id, installed)) {
        package.product.installPath = installed.info.installPath;
    }
    package.downloadResult = 1;
}

int PackageDownload::run() {
    log("Start to download and install your updates");
    int good = 0;
    for (int i = 0; i < state_.packages.size() && !StopSignals::requested(); ++i) {
        if (downloadPackage(state_.packages[i])) {
            ++good;
        }
    }
    if (StopSignals::requested()) {
        // Nothing of this run is installed; kept files resume next time.
        log("LmUpdate: update stopped by signal " + decimalText(StopSignals::signalNumber()));
        reportError("EC_LMUPDATE_UPDATE_ERROR");
        return 0;
    }
    return good;
}

int PackageDownload::downloadFile(DownloadTarget target, String& refusal) {
    target.digest = &digest_;
    DownloadPolicy policy = packagePolicy(target.id);
    FileDownload download(state_, policy, target);
    int result = download.run();
    refusal = download.refusal();
    return result;
}

bool PackageDownload::downloadPackage(LmPackageInfo& package) {
    if (isDelayed(package)) {
        log("EC_LMUPDATE_DELAY_PACKAGE");
        return false;
    }
    String problem = refusalOf(package);
    if (problem.isEmpty()) {
        problem = trust_.metadataProblem(package);
    }
    if (!problem.isEmpty()) {
        PackageRefusal::refuse(state_, package, String(), problem);
        return false;
    }
    std::optional<DirectoryHandle> handle = preparePackageDirectory(package);
    if (!handle) {
        return false;
    }
    String localFile = package.path + "/" + package.file;
    digest_.setSha256Wanted(!package.sha256.isEmpty());
    String refusal;
    int result = downloadFile(
        {package.product.id, package.product.desc, package.url, localFile, &*handle, package.size},
        refusal);
    if (result == FileDownload::kRefused) {
        PackageRefusal::refuse(state_, package, localFile, refusal);
        return false;
    }
    if (result == FileDownload::kStopped) {
        ProgressReporter::reportDownloadStopped(package.product.id, File(localFile).length(),
                                                package.size);
        return false;
    }
    if (result != FileDownload::kStored && result != FileDownload::kBrokeOff) {
        log("LmUpdate: downloading file failed: " + package.url);
        reportError("EC_LMUPDATE_UPDATE_ERROR");
        PackageRefusal::discard(state_, package, localFile);
        return false;
    }
    return acceptPackage(package, localFile);
}

// The package's directory, opened safely, with path and file set; none when
// the package is refused or skipped (logged).
std::optional<DirectoryHandle> PackageDownload::preparePackageDirectory(LmPackageInfo& package) {
    String directory = packageDirectory(state_.downloadDir, package);
    String unsafe;
    std::optional<DirectoryHandle> handle = tree_.packageDirectory(package, unsafe);
    if (!unsafe.isEmpty()) {
        // Nothing there is removed: another user could swap what is removed.
        PackageRefusal::refuseKeepingFiles(package, unsafe);
        return std::nullopt;
    }
    if (!handle) {
        log("LmUpdate: cannot create download path: " + directory);
        return std::nullopt;
    }
    package.path = directory;
    package.file = packageFileName(package.url);
    String localFile = directory + "/" + package.file;
    String problem = DownloadTree::fileProblem(*handle, package.file);
    if (problem.isEmpty()) {
        problem = DiskSpace().shortfall(directory, package.size, storedBytes(localFile));
    }
    if (!problem.isEmpty()) {
        PackageRefusal::refuse(state_, package, localFile, problem);
        return std::nullopt;
    }
    return handle;
}

bool PackageDownload::acceptPackage(LmPackageInfo& package, const String& localFile) {
    int64_t length = File(localFile).length();
    if (length < 0) {
        PackageRefusal::discard(state_, package, localFile);
        return false;
    }
    if (length != package.size) {
        return false;  // kept for a later resume
    }
    String problem = fileProblem(trust_, package, localFile, &digest_);
    if (!problem.isEmpty()) {
        PackageRefusal::refuse(state_, package, localFile, problem);
        return false;
    }
    markDownloaded(package);
    return true;
}

String PackageDownload::fileProblem(const PackageTrust& trust, const LmPackageInfo& package,
                                    const String& localFile, StreamingDigest* streamed) {
    String digest = loggedDigest(localFile, streamed);
    if (digest.isEmpty() || !digest.equalsIgnoreCase(package.md5)) {
        log("LmUpdate: invalid md5 in downloading file: " + package.url);
        return "md5 mismatch";
    }
    return trust.fileProblem(package, localFile,
                             streamed != nullptr ? streamed->sha256() : String());
}
