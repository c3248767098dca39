#include "PackageDownload.h"

#include "CoreHelpers.h"
#include "DiskSpace.h"
#include "FileNameRule.h"
#include "InstallRoot.h"
#include "LmUpdateParser.h"
#include "LmUpdateStore.h"
#include "MD5.h"
#include "ProgressReporter.h"
#include "Utils.h"
#include "io/File.h"
#include "io/FileInputStream.h"

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
long storedBytes(const String& localFile) {
    long length = File(localFile).length();
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

void PackageDownload::logRefusal(const LmPackageInfo& package, const String& reason) {
    log("LmUpdate: package refused: " + package.url + ": " + reason);
}

String PackageDownload::loggedDigest(const String& path) {
    log("LmUpdate: checking md5");
    String digest;
    if (MD5::fileDigest(path, digest)) {
        digest = digest.toLowerCase();
    } else {
        digest.clear();
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
    for (int i = 0; i < state_.packages.size(); ++i) {
        if (downloadPackage(state_.packages[i])) {
            ++good;
        }
    }
    return good;
}

bool PackageDownload::downloadFile(const DownloadTarget& target) {
    DownloadPolicy policy = packagePolicy(target.id);
    int result = FileDownload(state_, policy, target).run();
    return result == FileDownload::kStored || result == FileDownload::kBrokeOff;
}

bool PackageDownload::downloadPackage(LmPackageInfo& package) {
    if (isDelayed(package)) {
        log("EC_LMUPDATE_DELAY_PACKAGE");
        return false;
    }
    String refusal = refusalOf(package);
    if (!refusal.isEmpty()) {
        refusePackage(package, refusal);
        return false;
    }
    String fileName = packageFileName(package.url);
    String directory = packageDirectory(state_.downloadDir, package);
    File dir(directory);
    if (!dir.mkdirs() && !dir.isDirectory()) {
        log("LmUpdate: cannot create download path: " + directory);
        return false;
    }
    package.path = directory;
    package.file = fileName;
    String localFile = directory + "/" + fileName;
    String noRoom = DiskSpace().shortfall(directory, package.size, storedBytes(localFile));
    if (!noRoom.isEmpty()) {
        refusePackage(package, noRoom);
        return false;
    }
    if (!downloadFile(
            {package.product.id, package.product.desc, package.url, localFile, package.size})) {
        log("LmUpdate: downloading file failed: " + package.url);
        reportError("EC_LMUPDATE_UPDATE_ERROR");
        discardDownload(package, localFile);
        return false;
    }
    return acceptPackage(package, localFile);
}

// A failed package starts from scratch next time: its product's download
// directory goes. A package of the same product accepted earlier in this run
// keeps its file for the installer, so then only the failed file goes.
void PackageDownload::discardDownload(const LmPackageInfo& failed, const String& localFile) {
    for (int i = 0; i < state_.packages.size(); ++i) {
        const LmPackageInfo& other = state_.packages[i];
        if (other.downloadResult == 1 && other.product.id == failed.product.id) {
            File file(localFile);
            if (file.isFile()) {
                file.remove();
            }
            return;
        }
    }
    File(productDirectory(state_.downloadDir, failed.product.id)).deleteRecursively();
}

void PackageDownload::refusePackage(const LmPackageInfo& package, const String& reason) {
    logRefusal(package, reason);
    reportError("EC_LMUPDATE_PACKAGE_ERROR");
    File(productDirectory(state_.downloadDir, package.product.id)).deleteRecursively();
}

bool PackageDownload::acceptPackage(LmPackageInfo& package, const String& localFile) {
    long length = File(localFile).length();
    if (length < 0) {
        discardDownload(package, localFile);
        return false;
    }
    if (length != package.size) {
        return false;  // kept for a later resume
    }
    String digest = loggedDigest(localFile);
    if (digest.isEmpty() || !digest.equalsIgnoreCase(package.md5)) {
        log("LmUpdate: invalid md5 in downloading file: " + package.url);
        log("EC_LMUPDATE_PACKAGE_ERROR");
        discardDownload(package, localFile);
        return false;
    }
    markDownloaded(package);
    return true;
}
