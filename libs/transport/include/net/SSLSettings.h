#pragma once

#include "String.h"

// The process-wide TLS library settings, read at every handshake: protocol
// version, client certificate, ciphers. How each server is verified belongs
// to its connection (TlsVerification). Configure them before any TLS
// connection is made; nothing here is locked.
class SSLSettings {
public:
    enum Version { kNegotiate = 0, kTLSv1 = 1, kSSLv2 = 2, kSSLv3 = 3 };

    // kNegotiate: TLS 1.2 or newer; kTLSv1: TLS 1.0 only, for old servers.
    static void setVersion(int version);
    static void setKeyPassword(const String& password);
    // Type "DER", "ENG", anything else (ignoring case) is PEM. An empty key
    // file means the key is in the certificate file.
    static void setPrivateKey(const String& file, const String& type);
    static void setCertificate(const String& file, const String& type);
    static void setCipherList(const String& ciphers);
    // Back to the defaults of program start.
    static void reset();

    static int getVersion();
    static const String& getKeyPassword();
    static const String& getKeyFile();
    static const String& getKeyType();
    static const String& getCertificateFile();
    static const String& getCertificateType();
    static const String& getCipherList();
};
