#pragma once

#include <cstdint>
#include <optional>

#include "LmPackageInfo.h"
#include "String.h"
#include "trust/PackageSignature.h"
#include "trust/SigningKey.h"

class StreamingDigest;

// What a run trusts a package by: numbers that fit, a version and file
// name that stay one path component, the announced MD5, and, with the
// vendor's signing key (SigningKey) present, a valid signature over the
// package's metadata and a matching SHA-256, and a package meant for the
// run that is newer than what is installed; without the key, a SHA-256
// when one is given. Each check gives the reason a package is refused, or
// "" to go on.
class PackageTrust {
public:
    // The configured key; read once.
    PackageTrust() = default;
    // The key at keyPath, none when there is no file there (tests).
    explicit PackageTrust(const String& keyPath) : key_(keyPath) {}

    // Before the download: the numbers, the version and file name, the form
    // of the SHA-256 and, with a key, the signature over the metadata.
    String metadataProblem(const LmPackageInfo& package) const;
    // After the download of the whole file: its MD5 (logged), then its
    // SHA-256. streamed, when not null, holds the digests computed while
    // the file arrived; the file is read only when they do not cover it.
    String fileProblem(const LmPackageInfo& package, const String& localFile,
                       StreamingDigest* streamed = nullptr) const;
    // With a key, a signed package must also be fresh and meant for this
    // run, or an old signed package could replace a newer one (or the same
    // one be installed again and again): its product must be the run's
    // (runProduct) or installed, and it must be newer (VersionOrder) than
    // the installed version, when there is one.
    String requestProblem(const LmPackageInfo& package, int32_t runProduct,
                          const std::optional<String>& installedVersion) const;

    // The fields a package's signature covers.
    static SignedPackageFields signedFields(const LmPackageInfo& package);
    // The package's file name: the part of its url after the last "/".
    static String fileName(const String& url);

private:
    String signatureProblem(const LmPackageInfo& package) const;
    String sha256Problem(const LmPackageInfo& package, const String& localFile,
                         const String& streamedSha256) const;

    SigningKey key_;
};
