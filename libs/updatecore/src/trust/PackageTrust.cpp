#include "trust/PackageTrust.h"

#include "Exception.h"
#include "FileNameRule.h"
#include "MD5.h"
#include "Utils.h"
#include "VersionOrder.h"
#include "io/File.h"
#include "net/URL.h"
#include "report/Report.h"
#include "trust/StreamingDigest.h"

namespace {

// Why the package's numbers, version or file name cannot be used, or "".
String recordProblem(const LmPackageInfo& package) {
    if (!package.isUsable()) {
        return package.refusal;
    }
    String reason = unsafeFileNameReason(package.version.version);
    if (!reason.isEmpty()) {
        return "version: " + reason;
    }
    reason = unsafeFileNameReason(PackageTrust::fileName(package.url));
    return reason.isEmpty() ? reason : "file name: " + reason;
}

String readDigest(const String& path) {
    String digest;
    if (MD5::fileDigest(path, digest)) {
        return digest.toLowerCase();
    }
    return String();
}

// Lower-case hexadecimal MD5 of a file, logged ("" when unreadable):
// streamed's when it covers the whole file, else read from the file (a
// file already whole before this run).
String loggedDigest(const String& path, StreamingDigest* streamed) {
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

}  // namespace

SignedPackageFields PackageTrust::signedFields(const LmPackageInfo& package) {
    return SignedPackageFields{
        decimalText(package.product.id), package.version.version,     package.format,
        package.installScript,           package.product.installPath, package.sha256};
}

String PackageTrust::fileName(const String& url) {
    int slash = url.lastIndexOf('/');
    return slash < 0 ? url : url.substring(slash + 1);
}

String PackageTrust::metadataProblem(const LmPackageInfo& package) const {
    String problem = recordProblem(package);
    if (!problem.isEmpty()) {
        return problem;
    }
    if (!package.sha256.isEmpty() && !PackageSignature::isSha256Text(package.sha256)) {
        return "malformed sha256";
    }
    return key_.configured() ? signatureProblem(package) : String();
}

String PackageTrust::signatureProblem(const LmPackageInfo& package) const {
    if (!key_.usable()) {
        return "signing key unusable";
    }
    if (package.sha256.isEmpty()) {
        return "no sha256";
    }
    if (package.signature.isEmpty()) {
        return "no signature";
    }
    if (!key_.verify(signedFields(package), package.signature)) {
        return "bad signature";
    }
    return String();
}

String PackageTrust::requestProblem(const LmPackageInfo& package, int32_t runProduct,
                                    const std::optional<String>& installedVersion) const {
    if (!key_.configured()) {
        return String();
    }
    if (!installedVersion) {
        return package.product.id == runProduct ? String() : String("not requested");
    }
    if (!VersionOrder::isNewer(package.version.version, *installedVersion)) {
        return "not newer than the installed " + *installedVersion;
    }
    return String();
}

String PackageTrust::fileProblem(const LmPackageInfo& package, const String& localFile,
                                 StreamingDigest* streamed) const {
    String digest = loggedDigest(localFile, streamed);
    if (digest.isEmpty() || !digest.equalsIgnoreCase(package.md5)) {
        logError("LmUpdate: invalid md5 in downloading file: " + URL::masked(package.url));
        return "md5 mismatch";
    }
    return sha256Problem(package, localFile, streamed != nullptr ? streamed->sha256() : String());
}

String PackageTrust::sha256Problem(const LmPackageInfo& package, const String& localFile,
                                   const String& streamedSha256) const {
    if (package.sha256.isEmpty()) {
        return String();
    }
    String actual = streamedSha256;
    try {
        if (actual.isEmpty()) {
            actual = PackageSignature::fileSha256(localFile);
        }
    } catch (const Exception& e) {
        return "cannot read the file: " + e.getMessage();
    }
    if (!actual.equalsIgnoreCase(package.sha256)) {
        return "sha256 mismatch";
    }
    return String();
}
