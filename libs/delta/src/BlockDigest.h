#pragma once

#include <openssl/evp.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "delta/BlockIndex.h"

// SHA-256 from OpenSSL's fetched implementation (fetched once, not looked
// up per block): one-shot strong sums of blocks, and a running digest of a
// whole file.
class BlockDigest {
public:
    using Strong = std::array<uint8_t, BlockIndex::kStrongBytes>;

    // IOException when SHA-256 is unavailable.
    BlockDigest();

    // The first kStrongBytes of the SHA-256 of length bytes at data.
    Strong strong(const uint8_t* data, size_t length) const;
    // Adds to the running digest.
    void add(const uint8_t* data, size_t length);
    // The running digest of everything added; it starts over afterwards.
    std::array<uint8_t, 32> finish();

private:
    struct MdFree {
        void operator()(EVP_MD* md) const { EVP_MD_free(md); }
    };
    struct ContextFree {
        void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
    };
    [[noreturn]] static void fail(int line);

    std::unique_ptr<EVP_MD, MdFree> md_;
    std::unique_ptr<EVP_MD_CTX, ContextFree> running_;
};
