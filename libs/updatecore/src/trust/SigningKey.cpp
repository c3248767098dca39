#include "trust/SigningKey.h"

#include "Exception.h"
#include "SigningKeyLocation.h"
#include "Utils.h"
#include "io/PathTrust.h"
#include "report/Report.h"

namespace {

String directoryOf(const String& path) {
    int slash = path.lastIndexOf('/');
    return slash <= 0 ? String("/") : path.substring(0, slash);
}

}  // namespace

SigningKey::SigningKey() : path_(SigningKeyLocation::path()) {
    log(configured() ? "LmUpdate: signing key: " + path_
                     : String("LmUpdate: no signing key configured"));
    load();
}

SigningKey::SigningKey(const String& path) : path_(SigningKeyLocation::choose(path, String())) {
    load();
}

void SigningKey::load() {
    if (!configured()) {
        return;
    }
    String unsafe = unsafePath(path_);
    if (!unsafe.isEmpty()) {
        problem_ = showUnsafePath(unsafe);
        return;
    }
    try {
        key_ = std::make_unique<PackageSignature>(path_);
    } catch (const Exception& e) {
        problem_ = e.getMessage();
        showError(problem_);
    }
}

bool SigningKey::verify(const SignedPackageFields& fields, const String& signature) const {
    return key_ != nullptr && key_->verify(fields, signature);
}

// The rule resolves links; the directory that holds the key's own name is
// judged as well, since whoever may write there could swap a link.
String SigningKey::unsafePath(const String& keyPath) {
    String problem = PathTrust::problem(directoryOf(keyPath));
    return problem.isEmpty() ? PathTrust::problem(keyPath) : problem;
}

bool SigningKey::refusedPath() {
    String path = SigningKeyLocation::path();
    String unsafe = path.isEmpty() ? String() : unsafePath(path);
    if (!unsafe.isEmpty()) {
        showUnsafePath(unsafe);
    }
    return !unsafe.isEmpty();
}

void SigningKey::warnIfUnchecked(const LmPackageInfo& package) {
    if (SigningKeyLocation::path().isEmpty()) {
        warn("LmUpdate: warning: installing " + decimalText(package.product.id) + " " +
             package.version.version + " without a signature check: no signing key configured");
    }
}
