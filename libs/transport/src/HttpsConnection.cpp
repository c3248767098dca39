#include "net/HttpsConnection.h"

#include "net/SSLClientSocket.h"

namespace {
constexpr const char kSource[] = "net/HttpsConnection";
}  // namespace

bool HttpsConnection::setVerification(const String& directory, const String& file) {
    verifyDirectory_ = directory;
    verifyFile_ = file;
    return true;
}

void HttpsConnection::open() {
    auto* socket = static_cast<SSLClientSocket*>(
        installSocket(std::make_unique<SSLClientSocket>(connectHost().c_str(), connectPort())));
    // An administrator who configured a server certificate wants it checked.
    if (!verifyFile_.isEmpty()) {
        socket->setVerifyLocations(verifyDirectory_.c_str(), verifyFile_.c_str());
    }
    socket->open();
    if (usesProxy() && !setUpTunnel()) {
        throw IOException("EC_PROXY_FAILED: http tunnel failed", kSource, __LINE__);
    }
    socket->handshake();
    updateConnected();
}
