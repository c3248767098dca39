#include "RSAUtil.h"

#include <openssl/decoder.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

#include "Log.h"

namespace {
constexpr char kCertificateMarker[] = "-----BEGIN CERTIFICATE-----";
constexpr char kRsaPublicKeyMarker[] = "-----BEGIN RSA PUBLIC KEY-----";
constexpr char kPublicKeyMarker[] = "-----BEGIN PUBLIC KEY-----";
constexpr size_t kMarkerProbe = 64;
constexpr int kPkcs1Overhead = 11;

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// The raw RSA operations in the order of RSAUtil::Operation: private-key
// encryption is a signature without digest, public-key decryption its
// recovery.
struct Step {
    int (*init)(EVP_PKEY_CTX*);
    int (*run)(EVP_PKEY_CTX*, unsigned char*, size_t*, const unsigned char*, size_t);
};
constexpr Step kSteps[] = {
    {EVP_PKEY_encrypt_init, EVP_PKEY_encrypt},
    {EVP_PKEY_decrypt_init, EVP_PKEY_decrypt},
    {EVP_PKEY_sign_init, EVP_PKEY_sign},
    {EVP_PKEY_verify_recover_init, EVP_PKEY_verify_recover},
};

struct ContextDeleter {
    void operator()(EVP_PKEY_CTX* context) const { EVP_PKEY_CTX_free(context); }
};

FilePtr openForReading(const String& path) {
    return FilePtr(path.isEmpty() ? nullptr : std::fopen(path.c_str(), "re"));
}

// OpenSSL's error queue to standard error, its first reason to the log.
void reportError() {
    unsigned long code = ERR_peek_error();
    const char* reason = ERR_reason_error_string(code);
    ERR_print_errors_fp(stderr);
    Log::getInstance().log(reason != nullptr ? reason : "unknown RSA error", Log::kDebug);
}

// Refuses to prompt on the terminal when a key needs a pass phrase and none
// was given.
int noPassPhrase(char*, int, int, void*) {
    return 0;
}

bool isRsa(EVP_PKEY* key) {
    return key != nullptr && EVP_PKEY_is_a(key, "RSA");
}

// A PKCS #1 "RSA PUBLIC KEY".
EVP_PKEY* readRsaPublicKey(FILE* file) {
    EVP_PKEY* key = nullptr;
    OSSL_DECODER_CTX* decoder = OSSL_DECODER_CTX_new_for_pkey(
        &key, "PEM", "type-specific", "RSA", EVP_PKEY_PUBLIC_KEY, nullptr, nullptr);
    if (decoder == nullptr) {
        return nullptr;
    }
    if (!OSSL_DECODER_from_fp(decoder, file)) {
        EVP_PKEY_free(key);
        key = nullptr;
    }
    OSSL_DECODER_CTX_free(decoder);
    return key;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    c = static_cast<char>(c | 0x20);
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// Two digits per byte; false on a character that is no hex digit.
bool fromHex(const String& hex, std::vector<unsigned char>& bytes) {
    for (int i = 0; i + 1 < hex.length(); i += 2) {
        int high = hexDigit(hex.charAt(i));
        int low = hexDigit(hex.charAt(i + 1));
        if (high < 0 || low < 0) {
            return false;
        }
        bytes.push_back(static_cast<unsigned char>(high << 4 | low));
    }
    return true;
}

String toHex(const unsigned char* bytes, size_t length) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    String text;
    for (size_t i = 0; i < length; ++i) {
        text += kHex[bytes[i] >> 4];
        text += kHex[bytes[i] & 0x0F];
    }
    return text;
}
}  // namespace

void RSAUtil::KeyDeleter::operator()(evp_pkey_st* key) const {
    EVP_PKEY_free(key);
}

void RSAUtil::CertificateDeleter::operator()(x509_st* certificate) const {
    X509_free(certificate);
}

RSAUtil::RSAUtil(const String& privateKeyFile, const String& publicKeyFile,
                 const String& passPhrase, bool raw)
    : padding_(raw ? RSA_NO_PADDING : RSA_PKCS1_PADDING) {
    loadPrivateKey(privateKeyFile, passPhrase);
    loadPublicKey(publicKeyFile);
}

RSAUtil::~RSAUtil() = default;

void RSAUtil::loadPrivateKey(const String& path, const String& passPhrase) {
    FilePtr file = openForReading(path);
    if (!file) {
        return;
    }
    void* phrase = passPhrase.isEmpty() ? nullptr : const_cast<char*>(passPhrase.c_str());
    Key key(PEM_read_PrivateKey(file.get(), nullptr, phrase ? nullptr : noPassPhrase, phrase));
    if (!isRsa(key.get())) {
        reportError();
        return;
    }
    privateKey_ = std::move(key);
}

