#include "trust/PackageTrust.h"

#include "Exception.h"
#include "FileNameRule.h"
#include "InstallRoot.h"
#include "Utils.h"
#include "download/PackageDownload.h"
#include "io/File.h"
#include "report/Report.h"

namespace {
constexpr char kSigningKeyFile[] = "conf/lm-signing-key.pem";
}  // namespace

PackageTrust::PackageTrust() {
    load(installPath(kSigningKeyFile));
}

PackageTrust::PackageTrust(const String& keyPath) {
    load(keyPath);
}

void PackageTrust::load(const String& keyPath) {
    keyPresent_ = File(keyPath).exists();
    if (!keyPresent_) {
        return;
    }
    try {
        key_ = std::make_unique<PackageSignature>(keyPath);
    } catch (const Exception& e) {
        keyProblem_ = e.getMessage();
        log(keyProblem_);
    }
}

SignedPackageFields PackageTrust::signedFields(const LmPackageInfo& package) {
    return SignedPackageFields{
        decimalText(package.product.id), package.version.version,     package.format,
        package.installScript,           package.product.installPath, package.sha256};
}

bool PackageTrust::isUsableVersion(const String& version) {
    return isSafeFileName(replaceAll(version, '.', '_'));
}

bool PackageTrust::isUsableFileName(const String& name) {
    return isSafeFileName(name);
}

String PackageTrust::metadataProblem(const LmPackageInfo& package) const {
    if (!isUsableVersion(package.version.version)) {
        return "unusable version '" + package.version.version + "'";
    }
    if (!isUsableFileName(PackageDownload::packageFileName(package.url))) {
        return "unusable file name in the url";
    }
    if (!package.sha256.isEmpty() && !PackageSignature::isSha256Text(package.sha256)) {
        return "malformed sha256";
    }
    return keyPresent_ ? signatureProblem(package) : String();
}

String PackageTrust::signatureProblem(const LmPackageInfo& package) const {
    if (key_ == nullptr) {
        return "signing key unusable";
    }
    if (package.sha256.isEmpty()) {
        return "no sha256";
    }
    if (package.signature.isEmpty()) {
        return "no signature";
    }
    if (!key_->verify(signedFields(package), package.signature)) {
        return "bad signature";
    }
    return String();
}

String PackageTrust::fileProblem(const LmPackageInfo& package, const String& localFile,
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
