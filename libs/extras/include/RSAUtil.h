#pragma once

#include <memory>

#include "String.h"

struct evp_pkey_st;
struct x509_st;

// RSA keys from PEM files, encrypting and decrypting short blocks with the
// ciphertext as upper-case hex text. Never raises: OpenSSL failures go to
// standard error and to the process log at level 3, and the operations give
// an empty text or a count of 0 or less.
class RSAUtil {
public:
    // privateKeyFile: a PEM private key, encrypted with passPhrase unless it
    // is empty. publicKeyFile: a PEM certificate, "RSA PUBLIC KEY" or
    // "PUBLIC KEY", chosen by its leading marker. Files that cannot be
    // opened are skipped. raw: no padding instead of PKCS #1 v1.5.
    RSAUtil(const String& privateKeyFile, const String& publicKeyFile, const String& passPhrase,
            bool raw);
    RSAUtil(const RSAUtil&) = delete;
    RSAUtil& operator=(const RSAUtil&) = delete;
    ~RSAUtil();

    bool hasPrivateKey() const { return privateKey_ != nullptr; }
    bool hasPublicKey() const { return publicKey_ != nullptr; }

    // At most the key size (less 11 with PKCS #1 padding) bytes; in raw mode
    // a shorter input is filled up with random bytes to the key size.
    String publicEncrypt(const unsigned char* bytes, int length);
    String privateEncrypt(const unsigned char* bytes, int length);
    // The number of plaintext bytes copied into out (at most size), or 0
    // or less on failure.
    int publicDecrypt(const String& hex, unsigned char* out, int size);
    int privateDecrypt(const String& hex, unsigned char* out, int size);

private:
    struct KeyDeleter {
        void operator()(evp_pkey_st* key) const;
    };
    struct CertificateDeleter {
        void operator()(x509_st* certificate) const;
    };
    using Key = std::unique_ptr<evp_pkey_st, KeyDeleter>;

    void loadPrivateKey(const String& path, const String& passPhrase);
    void loadPublicKey(const String& path);
    enum class Operation { kEncrypt, kDecrypt, kSign, kRecover };
    // One raw RSA operation of key; the output length, or 0 or less.
    int apply(evp_pkey_st* key, Operation operation, const unsigned char* in, int length,
              unsigned char* out);
    String encrypt(evp_pkey_st* key, Operation operation, const unsigned char* bytes, int length);
    int decrypt(evp_pkey_st* key, Operation operation, const String& hex, unsigned char* out,
                int size);

    Key privateKey_;
    Key publicKey_;
    std::unique_ptr<x509_st, CertificateDeleter> certificate_;
    int padding_;
};