void RSAUtil::loadPublicKey(const String& path) {
    FilePtr file = openForReading(path);
    if (!file) {
        return;
    }
    char start[kMarkerProbe + 1] = {};
    size_t n = std::fread(start, 1, kMarkerProbe, file.get());
    std::rewind(file.get());
    std::string_view head(start, n);
    Key key;
    if (head.starts_with(kCertificateMarker)) {
        certificate_.reset(PEM_read_X509(file.get(), nullptr, nullptr, nullptr));
        if (!certificate_) {
            reportError();
            return;
        }
        key.reset(X509_get_pubkey(certificate_.get()));
    } else if (head.starts_with(kRsaPublicKeyMarker)) {
        key.reset(readRsaPublicKey(file.get()));
    } else if (head.starts_with(kPublicKeyMarker)) {
        key.reset(PEM_read_PUBKEY(file.get(), nullptr, nullptr, nullptr));
    } else {
        return;
    }
    if (!isRsa(key.get())) {
        reportError();
        return;
    }
    publicKey_ = std::move(key);
}

int RSAUtil::apply(EVP_PKEY* key, Operation operation, const unsigned char* in, int length,
                   unsigned char* out) {
    std::unique_ptr<EVP_PKEY_CTX, ContextDeleter> context(EVP_PKEY_CTX_new(key, nullptr));
    if (!context) {
        return -1;
    }
    EVP_PKEY_CTX* ctx = context.get();
    const Step& step = kSteps[static_cast<int>(operation)];
    size_t outLength = static_cast<size_t>(EVP_PKEY_get_size(key));
    bool ok = step.init(ctx) > 0 && EVP_PKEY_CTX_set_rsa_padding(ctx, padding_) > 0 &&
              step.run(ctx, out, &outLength, in, static_cast<size_t>(length)) > 0;
    return ok ? static_cast<int>(outLength) : -1;
}

String RSAUtil::encrypt(EVP_PKEY* key, Operation operation, const unsigned char* bytes,
                        int length) {
    if (key == nullptr || length < 0 || (bytes == nullptr && length > 0)) {
        return String();
    }
    int size = EVP_PKEY_get_size(key);
    bool padded = padding_ == RSA_PKCS1_PADDING;
    if (length > size || (padded && length > size - kPkcs1Overhead)) {
        return String();
    }
    std::vector<unsigned char> block(static_cast<size_t>(size));
    if (length > 0) {
        std::memcpy(block.data(), bytes, static_cast<size_t>(length));
    }
    int inLength = length;
    if (!padded && length < size) {
        // Raw RSA works on whole blocks: fill up with random bytes.
        if (RAND_bytes(block.data() + length, size - length) != 1) {
            reportError();
            return String();
        }
        inLength = size;
    }
    std::vector<unsigned char> out(static_cast<size_t>(size));
    int n = apply(key, operation, block.data(), inLength, out.data());
    if (n < 1) {
        reportError();
        return String();
    }
    return toHex(out.data(), static_cast<size_t>(n));
}

int RSAUtil::decrypt(EVP_PKEY* key, Operation operation, const String& hex, unsigned char* out,
                     int size) {
    std::vector<unsigned char> bytes;
    if (!fromHex(hex, bytes)) {
        return -1;
    }
    if (key == nullptr) {
        return 0;
    }
    std::vector<unsigned char> plain(static_cast<size_t>(EVP_PKEY_get_size(key)));
    int n = apply(key, operation, bytes.data(), static_cast<int>(bytes.size()), plain.data());
    if (n < 1) {
        reportError();
        return n;
    }
    int copied = std::min(n, size);
    if (copied > 0) {
        std::memcpy(out, plain.data(), static_cast<size_t>(copied));
    }
    return copied;
}

String RSAUtil::publicEncrypt(const unsigned char* bytes, int length) {
    return encrypt(publicKey_.get(), Operation::kEncrypt, bytes, length);
}

String RSAUtil::privateEncrypt(const unsigned char* bytes, int length) {
    return encrypt(privateKey_.get(), Operation::kSign, bytes, length);
}

int RSAUtil::publicDecrypt(const String& hex, unsigned char* out, int size) {
    return decrypt(publicKey_.get(), Operation::kRecover, hex, out, size);
}

int RSAUtil::privateDecrypt(const String& hex, unsigned char* out, int size) {
    return decrypt(privateKey_.get(), Operation::kDecrypt, hex, out, size);
}
