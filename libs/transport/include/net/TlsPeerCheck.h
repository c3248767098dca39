#pragma once

#include <openssl/ssl.h>

#include "String.h"
#include "net/TlsVerification.h"

// How one TLS session checks its server: the trusted certificates, the name
// sent for SNI and the host name or address the certificate must carry.
class TlsPeerCheck {
public:
    // host: the server as addressed (a name, a dotted IPv4 address or an
    // IPv6 literal, bracketed or not), never a proxy's.
    TlsPeerCheck(const TlsVerification& verification, const String& host);

    bool isOn() const { return verification_.isOn(); }
    const String& getHost() const { return host_; }
    // Loads the trusted certificates into context and asks for the peer's
    // verification; raises SSLException with the reason when they cannot
    // be read or the verification setting is refused.
    void configureContext(SSL_CTX* context, SSL_verify_cb callback) const;
    // Sends the host name in SNI (never an address) and sets the name or
    // address check.
    void configureSession(SSL* ssl) const;
    // Why the handshake's verification failed; empty when it did not.
    String failureReason(const SSL* ssl) const;

    // A dotted IPv4 or an IPv6 address (brackets allowed).
    static bool isIpLiteral(const String& host);

private:
    void loadTrust(SSL_CTX* context) const;
    [[noreturn]] void failToRead(const String& why, int line) const;

    TlsVerification verification_;
    String host_;  // brackets removed
};
