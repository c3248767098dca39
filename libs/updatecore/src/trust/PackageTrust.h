#pragma once

#include <memory>

#include "LmPackageInfo.h"
#include "String.h"
#include "trust/PackageSignature.h"

class StreamingDigest;

// What a run trusts a package by: numbers that fit, a version and file
// name that stay one path component, the announced MD5, and, with the
// vendor's signing key (conf/lm-signing-key.pem) present, a valid signature
// over the package's metadata and a matching SHA-256; without the key, a
// SHA-256 when one is given. Each check gives the reason a package is
// refused, or "" to go on.
class PackageTrust {
public:
    // The key below the installation root; read once.
    PackageTrust();
    // The key at keyPath (tests).
    explicit PackageTrust(const String& keyPath);

    // Before the download: the numbers, the version and file name, the form
    // of the SHA-256 and, with a key, the signature over the metadata.
    String metadataProblem(const LmPackageInfo& package) const;
    // After the download of the whole file: its MD5 (logged), then its
    // SHA-256. streamed, when not null, holds the digests computed while
    // the file arrived; the file is read only when they do not cover it.
    String fileProblem(const LmPackageInfo& package, const String& localFile,
                       StreamingDigest* streamed = nullptr) const;

    // The fields a package's signature covers.
    static SignedPackageFields signedFields(const LmPackageInfo& package);
    // The package's file name: the part of its url after the last "/".
    static String fileName(const String& url);

private:
    void load(const String& keyPath);
    String signatureProblem(const LmPackageInfo& package) const;
    String sha256Problem(const LmPackageInfo& package, const String& localFile,
                         const String& streamedSha256) const;

    std::unique_ptr<PackageSignature> key_;
    bool keyPresent_ = false;
    String keyProblem_;  // the key exists but cannot be used
};
