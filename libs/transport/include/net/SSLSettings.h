#pragma once

#include "String.h"

// The process-wide TLS settings, read at every handshake. Configure them
// before any TLS connection is made; nothing here is locked.
class SSLSettings {
public:
    enum Version { kNegotiate = 0, kTLSv1 = 1, kSSLv2 = 2, kSSLv3 = 3 };
    enum HostCheck { kNoCheck = 0, kCheckOnly = 1, kRequireMatch = 2 };

    static void setVersion(int version);
    static void setVerifyPeer(bool verify);
    static void setHostCheck(int check);
    // Stores both and turns peer verification on.
    static void setVerifyLocations(const String& directory, const String& file);
    static void setKeyPassword(const String& password);
    // Type "DER", "ENG", anything else (ignoring case) is PEM. An empty key
    // file means the key is in the certificate file.
    static void setPrivateKey(const String& file, const String& type);
    static void setCertificate(const String& file, const String& type);
    static void setCipherList(const String& ciphers);
    // Back to the defaults of program start.
    static void reset();

    static int getVersion();
    static bool getVerifyPeer();
    static int getHostCheck();
    static const String& getVerifyDirectory();
    static const String& getVerifyFile();
    static const String& getKeyPassword();
    static const String& getKeyFile();
    static const String& getKeyType();
    static const String& getCertificateFile();
    static const String& getCertificateType();
    static const String& getCipherList();
};
