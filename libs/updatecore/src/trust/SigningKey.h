#pragma once

#include <memory>

#include "LmPackageInfo.h"
#include "String.h"
#include "trust/PackageSignature.h"

// The vendor's key that package signatures are checked with, where
// SigningKeyLocation finds it: the installation root's, else the system's.
// Whoever could replace the key could sign packages, so its file and every
// directory above it must keep the path rule (PathTrust); a key that breaks
// it is not read.
class SigningKey {
public:
    // The configured key, read once; which one (or that there is none)
    // goes to the log.
    SigningKey();
    // The key at path, none when there is no file there (tests).
    explicit SigningKey(const String& path);

    // A key file is there: every package must be signed with it.
    bool configured() const { return !path_.isEmpty(); }
    // The configured key was read and can check signatures.
    bool usable() const { return key_ != nullptr; }
    // Whether signature (Base64) signs fields; false when the key is unusable.
    bool verify(const SignedPackageFields& fields, const String& signature) const;
    // Why a configured key cannot be used (shown when found), "" when it can.
    const String& problem() const { return problem_; }

    // "PATH: REASON" when the configured key's file or a directory above it
    // breaks the path rule, else "". Either path may be given.
    static String unsafePath(const String& keyPath);
    // unsafePath of the configured key, shown as "LmUpdate: unsafe path:
    // PATH: REASON": true when the key must not be used, so that an update
    // run refuses before it fetches anything.
    static bool refusedPath();
    // Without a configured key, shows that package is installed unchecked;
    // called as each package's installation starts.
    static void warnIfUnchecked(const LmPackageInfo& package);

private:
    void load();

    String path_;
    std::unique_ptr<PackageSignature> key_;
    String problem_;
};
