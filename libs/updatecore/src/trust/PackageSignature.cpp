#include "trust/PackageSignature.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "Exception.h"
#include "trust/Sha256.h"

namespace {
constexpr const char kSource[] = "PackageSignature";
constexpr int kMinRsaBits = 2048;
constexpr int kSha256HexLength = 64;

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};
struct DigestContextDeleter {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using DigestContext = std::unique_ptr<EVP_MD_CTX, DigestContextDeleter>;

String lowerCase(const String& text) {
    String lower;
    for (int i = 0; i < text.length(); ++i) {
        char c = text.charAt(i);
        lower.append(static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c));
    }
    return lower;
}

// Standard Base64 with padding: the alphabet, whole quads, "=" only at
// the end.
bool isPaddedBase64(const String& text) {
    if (text.isEmpty() || text.length() % 4 != 0) {
        return false;
    }
    int padding = text.endsWith("==") ? 2 : (text.endsWith("=") ? 1 : 0);
    for (int i = 0; i < text.length() - padding; ++i) {
        char c = text.charAt(i);
        bool alphabet = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                        (c >= '0' && c <= '9') || c == '+' || c == '/';
        if (!alphabet) {
            return false;
        }
    }
    return true;
}

// The bytes of padded Base64 text (zero bytes included).
String base64Bytes(const String& text) {
    auto bytes = std::make_unique<unsigned char[]>(static_cast<size_t>(text.length() / 4 * 3 + 1));
    int length = EVP_DecodeBlock(bytes.get(), reinterpret_cast<const unsigned char*>(text.data()),
                                 text.length());
    int padding = text.endsWith("==") ? 2 : (text.endsWith("=") ? 1 : 0);
    return length < padding ? String()
                            : String(reinterpret_cast<const char*>(bytes.get()), length - padding);
}
}  // namespace

PackageSignature::PackageSignature(const String& path) : path_(path) {
    std::unique_ptr<FILE, FileCloser> file(std::fopen(path.c_str(), "r"));
    if (!file) {
        unusable(std::strerror(errno));
    }
    key_.reset(PEM_read_PUBKEY(file.get(), nullptr, nullptr, nullptr));
    if (!key_) {
        unusable("not a PEM public key");
    }
    digestless_ = checkKind();
}

void PackageSignature::unusable(const String& reason) const {
    throw Exception("LmUpdate: signing key unusable: " + path_ + ": " + reason, kSource, __LINE__);
}

bool PackageSignature::checkKind() const {
    EVP_PKEY* key = key_.get();
    if (EVP_PKEY_is_a(key, "RSA")) {
        if (EVP_PKEY_get_bits(key) < kMinRsaBits) {
            unusable("RSA key of " + String().append(EVP_PKEY_get_bits(key)) +
                     " bits, at least 2048 needed");
        }
        return false;
    }
    if (EVP_PKEY_is_a(key, "EC")) {
        char group[64] = "";
        size_t length = 0;
        if (EVP_PKEY_get_group_name(key, group, sizeof group, &length) != 1 ||
            std::strcmp(group, "prime256v1") != 0) {
            unusable(String("EC key on curve ") + (group[0] != 0 ? group : "unknown") +
                     ", P-256 needed");
        }
        return false;
    }
    if (EVP_PKEY_is_a(key, "ED25519")) {
        return true;
    }
    unusable(String("unsupported key type ") + EVP_PKEY_get0_type_name(key));
}

String PackageSignature::signedText(const SignedPackageFields& fields) {
    return "lmupdate-package-v1\n" + fields.productId + "\n" + fields.version + "\n" +
           fields.format + "\n" + fields.installScript + "\n" + fields.installPath + "\n" +
           lowerCase(fields.sha256) + "\n";
}

bool PackageSignature::verify(const SignedPackageFields& fields, const String& signature) const {
    if (!isSha256Text(fields.sha256) || !isPaddedBase64(signature)) {
        return false;
    }
    String raw = base64Bytes(signature);
    String text = signedText(fields);
    DigestContext context(EVP_MD_CTX_new());
    bool valid = context &&
                 EVP_DigestVerifyInit(context.get(), nullptr, digestless_ ? nullptr : EVP_sha256(),
                                      nullptr, key_.get()) == 1 &&
                 EVP_DigestVerify(context.get(), reinterpret_cast<const unsigned char*>(raw.data()),
                                  static_cast<size_t>(raw.length()),
                                  reinterpret_cast<const unsigned char*>(text.data()),
                                  static_cast<size_t>(text.length())) == 1;
    ERR_clear_error();
    return valid;
}

bool PackageSignature::isSha256Text(const String& text) {
    if (text.length() != kSha256HexLength) {
        return false;
    }
    for (int i = 0; i < text.length(); ++i) {
        char c = text.charAt(i);
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) {
            return false;
        }
    }
    return true;
}

String PackageSignature::fileSha256(const String& path) {
    std::unique_ptr<FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        throw IOException(path + ": " + std::strerror(errno), kSource, __LINE__);
    }
    Sha256 digest;
    char buffer[65536];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) {
        digest.update(buffer, n);
    }
    if (std::ferror(file.get()) != 0) {
        throw IOException(path + ": read failed", kSource, __LINE__);
    }
    return digest.finalHex();
}
