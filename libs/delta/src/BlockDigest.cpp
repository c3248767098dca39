#include "BlockDigest.h"

#include <cstring>

#include "Exception.h"

namespace {
const char kSource[] = "delta/BlockDigest";
}  // namespace

BlockDigest::BlockDigest()
    : md_(EVP_MD_fetch(nullptr, "SHA256", nullptr)), running_(EVP_MD_CTX_new()) {
    if (!md_ || !running_ || EVP_DigestInit_ex2(running_.get(), md_.get(), nullptr) != 1) {
        fail(__LINE__);
    }
}

void BlockDigest::fail(int line) {
    throw IOException("SHA-256 unavailable", kSource, line);
}

BlockDigest::Strong BlockDigest::strong(const uint8_t* data, size_t length) const {
    unsigned char digest[EVP_MAX_MD_SIZE];
    if (EVP_Digest(data, length, digest, nullptr, md_.get(), nullptr) != 1) {
        fail(__LINE__);
    }
    Strong sum;
    std::memcpy(sum.data(), digest, sum.size());
    return sum;
}

void BlockDigest::add(const uint8_t* data, size_t length) {
    if (EVP_DigestUpdate(running_.get(), data, length) != 1) {
        fail(__LINE__);
    }
}

std::array<uint8_t, 32> BlockDigest::finish() {
    std::array<uint8_t, 32> digest{};
    unsigned length = 0;
    if (EVP_DigestFinal_ex(running_.get(), digest.data(), &length) != 1 || length != 32 ||
        EVP_DigestInit_ex2(running_.get(), md_.get(), nullptr) != 1) {
        fail(__LINE__);
    }
    return digest;
}
