#include "session/VerifiedHttpsConnection.h"

#include <cstdio>

#include "SystemLog.h"
#include "net/SSLException.h"

namespace {
constexpr int kDefaultHttpsPort = 443;
}  // namespace

TlsVerification VerifiedHttpsConnection::verificationFor(const CertLocation& location) {
    switch (location.mode) {
        case CertLocation::Mode::kPath:
            return TlsVerification::at(location.file);
        case CertLocation::Mode::kNone:
            return TlsVerification::off();
        case CertLocation::Mode::kInvalid:
            return TlsVerification::refused("invalid ssl.verify value: '" + location.invalidValue +
                                            "'");
        case CertLocation::Mode::kSystem:
            break;
    }
    return TlsVerification::system();
}

VerifiedHttpsConnection::VerifiedHttpsConnection(const CertLocation& location) {
    setVerification(verificationFor(location));
}

String VerifiedHttpsConnection::serverText() const {
    if (!serverEntry_.isEmpty()) {
        return serverEntry_;
    }
    int port = targetPort() > 0 ? targetPort() : kDefaultHttpsPort;
    return targetHost() + ":" + String().append(port);
}

void VerifiedHttpsConnection::open() {
    if (!getVerification().isOn()) {
        SystemLog::write(
            "LmUpdate: TLS verification is off for " + serverText() + " (ssl.verify none)",
            LogPriority::kWarning);
    }
    try {
        HttpsConnection::open();
    } catch (const SSLException& e) {
        if (!e.getVerifyReason().isEmpty()) {
            String line = "LmUpdate: cannot verify update server " + serverText() + ": " +
                          e.getVerifyReason() + "\n";
            std::fwrite(line.data(), 1, static_cast<size_t>(line.length()), stderr);
            std::fflush(stderr);
        }
        throw;
    }
}
