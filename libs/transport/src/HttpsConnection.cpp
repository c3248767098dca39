#include "net/HttpsConnection.h"

#include "net/SSLClientSocket.h"

namespace {
constexpr const char kSource[] = "net/HttpsConnection";
}  // namespace

void HttpsConnection::open() {
    auto* socket = static_cast<SSLClientSocket*>(
        installSocket(std::make_unique<SSLClientSocket>(connectHost().c_str(), connectPort())));
    socket->setVerification(verification_);
    socket->setServerName(targetHost());
    socket->open();
    if (usesProxy() && !setUpTunnel()) {
        throw IOException("EC_PROXY_FAILED: http tunnel failed", kSource, __LINE__);
    }
    socket->handshake();
    updateConnected();
}
