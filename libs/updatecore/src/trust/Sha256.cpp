#include "trust/Sha256.h"

#include "Exception.h"

Sha256::Sha256() : context_(EVP_MD_CTX_new()) {
    if (!context_ || EVP_DigestInit_ex(context_.get(), EVP_sha256(), nullptr) != 1) {
        throw IOException("SHA-256 unavailable", "Sha256", __LINE__);
    }
}

void Sha256::update(const char* bytes, size_t length) {
    EVP_DigestUpdate(context_.get(), bytes, length);
}

String Sha256::finalHex() {
    static const char kDigits[] = "0123456789abcdef";
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned length = 0;
    EVP_DigestFinal_ex(context_.get(), digest, &length);
    String text;
    for (unsigned i = 0; i < length; ++i) {
        text.append(kDigits[digest[i] >> 4]).append(kDigits[digest[i] & 0x0f]);
    }
    return text;
}
