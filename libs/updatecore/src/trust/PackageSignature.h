#pragma once

#include <openssl/evp.h>

#include <memory>

#include "String.h"

// The fields of a package that its signature covers, as received.
struct SignedPackageFields {
    String productId;  // decimal, as parsed
    String version;    // the four numbers joined by ".", or ExtVersionInfo's text
    String format;
    String installScript;
    String installPath;
    String sha256;  // 64 hex digits, either case
};

// The vendor's package signing key (conf/lm-signing-key.pem, a public key)
// and the checks it makes: RSA of at least 2048 bits with PKCS#1 v1.5 and
// SHA-256, ECDSA on P-256 with SHA-256 (DER signatures), or pure Ed25519.
class PackageSignature {
public:
    // Reads the key at path; a key that cannot be read or parsed, or of
    // another type or size, raises Exception "LmUpdate: signing key unusable:
    // PATH: REASON".
    explicit PackageSignature(const String& path);

    // "lmupdate-package-v1\n" and each field on a line of its own, the
    // digest in lower case.
    static String signedText(const SignedPackageFields& fields);
    // Whether signature (standard Base64 with padding) signs the fields.
    bool verify(const SignedPackageFields& fields, const String& signature) const;

    // Whether text is 64 hex digits.
    static bool isSha256Text(const String& text);
    // The file's SHA-256 in lower-case hex; raises IOException when it
    // cannot be read.
    static String fileSha256(const String& path);

private:
    struct KeyDeleter {
        void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
    };
    [[noreturn]] void unusable(const String& reason) const;
    // Whether the key signs without a digest; raises for unusable keys.
    bool checkKind() const;

    String path_;
    std::unique_ptr<EVP_PKEY, KeyDeleter> key_;
    bool digestless_ = false;  // Ed25519 signs the text itself
};
