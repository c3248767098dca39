#pragma once

#include "net/HttpConnection.h"

// The HTTP exchange over TLS; through a proxy it tunnels with CONNECT.
class HttpsConnection : public HttpConnection {
public:
    HttpsConnection() { setTunnel(true); }
    ~HttpsConnection() override = default;

    // Connects (directly or through the tunnel) and runs the TLS handshake.
    // Raises socket and TLS exceptions, and IOException "EC_PROXY_FAILED:
    // http tunnel failed" when the proxy refuses the tunnel.
    void open() override;

    // Trusted certificates for peer verification. A file turns verification
    // on for the handshake (the directory may be empty).
    bool setVerification(const String& directory, const String& file);

private:
    String verifyDirectory_;
    String verifyFile_;
};
