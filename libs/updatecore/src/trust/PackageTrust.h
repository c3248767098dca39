#pragma once

#include <memory>

#include "LmPackageInfo.h"
#include "String.h"
#include "trust/PackageSignature.h"

// What a run trusts a package by: with the vendor's signing key
// (conf/lm-signing-key.pem) present, a valid signature over the package's
// metadata and a matching SHA-256; without it, a SHA-256 when one is given.
// Each check gives the reason a package is refused, or "" to go on.
class PackageTrust {
public:
    // The key below the installation root; read once.
    PackageTrust();
    // The key at keyPath (tests).
    explicit PackageTrust(const String& keyPath);

    // Before the download: a usable version and file name, and, with a key,
    // the signature over the metadata.
    String metadataProblem(const LmPackageInfo& package) const;
    // After the download: the file's SHA-256 against the announced one;
    // streamedSha256, when not empty, is the file's, computed as it arrived.
    String fileProblem(const LmPackageInfo& package, const String& localFile,
                       const String& streamedSha256 = String()) const;

    // The fields a package's signature covers.
    static SignedPackageFields signedFields(const LmPackageInfo& package);
    // Whether a version text can name a download directory (its dots
    // become underscores there).
    static bool isUsableVersion(const String& version);
    // Whether a file name stays inside its package directory.
    static bool isUsableFileName(const String& name);

private:
    void load(const String& keyPath);
    String signatureProblem(const LmPackageInfo& package) const;

    std::unique_ptr<PackageSignature> key_;
    bool keyPresent_ = false;
    String keyProblem_;  // the key exists but cannot be used
};
