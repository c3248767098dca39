#pragma once

#include "net/HttpConnection.h"
#include "net/TlsVerification.h"

// The HTTP exchange over TLS; through a proxy it tunnels with CONNECT. The
// server's certificate is checked against the request's host (never the
// proxy's), which is also sent for SNI.
class HttpsConnection : public HttpConnection {
public:
    HttpsConnection() { setTunnel(true); }
    ~HttpsConnection() override = default;

    // Connects (directly or through the tunnel) and runs the TLS handshake.
    // Raises socket and TLS exceptions, and IOException "EC_PROXY_FAILED:
    // http tunnel failed" when the proxy refuses the tunnel.
    void open() override;

    // How the server is verified; the system's trust store unless set.
    void setVerification(const TlsVerification& verification) { verification_ = verification; }
    const TlsVerification& getVerification() const { return verification_; }

private:
    TlsVerification verification_;
};
