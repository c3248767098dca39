#pragma once

#include <openssl/evp.h>

#include <cstddef>
#include <memory>

#include "String.h"

// An incremental SHA-256 over OpenSSL's EVP interface.
class Sha256 {
public:
    // Raises IOException when the digest is unavailable.
    Sha256();

    void update(const char* bytes, size_t length);
    // Lower-case hexadecimal digest of the bytes so far; the digest must
    // not be updated afterwards.
    String finalHex();

private:
    struct ContextDeleter {
        void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
    };
    std::unique_ptr<EVP_MD_CTX, ContextDeleter> context_;
};
